// velkized_ta._live: stream handles over the live kernels.
//
// A handle owns one kernel. update/peek take Python floats through METH_FASTCALL;
// update_many and the openers run the kernel over float32 buffers. A failed bar
// leaves the kernel as it was. A step may call numpy (a seed's nanmean, a root
// that warns), and so Python code: the handle is held meanwhile, and any call on
// it from that code or another thread raises instead of touching the kernel.

#include <Python.h>

#include "frame/compat.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <thread>
#include <vector>

#include "frame/fma.hpp"
#include "frame/numpy_interface.hpp"
#include "indicators/declarations.hpp"
#include "live/kernels.hpp"
#include "many/columns.hpp"

namespace velk::live {
namespace {

constexpr int kStateVersion = 3;

PyObject* numpy_module = nullptr;

// Set on run_many's worker threads, which run without the GIL: numpy is asked
// only where it can neither warn nor raise, and `needs_python` marks the rest.
struct WorkerContext {
  bool needs_python = false;
};
thread_local WorkerContext* worker = nullptr;

// ---------------------------------------------------------------- state archives

// Field by field, each scalar in its own bytes (a bool as one byte 0 or 1), so the
// bytes are a function of the state alone: no padding, no addresses.
template <class T>
constexpr bool kScalar = std::is_same_v<T, int64_t> || std::is_same_v<T, int32_t> || std::is_same_v<T, float>;

struct Writer {
  static constexpr bool kReading = false;
  std::string bytes;
  template <class T>
  void operator()(const T& v) {
    static_assert(kScalar<T>);
    bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  void operator()(const bool& v) { bytes.push_back(v ? 1 : 0); }
  void operator()(const std::vector<float>& v) {
    (*this)(static_cast<int64_t>(v.size()));
    for (const float& e : v) (*this)(e);
  }
};

struct Reader {
  static constexpr bool kReading = true;
  const char* at;
  const char* end;
  bool ok = true;
  void fail() { ok = false; }
  // Whether `count` items of `size` bytes remain, so no allocation outgrows the bytes.
  bool fits(int64_t count, size_t size) const {
    return count >= 0 && count <= (end - at) / static_cast<ptrdiff_t>(size);
  }
  template <class T>
  void operator()(T& v) {
    static_assert(kScalar<T>);
    if (!ok || end - at < static_cast<ptrdiff_t>(sizeof v)) return fail();
    std::memcpy(&v, at, sizeof v);
    at += sizeof v;
  }
  void operator()(bool& v) {
    if (!ok || end == at || static_cast<unsigned char>(*at) > 1) return fail();
    v = *at++ == 1;
  }
  void operator()(std::vector<float>& v) {
    int64_t size = 0;
    (*this)(size);
    if (!ok || !fits(size, sizeof(float))) return fail();
    v.assign(static_cast<size_t>(size), 0.0f);
    for (float& e : v) (*this)(e);
  }
};

// ---------------------------------------------------------------- kernels behind one interface

struct Stream {
  virtual ~Stream() = default;
  virtual int arity() const = 0;
  virtual bool full() const = 0;
  virtual Status update(const float* bar, float& out) = 0;
  virtual Status peek(const float* bar, float& out) const = 0;
  // Consumes bars [0, n); on failure returns the status and how many bars succeeded.
  virtual Status run(const Columns& cols, Py_ssize_t n, float* out, Py_ssize_t& done) = 0;
  // Consumes a history, skipping the values of bars the matched call does not look at.
  virtual Status open(const Columns& cols, Py_ssize_t n, float& last) = 0;
  virtual std::unique_ptr<Stream> clone() const = 0;
  virtual std::string save() = 0;
  virtual bool load(const char* data, Py_ssize_t size) = 0;
};

template <int kArity, class K>
Status run_steps(K& k, const Columns& cols, Py_ssize_t n, float* out, Py_ssize_t& done) {
  // Zeroed: the switch in run_bars instantiates every width for every kernel, and in the
  // widths a kernel never gets the compiler sees its step read slots no bar fills.
  float bar[kMaxArity] = {};
  for (done = 0; done < n; ++done) {
    for (int c = 0; c < kArity; ++c) std::memcpy(&bar[c], cols.data[c] + done * cols.stride[c], sizeof(float));
    const Status s = k.step(bar, out[done]);
    if (s != Status::ok) return s;
  }
  return Status::ok;
}

// A kernel's own bulk loop where it has one; else its step, with the bar's width fixed at compile time.
template <class K>
Status run_bars(K& k, const Columns& cols, Py_ssize_t n, float* out, Py_ssize_t& done) {
  if constexpr (requires { k.run(cols, n, out, done); }) {
    return k.run(cols, n, out, done);
  } else {
    switch (cols.arity) {
      case 1: return run_steps<1>(k, cols, n, out, done);
      case 2: return run_steps<2>(k, cols, n, out, done);
      case 3: return run_steps<3>(k, cols, n, out, done);
      default: return run_steps<kMaxArity>(k, cols, n, out, done);
    }
  }
}

template <class K>
struct StreamOf final : Stream {
  K k;
  Params params;
  explicit StreamOf(const Params& p) : k(p), params(p) {}
  int arity() const override { return k.arity(); }
  bool full() const override { return K::kFull; }
  // Through the batch functions' FMA dispatch: the unit and the C library's fma
  // propagate NaN operands differently, so the handles must take the same path.
  static Status step(K& kernel, const float* bar, float& out) {
    Status s;
    with_fma([&] { s = kernel.step(bar, out); });
    return s;
  }
  Status update(const float* bar, float& out) override { return step(k, bar, out); }
  Status peek(const float* bar, float& out) const override {
    K copy = k;
    return step(copy, bar, out);
  }
  Status run(const Columns& cols, Py_ssize_t n, float* out, Py_ssize_t& done) override {
    Status s;
    with_fma([&] { s = run_bars(k, cols, n, out, done); });
    return s;
  }
  Status open(const Columns& cols, Py_ssize_t n, float& last) override {
    float bar[kMaxArity];
    last = kNaN;
    if (n == 0) return Status::ok;
    if constexpr (!K::kFull) {
      // Only the last bars reach the call with n_values=1.
      const Py_ssize_t first = n - 1 - std::min<Py_ssize_t>(n - 1, k.memory());
      k.skip(first);
      for (Py_ssize_t i = first; i < n - 1; ++i) {
        cols.bar(i, bar);
        k.absorb(bar);
      }
      cols.bar(n - 1, bar);
      return step(k, bar, last);
    } else {
      // The values go to a scratch block; only the last one is kept.
      constexpr Py_ssize_t kBlock = 4096;
      std::vector<float> scratch(static_cast<size_t>(std::min(n, kBlock)));
      for (Py_ssize_t at = 0; at < n; at += kBlock) {
        Columns part = cols;
        for (int c = 0; c < cols.arity; ++c) part.data[c] += at * cols.stride[c];
        const Py_ssize_t count = std::min(kBlock, n - at);
        Py_ssize_t done;
        const Status s = run(part, count, scratch.data(), done);
        if (s != Status::ok) return s;
        last = scratch[static_cast<size_t>(count - 1)];
      }
      return Status::ok;
    }
  }
  std::unique_ptr<Stream> clone() const override { return std::make_unique<StreamOf<K>>(*this); }
  // The parameters lead the state, so a state restored under other parameters is refused.
  std::string save() override {
    Writer w;
    w(static_cast<int32_t>(params.size()));
    for (int32_t p : params) w(p);
    k.fields(w);
    return std::move(w.bytes);
  }
  bool load(const char* data, Py_ssize_t size) override {
    Reader r{data, data + size};
    int32_t count = -1;
    r(count);
    if (!r.ok || count != static_cast<int32_t>(params.size())) return false;
    for (int32_t p : params) {
      int32_t saved = 0;
      r(saved);
      if (!r.ok || saved != p) return false;
    }
    k.fields(r);
    if (!r.ok || r.at != r.end) return false;
    if constexpr (requires { k.valid(); }) return k.valid();
    return true;
  }
};

struct Entry {
  const char* name;
  std::unique_ptr<Stream> (*make)(const Params&);
  bool full;  // the kernel's kFull
};

// ---------------------------------------------------------------- parameters

bool is_flag(int32_t v) { return v == 0 || v == 1; }

// Whether `params` are what the opener of function `name` gives kernel `kernel`: their
// count and each one's range, as velkized_ta/stream.py checks them.
bool params_fit(const char* name, const char* kernel, const Params& p) {
  const auto is = [](const char* a, const char* b) { return std::strcmp(a, b) == 0; };
  const size_t n = p.size();
  if (is(kernel, "chain")) {
    if (n != 6 || p[0] == -1 || !is_flag(p[1]) || !is_flag(p[2]) || !is_flag(p[3])) return false;
    if (is(name, "velk_ema2")) return p[2] == 0 && p[3] == 0 && p[4] == 2 && p[5] == 0;
    if (is(name, "velk_ema3")) return (p[1] == 1 || p[2] == 0) && p[3] == 0 && p[4] == 3 && p[5] == 0;
    if (is(name, "velk_dema")) return p[3] == 0 && p[4] == 2 && p[5] == 1;
    if (is(name, "velk_tema")) return p[4] == 3 && p[5] == 2;
    return false;
  }
  if (!is(name, kernel)) return false;
  if (is(kernel, "velk_adif") || is(kernel, "velk_rdif")) return n == 0;
  if (is(kernel, "velk_ema")) return n == 2 && p[0] != -1 && is_flag(p[1]);
  if (is(kernel, "velk_trix")) return n == 4 && p[0] != -1 && is_flag(p[1]) && is_flag(p[2]) && is_flag(p[3]);
  if (is(kernel, "velk_macd"))
    return n == 4 && p[0] != -1 && p[1] != -1 && p[1] >= 0 && is_flag(p[2]) && is_flag(p[3]);
  if (is(kernel, "velk_ult")) return n == 3 && p[0] >= 1 && p[1] >= 1 && p[2] >= p[0] && p[2] >= p[1];
  if (is(kernel, "velk_sma") || is(kernel, "velk_mid") || is(kernel, "velk_adx") || is(kernel, "velk_adxr"))
    return n == 2 && p[0] >= 1 && is_flag(p[1]);
  return n == 1 && p[0] >= 1;
}

template <class K>
std::unique_ptr<Stream> make(const Params& p) {
  return std::make_unique<StreamOf<K>>(p);
}

template <class K>
constexpr Entry entry(const char* name) {
  return {name, make<K>, K::kFull};
}

constexpr Entry kEntries[] = {
    entry<SmaKernel>("velk_sma"),     entry<LinKernel>("velk_lin"),       entry<MidKernel>("velk_mid"),
    entry<EmaKernel>("velk_ema"),     entry<ChainKernel>("chain"),        entry<TrixKernel>("velk_trix"),
    entry<MacdKernel>("velk_macd"),   entry<RocKernel>("velk_roc"),       entry<RsiKernel>("velk_rsi"),
    entry<CmoKernel>("velk_cmo"),     entry<WillrKernel>("velk_willr"),   entry<StochfKernel>("velk_stochf"),
    entry<UltKernel>("velk_ult"),     entry<CciKernel>("velk_cci"),       entry<DxKernel>("velk_dx"),
    entry<AdxKernel>("velk_adx"),     entry<AdxrKernel>("velk_adxr"),     entry<NatrKernel>("velk_natr"),
    entry<WickKernel>("velk_wick"),   entry<AdifKernel>("velk_adif"),     entry<RdifKernel>("velk_rdif"),
};

// The kernel each exported function's stream opener takes (velkized_ta/stream.py): the chain
// kernel carries the EMA compositions, every other function has a kernel of its own name.
constexpr std::string_view kChainFunctions[] = {"velk_ema2", "velk_ema3", "velk_dema", "velk_tema"};

constexpr std::string_view live_kernel_of(std::string_view function) {
  for (std::string_view chained : kChainFunctions)
    if (chained == function) return "chain";
  return function;
}

constexpr bool has_kernel(std::string_view kernel) {
  for (const Entry& e : kEntries)
    if (std::string_view(e.name) == kernel) return true;
  return false;
}

constexpr bool follows_full_call(std::string_view kernel) {
  for (const Entry& e : kEntries)
    if (std::string_view(e.name) == kernel) return e.full;
  return false;
}

// A declaration without a live kernel fails the build here, naming the declaration; so does one
// whose kernel follows the call with n_values=1 while the batch layer's lanes take its exact
// values for live ones, or the other way round (many/columns.hpp).
template <class I>
constexpr bool has_live_kernel() {
  static_assert(has_kernel(live_kernel_of(I::name)),
                "an exported function has no live kernel: add its kernel to kEntries (live/module.cpp, "
                "live/kernels.hpp)");
  static_assert(follows_full_call(live_kernel_of(I::name)) != indicators::kLiveFollowsTrailingCall<I>,
                "a live kernel's kFull disagrees with kLiveFollowsTrailingCall (many/columns.hpp)");
  return true;
}
template <class... I>
constexpr bool every_function_has_live_kernel(std::tuple<I...>*) {
  return (has_live_kernel<I>() && ...);
}
static_assert(every_function_has_live_kernel(static_cast<indicators::Exported*>(nullptr)));

const Entry* find_entry(const char* kernel) {
  for (const Entry& e : kEntries)
    if (std::strcmp(e.name, kernel) == 0) return &e;
  return nullptr;
}

// ---------------------------------------------------------------- the handle type

struct Handle {
  PyObject_HEAD
  Stream* stream;
  PyObject* name;     // the function's name, for messages
  PyObject* kernel;   // the kernel's name in kEntries
  PyObject* params;   // tuple of ints
  float value;
  bool in_use;        // a method runs the kernel (and may be running Python code)
};

PyTypeObject* handle_type = nullptr;

bool fail(Status s) {
  if (s == Status::zero_division) PyErr_SetString(PyExc_ZeroDivisionError, "float division");
  return false;
}

// The handle's kernel for a method, held until the Hold ends; null with an exception
// when the handle is in use by a running step or was not made by an opener.
struct Hold {
  Handle* h;
  explicit Hold(Handle* handle, const char* method) : h(handle) {
    if (!h->stream) {
      PyErr_Format(PyExc_TypeError, "%s() of a stream handle that no opener made", method);
      h = nullptr;
    } else if (h->in_use) {
      PyErr_Format(PyExc_RuntimeError, "%U stream %s(): handle in use by a running step (called from a "
                   "warning hook or another thread)", h->name, method);
      h = nullptr;
    } else {
      h->in_use = true;
    }
  }
  ~Hold() {
    if (h) h->in_use = false;
  }
  explicit operator bool() const { return h != nullptr; }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
};

// Runs native work that may allocate; a failed allocation becomes MemoryError.
template <class F>
bool allocating(F&& f) {
  try {
    f();
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  PyErr_NoMemory();
  return false;
}

bool parse_bar(Handle* h, PyObject* const* args, Py_ssize_t nargs, float* bar, const char* method) {
  const int arity = h->stream->arity();
  if (nargs != arity) {
    PyErr_Format(PyExc_TypeError, "%U stream %s() takes %d bar value%s (%zd given)", h->name, method, arity,
                 arity == 1 ? "" : "s", nargs);
    return false;
  }
  for (int k = 0; k < arity; ++k) {
    PyObject* v = args[k];
    double d;
    if (PyFloat_CheckExact(v)) {
      d = PyFloat_AS_DOUBLE(v);
    } else if (PyUnicode_Check(v) || PyBytes_Check(v) || v == Py_None) {
      PyErr_Format(PyExc_TypeError, "%U stream %s() takes real numbers, got %.200s", h->name, method,
                   Py_TYPE(v)->tp_name);
      return false;
    } else {
      d = PyFloat_AsDouble(v);
      if (d == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%U stream %s() takes real numbers, got %.200s", h->name, method,
                     Py_TYPE(v)->tp_name);
        return false;
      }
    }
    bar[k] = static_cast<float>(d);
  }
  return true;
}

PyObject* handle_update(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  Handle* h = reinterpret_cast<Handle*>(self);
  Hold hold(h, "update");
  if (!hold) return nullptr;
  float bar[kMaxArity];
  if (!parse_bar(h, args, nargs, bar, "update")) return nullptr;
  float out;
  Status s = Status::ok;
  if (!allocating([&] { s = h->stream->update(bar, out); })) return nullptr;
  if (s != Status::ok) return fail(s), nullptr;
  h->value = out;
  return PyFloat_FromDouble(out);
}

PyObject* handle_peek(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  Handle* h = reinterpret_cast<Handle*>(self);
  Hold hold(h, "peek");
  if (!hold) return nullptr;
  float bar[kMaxArity];
  if (!parse_bar(h, args, nargs, bar, "peek")) return nullptr;
  float out;
  Status s = Status::ok;
  if (!allocating([&] { s = h->stream->peek(bar, out); })) return nullptr;
  if (s != Status::ok) return fail(s), nullptr;
  return PyFloat_FromDouble(out);
}

// Float32 one-dimensional buffers of the arrays (converted by numpy when they are not).
struct Buffers {
  std::vector<Py_buffer> views;
  std::vector<PyObject*> owned;
  ~Buffers() {
    for (Py_buffer& b : views) PyBuffer_Release(&b);
    for (PyObject* o : owned) Py_DECREF(o);
  }
  bool add(PyObject* obj, const char* what, PyObject* name) {
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_STRIDES | PyBUF_FORMAT) == 0) {
      if (view.ndim == 1 && view.itemsize == 4 && view.format && (std::strcmp(view.format, "f") == 0 ||
                                                                   std::strcmp(view.format, "<f") == 0 ||
                                                                   std::strcmp(view.format, "=f") == 0)) {
        views.push_back(view);
        return true;
      }
      PyBuffer_Release(&view);
    } else {
      PyErr_Clear();
    }
    PyObject* converted = PyObject_CallMethod(numpy_module, "ascontiguousarray", "Os", obj, "float32");
    if (!converted) return false;
    owned.push_back(converted);
    if (PyObject_GetBuffer(converted, &view, PyBUF_STRIDES | PyBUF_FORMAT) != 0) return false;
    if (view.ndim != 1) {
      PyBuffer_Release(&view);
      PyErr_Format(PyExc_ValueError, "%U stream %s takes one-dimensional series", name, what);
      return false;
    }
    views.push_back(view);
    return true;
  }
  bool columns(Columns& cols, Py_ssize_t& n, PyObject* name, const char* what) const {
    cols.arity = static_cast<int>(views.size());
    n = views.empty() ? 0 : views[0].shape[0];
    for (size_t k = 0; k < views.size(); ++k) {
      if (views[k].shape[0] != n) {
        PyErr_Format(PyExc_ValueError, "%U stream %s takes series of one length", name, what);
        return false;
      }
      cols.data[k] = static_cast<const char*>(views[k].buf);
      cols.stride[k] = views[k].strides[0];
    }
    return true;
  }
};

PyObject* new_float32_array(Py_ssize_t n) {
  return PyObject_CallMethod(numpy_module, "empty", "ns", n, "float32");
}

PyObject* handle_update_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  Handle* h = reinterpret_cast<Handle*>(self);
  Hold hold(h, "update_many");
  if (!hold) return nullptr;
  const int arity = h->stream->arity();
  if (nargs != arity) {
    PyErr_Format(PyExc_TypeError, "%U stream update_many() takes %d series (%zd given)", h->name, arity, nargs);
    return nullptr;
  }
  Buffers in;
  for (Py_ssize_t k = 0; k < nargs; ++k)
    if (!in.add(args[k], "update_many()", h->name)) return nullptr;
  Columns cols;
  Py_ssize_t n;
  if (!in.columns(cols, n, h->name, "update_many()")) return nullptr;
  PyObject* result = new_float32_array(n);
  if (!result) return nullptr;
  Py_buffer out;
  if (PyObject_GetBuffer(result, &out, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) != 0) {
    Py_DECREF(result);
    return nullptr;
  }
  // All or nothing: the bars run on a copy that replaces the kernel only on success.
  std::unique_ptr<Stream> work;
  Py_ssize_t done;
  Status s = Status::ok;
  if (!allocating([&] {
        work = h->stream->clone();
        s = work->run(cols, n, static_cast<float*>(out.buf), done);
      })) {
    PyBuffer_Release(&out);
    Py_DECREF(result);
    return nullptr;
  }
  const float last = n > 0 ? static_cast<float*>(out.buf)[n - 1] : h->value;
  PyBuffer_Release(&out);
  if (s != Status::ok) {
    Py_DECREF(result);
    return fail(s), nullptr;
  }
  delete h->stream;
  h->stream = work.release();
  h->value = last;
  return result;
}

