// Browsers refuse to start a web worker from a page opened from disk (file://), and the search runs
// in one. On such pages this replaces Worker with the same script run in a hidden same-origin iframe:
// messages go in as "message" events on the iframe's window, and the script's postMessage comes back
// as "message" events on the object the page holds. Served pages keep the real Worker.
(function () {
  "use strict";
  if (location.protocol !== "file:" || typeof EventTarget !== "function") return;

  var workers = [];

  function FileWorker(url) {
    var target = new EventTarget();
    var frame = document.createElement("iframe");
    var pending = [];
    var loaded = false;
    var id = workers.push(target) - 1;
    var script = new URL(url, document.baseURI).href;

    target.onmessage = null;
    target.postMessage = function (data) {
      if (!loaded) { pending.push(data); return; }
      var inner = frame.contentWindow;
      inner.dispatchEvent(new inner.MessageEvent("message", { data: data }));
    };
    target.terminate = function () { frame.remove(); };
    target.addEventListener("message", function (event) {
      if (typeof target.onmessage === "function") target.onmessage(event);
    });

    frame.hidden = true;
    frame.setAttribute("aria-hidden", "true");
    frame.srcdoc =
      "<script>self.postMessage = function (data) { parent.__fileWorkers[" + id + "]" +
      ".dispatchEvent(new parent.MessageEvent('message', { data: data })); };" +
      "self.importScripts = function () { throw new Error('importScripts is not available from file://'); };" +
      "<\/script><script src=\"" + script.replace(/"/g, "&quot;") + "\"><\/script>";
    frame.addEventListener("load", function () {
      loaded = true;
      pending.splice(0).forEach(target.postMessage);
    });
    (document.body || document.documentElement).appendChild(frame);
    return target;
  }

  window.__fileWorkers = workers;
  window.Worker = FileWorker;
})();