PyObject* wrap(std::unique_ptr<Stream> stream, PyObject* name, PyObject* kernel, PyObject* params, float value) {
  Handle* h = PyObject_New(Handle, handle_type);
  if (!h) return nullptr;
  h->stream = stream.release();
  Py_INCREF(name), Py_INCREF(kernel), Py_INCREF(params);
  h->name = name, h->kernel = kernel, h->params = params;
  h->value = value;
  h->in_use = false;
  return reinterpret_cast<PyObject*>(h);
}

PyObject* handle_copy(PyObject* self, PyObject*) {
  Handle* h = reinterpret_cast<Handle*>(self);
  std::unique_ptr<Stream> copy;
  {
    Hold hold(h, "copy");
    if (!hold || !allocating([&] { copy = h->stream->clone(); })) return nullptr;
  }
  return wrap(std::move(copy), h->name, h->kernel, h->params, h->value);
}

PyObject* handle_deepcopy(PyObject* self, PyObject*) { return handle_copy(self, nullptr); }

PyObject* restore_function = nullptr;

PyObject* handle_reduce(PyObject* self, PyObject*) {
  Handle* h = reinterpret_cast<Handle*>(self);
  std::string state;
  {
    Hold hold(h, "__reduce__");
    if (!hold || !allocating([&] { state = h->stream->save(); })) return nullptr;
  }
  return Py_BuildValue("O(iOOOy#f)", restore_function, kStateVersion, h->name, h->kernel, h->params, state.data(),
                       static_cast<Py_ssize_t>(state.size()), h->value);
}

void handle_dealloc(PyObject* self) {
  Handle* h = reinterpret_cast<Handle*>(self);
  PyTypeObject* type = Py_TYPE(self);
  delete h->stream;
  Py_XDECREF(h->name), Py_XDECREF(h->kernel), Py_XDECREF(h->params);
  PyObject_Free(self);
  Py_DECREF(type);  // each instance of a heap type holds a reference to it
}

// Handles come from the openers and from unpickling only.
PyObject* handle_new(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError,
                  "cannot create 'velkized_ta._live.Handle' instances; open one with a velkized_ta.stream function");
  return nullptr;
}

bool made_by_opener(Handle* h, const char* what) {
  if (h->stream) return true;
  PyErr_Format(PyExc_TypeError, "%s of a stream handle that no opener made", what);
  return false;
}

PyObject* handle_value(PyObject* self, void*) { return PyFloat_FromDouble(reinterpret_cast<Handle*>(self)->value); }
PyObject* handle_matches(PyObject* self, void*) {
  Handle* h = reinterpret_cast<Handle*>(self);
  if (!made_by_opener(h, "matches")) return nullptr;
  return PyUnicode_FromString(h->stream->full() ? "full" : "trailing");
}
PyObject* handle_name(PyObject* self, void*) {
  Handle* h = reinterpret_cast<Handle*>(self);
  if (!made_by_opener(h, "name")) return nullptr;
  Py_INCREF(h->name);
  return h->name;
}
PyObject* handle_arity(PyObject* self, void*) {
  Handle* h = reinterpret_cast<Handle*>(self);
  if (!made_by_opener(h, "arity")) return nullptr;
  return PyLong_FromLong(h->stream->arity());
}

PyObject* handle_repr(PyObject* self) {
  Handle* h = reinterpret_cast<Handle*>(self);
  if (!h->stream) return PyUnicode_FromString("<stream handle that no opener made>");
  PyObject* value = PyFloat_FromDouble(h->value);
  if (!value) return nullptr;
  PyObject* r = PyUnicode_FromFormat("<%U stream handle, value=%R>", h->name, value);
  Py_DECREF(value);
  return r;
}

PyMethodDef handle_methods[] = {
    {"update", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(handle_update)), METH_FASTCALL,
     "update(*bar) -> float\n\nConsumes one bar (one float per series) and returns the new value. A bar the "
     "batch call would fail on raises its exception and is not consumed."},
    {"peek", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(handle_peek)), METH_FASTCALL,
     "peek(*bar) -> float\n\nThe value update(*bar) would return, without consuming the bar."},
    {"update_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(handle_update_many)),
     METH_FASTCALL,
     "update_many(*series) -> numpy.ndarray\n\nConsumes the bars of the series in order and returns, as "
     "float32, the value update would have returned for each. All or nothing: on a failing bar it raises "
     "and consumes none of them."},
    {"copy", handle_copy, METH_NOARGS, "copy() -> handle\n\nAn independent handle in the same state."},
    {"__copy__", handle_copy, METH_NOARGS, nullptr},
    {"__deepcopy__", handle_deepcopy, METH_O, nullptr},
    {"__reduce__", handle_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef handle_getset[] = {
    {"value", handle_value, nullptr, "The value after the last consumed bar (NaN before any).", nullptr},
    {"matches", handle_matches, nullptr,
     "'full' when values follow the full batch call, 'trailing' when they follow the call with n_values=1.",
     nullptr},
    {"name", handle_name, nullptr, "The batch function this handle follows.", nullptr},
    {"arity", handle_arity, nullptr, "Floats per bar.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyType_Slot handle_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc)},
    {Py_tp_new, reinterpret_cast<void*>(handle_new)},
    {Py_tp_methods, handle_methods},
    {Py_tp_getset, handle_getset},
    {Py_tp_repr, reinterpret_cast<void*>(handle_repr)},
    {Py_tp_doc, const_cast<char*>("A live handle of one indicator; see velkized_ta.stream.")},
    {0, nullptr}};

PyType_Spec handle_spec = {"velkized_ta._live.Handle", sizeof(Handle), 0, Py_TPFLAGS_DEFAULT, handle_slots};

// ---------------------------------------------------------------- module functions

// The parameters of `kernel` as opened for function `name`: a tuple of exact ints in 32 bits
// that fit the opener's ranges; ValueError otherwise (a forged or damaged state, or a bug).
bool parse_params(PyObject* name, PyObject* kernel, PyObject* params, Params& out) {
  const char* function = PyUnicode_AsUTF8(name);
  const char* k = function ? PyUnicode_AsUTF8(kernel) : nullptr;
  if (!k) return false;
  if (!PyTuple_Check(params) || PyTuple_GET_SIZE(params) > 8) {
    PyErr_Format(PyExc_ValueError, "%U stream parameters must be a tuple of ints", name);
    return false;
  }
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(params); ++i) {
    PyObject* item = PyTuple_GET_ITEM(params, i);
    int overflow = 0;
    const long long v = PyLong_CheckExact(item) ? PyLong_AsLongLongAndOverflow(item, &overflow) : 0;
    if (!PyLong_CheckExact(item) || overflow || v < INT32_MIN || v > INT32_MAX) {
      PyErr_Format(PyExc_ValueError, "%U stream parameters must be ints of 32 bits", name);
      return false;
    }
    out.push_back(static_cast<int32_t>(v));
  }
  if (!params_fit(function, k, out)) {
    PyErr_Format(PyExc_ValueError, "%U stream parameters %R do not fit kernel %U", name, params, kernel);
    return false;
  }
  return true;
}

const Entry* entry_of(PyObject* kernel) {
  const char* k = PyUnicode_AsUTF8(kernel);
  if (!k) return nullptr;
  const Entry* e = find_entry(k);
  if (!e) PyErr_Format(PyExc_ValueError, "no live kernel named %U", kernel);
  return e;
}

// open(name, kernel, params, series) -> handle
PyObject* live_open(PyObject*, PyObject* args) {
  PyObject *name, *kernel, *params, *series;
  if (!PyArg_ParseTuple(args, "UUO!O!", &name, &kernel, &PyTuple_Type, &params, &PyTuple_Type, &series))
    return nullptr;
  const Entry* e = entry_of(kernel);
  Params p;
  if (!e || !parse_params(name, kernel, params, p)) return nullptr;
  std::unique_ptr<Stream> stream;
  if (!allocating([&] { stream = e->make(p); })) return nullptr;
  if (PyTuple_GET_SIZE(series) != stream->arity()) {
    PyErr_Format(PyExc_TypeError, "%U stream takes %d series (%zd given)", name, stream->arity(),
                 PyTuple_GET_SIZE(series));
    return nullptr;
  }
  Buffers in;
  for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(series); ++k)
    if (!in.add(PyTuple_GET_ITEM(series, k), "history", name)) return nullptr;
  Columns cols;
  Py_ssize_t n;
  if (!in.columns(cols, n, name, "history")) return nullptr;
  float last;
  Status s = Status::ok;
  if (!allocating([&] { s = stream->open(cols, n, last); })) return nullptr;
  if (s != Status::ok) return fail(s), nullptr;
  return wrap(std::move(stream), name, kernel, params, last);
}

PyObject* live_restore(PyObject*, PyObject* args) {
  int version;
  PyObject *name, *kernel, *params;
  const char* state;
  Py_ssize_t size;
  float value;
  if (!PyArg_ParseTuple(args, "iUUO!y#f", &version, &name, &kernel, &PyTuple_Type, &params, &state, &size, &value))
    return nullptr;
  if (version != kStateVersion) {
    PyErr_Format(PyExc_ValueError, "%U stream state of version %d cannot be restored by version %d", name, version,
                 kStateVersion);
    return nullptr;
  }
  const Entry* e = entry_of(kernel);
  Params p;
  if (!e || !parse_params(name, kernel, params, p)) return nullptr;
  std::unique_ptr<Stream> stream;
  bool loaded = false;
  if (!allocating([&] {
        stream = e->make(p);
        loaded = stream->load(state, size);
      }))
    return nullptr;
  if (!loaded) {
    PyErr_Format(PyExc_ValueError, "%U stream state is damaged", name);
    return nullptr;
  }
  return wrap(std::move(stream), name, kernel, params, value);
}

// ---------------------------------------------------------------- many series

// A float32 view of a series argument or of the output: 2-D, or 1-D cut by offsets. A series
// may also be float64 (`doubles`), each value rounded to float32 as the loop reads it.
struct Table {
  Py_buffer view{};
  bool held = false;
  bool doubles = false;
  ~Table() {
    if (held) PyBuffer_Release(&view);
  }
  static bool is_format(const char* f, char code) {
    return f[0] == code ? f[1] == '\0' : (f[0] == '<' || f[0] == '=') && f[1] == code && f[2] == '\0';
  }
  bool take(PyObject* obj, int ndim, bool writable, const char* what) {
    if (PyObject_GetBuffer(obj, &view, PyBUF_STRIDES | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0)) != 0)
      return false;
    held = true;
    const char* f = view.format ? view.format : "B";
    doubles = !writable && view.itemsize == 8 && is_format(f, 'd');
    if (view.ndim != ndim || !(doubles || (view.itemsize == 4 && is_format(f, 'f')))) {
      PyErr_Format(PyExc_ValueError, "run_many: %s must be a %d-D float32 array%s", what, ndim,
                   writable ? "" : " (or float64)");
      return false;
    }
    return true;
  }
};

// Rounds `count` doubles, `stride` bytes apart, to floats; false when a finite one overflows
// (numpy's cast warns there, so the series takes the path that casts through numpy).
inline bool round_to_floats(const char* from, Py_ssize_t stride, Py_ssize_t count, float* to) {
  bool overflow = false;
  for (Py_ssize_t i = 0; i < count; ++i) {
    double d;
    std::memcpy(&d, from + i * stride, sizeof d);
    to[i] = static_cast<float>(d);
    overflow |= std::isinf(to[i]) && !std::isinf(d);
  }
  return !overflow;
}

// Where series j lies: its first element, its length and the step between its elements.
struct SeriesLayout {
  const int64_t* offsets = nullptr;  // segments of a 1-D array, or
  int axis = 0;                      // the time axis of a 2-D one
  Py_ssize_t count = 0;
  void locate(const Py_buffer& v, Py_ssize_t j, char*& base, Py_ssize_t& length, Py_ssize_t& stride) const {
    char* buf = static_cast<char*>(v.buf);
    if (offsets) {
      base = buf + offsets[j] * v.strides[0], length = offsets[j + 1] - offsets[j], stride = v.strides[0];
    } else {
      base = buf + j * v.strides[1 - axis], length = v.shape[axis], stride = v.strides[axis];
    }
  }
};

enum SeriesStatus : int8_t { series_ok = 0, series_failed = 1, series_needs_python = 2 };

// One series from an empty handle, in blocks through a scratch buffer when the output is strided,
// float64 series rounded block by block into `rounded` (kMaxArity blocks).
// `stopped` is polled between blocks: true when the call is being abandoned (Ctrl-C).
template <class Stopped>
SeriesStatus run_series(const Entry& entry, const Params& params, const std::vector<Table>& in, Table& out,
                        const SeriesLayout& layout, Py_ssize_t j, std::vector<float>& scratch,
                        std::vector<float>& rounded, Stopped&& stopped) {
  std::unique_ptr<Stream> stream = entry.make(params);
  Columns cols;
  cols.arity = static_cast<int>(in.size());
  Py_ssize_t n = 0, out_stride = 0;
  char* out_base = nullptr;
  for (int k = 0; k < cols.arity; ++k) {
    char* base;
    layout.locate(in[k].view, j, base, n, cols.stride[k]);
    cols.data[k] = base;
  }
  layout.locate(out.view, j, out_base, n, out_stride);
  constexpr Py_ssize_t kBlock = 4096;
  const bool direct = out_stride == static_cast<Py_ssize_t>(sizeof(float));
  for (Py_ssize_t at = 0; at < n; at += kBlock) {
    if (stopped()) return series_needs_python;
    const Py_ssize_t count = std::min(kBlock, n - at);
    float* target = direct ? reinterpret_cast<float*>(out_base) + at : scratch.data();
    Columns part = cols;
    for (int k = 0; k < cols.arity; ++k) {
      part.data[k] += at * cols.stride[k];
      if (!in[static_cast<size_t>(k)].doubles) continue;
      float* block = rounded.data() + k * kBlock;
      if (!round_to_floats(part.data[k], cols.stride[k], count, block)) return series_needs_python;
      part.data[k] = reinterpret_cast<const char*>(block);
      part.stride[k] = sizeof(float);
    }
    Py_ssize_t done;
    if (stream->run(part, count, target, done) != Status::ok)
      return worker->needs_python ? series_needs_python : series_failed;
    if (!direct)
      for (Py_ssize_t i = 0; i < count; ++i)
        std::memcpy(out_base + (at + i) * out_stride, &scratch[static_cast<size_t>(i)], sizeof(float));
  }
  return series_ok;
}

// Below this many bars per thread, another thread costs more than it saves (as in _many).
constexpr int64_t kBarsPerThread = 1 << 16;
constexpr int kMostThreads = 256;
// How often the thread that held the GIL looks for a signal (Ctrl-C) while the workers run.
constexpr auto kSignalPoll = std::chrono::milliseconds(20);

// run_many(name, kernel, params, series, out, offsets, axis, threads) -> int8 status per series
PyObject* live_run_many(PyObject*, PyObject* args) {
  PyObject *name, *kernel, *params, *series, *out_obj, *offsets_obj;
  int axis;
  long long threads;
  if (!PyArg_ParseTuple(args, "UUO!O!OOiL", &name, &kernel, &PyTuple_Type, &params, &PyTuple_Type, &series,
                        &out_obj, &offsets_obj, &axis, &threads))
    return nullptr;
  const Entry* e = entry_of(kernel);
  Params p;
  if (!e || !parse_params(name, kernel, params, p)) return nullptr;
  const int arity = e->make(p)->arity();
  if (PyTuple_GET_SIZE(series) != arity) {
    PyErr_Format(PyExc_TypeError, "run_many: %U takes %d series (%zd given)", kernel, arity,
                 PyTuple_GET_SIZE(series));
    return nullptr;
  }
  const bool segmented = offsets_obj != Py_None;
  const int ndim = segmented ? 1 : 2;
  std::vector<Table> in(static_cast<size_t>(arity));
  Table out;
  if (!out.take(out_obj, ndim, true, "out")) return nullptr;
  for (int k = 0; k < arity; ++k) {
    if (!in[static_cast<size_t>(k)].take(PyTuple_GET_ITEM(series, k), ndim, false, "each series")) return nullptr;
    for (int d = 0; d < ndim; ++d)
      if (in[static_cast<size_t>(k)].view.shape[d] != out.view.shape[d]) {
        PyErr_SetString(PyExc_ValueError, "run_many: every series must have the output's shape");
        return nullptr;
      }
  }
  SeriesLayout layout;
  Table offsets;
  if (segmented) {
    if (PyObject_GetBuffer(offsets_obj, &offsets.view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) return nullptr;
    offsets.held = true;
    const char* f = offsets.view.format ? offsets.view.format : "B";
    const Py_ssize_t m = offsets.view.ndim == 1 ? offsets.view.shape[0] : 0;
    layout.offsets = static_cast<const int64_t*>(offsets.view.buf);
    bool valid = offsets.view.itemsize == 8 && (std::strchr(f, 'q') || std::strchr(f, 'l')) && m >= 1 &&
                 layout.offsets[0] == 0 && layout.offsets[m - 1] == out.view.shape[0];
    for (Py_ssize_t j = 0; valid && j + 1 < m; ++j) valid = layout.offsets[j] <= layout.offsets[j + 1];
    if (!valid) {
      PyErr_SetString(PyExc_ValueError, "run_many: offsets must be ascending int64 from 0 to the length");
      return nullptr;
    }
    layout.count = m - 1;
  } else {
    if (axis != 0 && axis != 1) {
      PyErr_SetString(PyExc_ValueError, "run_many: axis must be 0 or 1");
      return nullptr;
    }
    layout.axis = axis;
    layout.count = out.view.shape[1 - axis];
  }
  PyObject* statuses = PyObject_CallMethod(numpy_module, "zeros", "ns", layout.count, "int8");
  if (!statuses) return nullptr;
  Py_buffer status_view;
  if (PyObject_GetBuffer(statuses, &status_view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) != 0) {
    Py_DECREF(statuses);
    return nullptr;
  }
  int8_t* status = static_cast<int8_t*>(status_view.buf);
  // Series are handed out one at a time; each is computed whole by one thread. A series
  // whose memory runs out is left to the handle path, which raises MemoryError.
  std::atomic<Py_ssize_t> next{0};
  std::atomic<bool> interrupted{false};
  std::atomic<int64_t> finished{0};  // helper threads done
  PyThreadState* saved = nullptr;
  auto last_poll = std::chrono::steady_clock::now();
  // On the calling thread, between blocks: takes the GIL briefly to run the signal handlers.
  auto poll_signals = [&] {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_poll < kSignalPoll || interrupted.load()) return interrupted.load();
    last_poll = now;
    WorkerContext* context = worker;  // a handler's own calls into this module run as usual
    worker = nullptr;
    PyEval_RestoreThread(saved);
    const bool raised = PyErr_CheckSignals() != 0;
    saved = PyEval_SaveThread();
    worker = context;
    if (raised) interrupted.store(true);
    return raised;
  };
  auto work = [&](bool caller) {
    WorkerContext context;
    worker = &context;
    std::vector<float> scratch, rounded;
    try {
      scratch.resize(4096);
      rounded.resize(4096 * kMaxArity);
    } catch (...) {
      worker = nullptr;
      if (!caller) finished.fetch_add(1);
      return;  // the other threads, or the handle path, take the series
    }
    auto stopped = [&] { return caller ? poll_signals() : interrupted.load(); };
    for (Py_ssize_t j; !interrupted.load() && (j = next.fetch_add(1)) < layout.count;) {
      context.needs_python = false;
      try {
        status[j] = run_series(*e, p, in, out, layout, j, scratch, rounded, stopped);
      } catch (...) {
        status[j] = series_needs_python;
      }
    }
    worker = nullptr;
    if (!caller) finished.fetch_add(1);
  };
  const int64_t bars = static_cast<int64_t>(out.view.len / 4);
  const int64_t useful = std::max<int64_t>(1, bars / kBarsPerThread);
  const int64_t pool = std::clamp<int64_t>(threads, 1, std::min<int64_t>({useful, std::max<Py_ssize_t>(layout.count, 1),
                                                                         kMostThreads}));
  saved = PyEval_SaveThread();
  std::vector<std::thread> helpers;
  for (int64_t t = 1; t < pool; ++t) {
    try {
      helpers.emplace_back(work, false);
    } catch (...) {
      break;  // fewer threads: the same results
    }
  }
  work(true);
  while (finished.load() < static_cast<int64_t>(helpers.size())) {
    poll_signals();
    std::this_thread::sleep_for(kSignalPoll / 4);
  }
  for (std::thread& t : helpers) t.join();
  PyEval_RestoreThread(saved);
  PyBuffer_Release(&status_view);
  if (interrupted.load()) {
    Py_DECREF(statuses);
    return nullptr;  // the signal handler's exception (KeyboardInterrupt) is set
  }
  return statuses;
}

PyMethodDef module_methods[] = {
    {"open", live_open, METH_VARARGS, "open(name, kernel, params, series) -> handle"},
    {"_restore", live_restore, METH_VARARGS, "Rebuilds a pickled handle."},
    {"run_many", live_run_many, METH_VARARGS,
     "run_many(kernel, params, series, out, offsets, axis, threads) -> int8 array\n\nWrites into `out` what "
     "update_many gives from an empty handle, for every series of 2-D arrays (time along `axis`) or of 1-D "
     "arrays cut by int64 `offsets`, on up to `threads` threads without the GIL. A float64 series is rounded "
     "to float32 as it is read. Status per series: 0 done, 1 a bar failed, 2 it needs Python (numpy would "
     "warn, also in casting a float64 price beyond float32's range); those are left for the handle path."},
    {nullptr, nullptr, 0, nullptr}};

int live_exec(PyObject* module) {
  numpy_module = PyImport_ImportModule("numpy");
  if (!numpy_module) return -1;
  handle_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&handle_spec));
  if (!handle_type) return -1;
  if (PyModule_AddObjectRef(module, "Handle", reinterpret_cast<PyObject*>(handle_type)) < 0) return -1;
  restore_function = PyObject_GetAttrString(module, "_restore");
  if (!restore_function) return -1;
  if (PyModule_AddIntConstant(module, "STATE_VERSION", kStateVersion) < 0) return -1;
  return 0;
}

PyModuleDef_Slot module_slots[] = {{Py_mod_exec, reinterpret_cast<void*>(live_exec)}, {0, nullptr}};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_live", "Native stream handles of velkized_ta.stream.", 0,
                          module_methods, module_slots, nullptr, nullptr, nullptr};

}  // namespace

bool numpy_nanmean_with_gil(const float* values, int64_t n, float& mean);

// The batch functions' own nanmean (what their seeds take while `np` is numpy);
// a window without values is numpy's to warn about, which needs Python.
bool numpy_nanmean(const float* values, int64_t n, float& mean) {
  double native_mean;
  if (nanmean_of_elements(reinterpret_cast<const char*>(values), n, sizeof(float), &native_mean)) {
    mean = static_cast<float>(native_mean);
    return true;
  }
  if (worker) return worker->needs_python = true, false;
  return numpy_nanmean_with_gil(values, n, mean);
}

bool numpy_nanmean_with_gil(const float* values, int64_t n, float& mean) {
  PyObject* bytes = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values), n * 4);
  if (!bytes) return false;
  PyObject* array = PyObject_CallMethod(numpy_module, "frombuffer", "Os", bytes, "float32");
  Py_DECREF(bytes);
  if (!array) return false;
  PyObject* result = PyObject_CallMethod(numpy_module, "nanmean", "O", array);
  Py_DECREF(array);
  if (!result) return false;
  const double d = PyFloat_AsDouble(result);
  Py_DECREF(result);
  if (d == -1.0 && PyErr_Occurred()) return false;
  mean = static_cast<float>(d);
  return true;
}

bool numpy_sqrt(double v, double& root) {
  // A negative variance makes numpy warn: left to the handle path.
  if (worker) return worker->needs_python = true, false;
  PyObject* result = PyObject_CallMethod(numpy_module, "sqrt", "d", v);
  if (!result) return false;
  root = PyFloat_AsDouble(result);
  Py_DECREF(result);
  return !(root == -1.0 && PyErr_Occurred());
}

}  // namespace velk::live

PyMODINIT_FUNC PyInit__live() { return PyModuleDef_Init(&velk::live::module_def); }
