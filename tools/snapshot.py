#!/usr/bin/env python3
"""The bit snapshot of velkized_ta.velk_ta_funcs: a generated corpus of calls and what each gives.

Every exact function is called on a deterministic corpus (random walks, NaN runs, flat
stretches, zeros, infinities, huge and tiny values; lengths 0 to 3000; periods from -2 to
beyond the length; n_values variants; every flag combination, with and without each
handed-in stage). Each call's outcome is recorded bit for bit: a digest of the result's
bytes (with dtype and shape), or the exception's type and message, plus the category and
message of every warning. tests/test_snapshot.py compares the installed build with the
recorded file, tests/snapshot/frozen.json.gz.

The results written to compare machines and compilers (`--results`) also hold the classic
family (every registry entry with its default parameters on walks, NaN runs, leading NaNs and
flat stretches) and, for results holding a NaN, a second digest with every NaN made the one
quiet NaN: `--compare` counts cases that differ in a NaN's sign or payload alone apart from
differences of value, NaN position, outcome or error. The sign an invalid operation leaves is
the CPU's (x86-64 sets it, aarch64 does not), and for a NaN made from two NaNs it is the
compiler's choice of operand order; it is not part of what the package promises.

    python tools/snapshot.py --check                        # compare with the recorded snapshot
    python tools/snapshot.py --write --reason "why"         # re-record it (make snapshot REASON=...)
    python tools/snapshot.py --results out.json.gz [--full] # this machine's outcomes, to compare elsewhere
    python tools/snapshot.py --compare a.json.gz b.json.gz  # cases compared, differences, NaN signs apart
    python tools/snapshot.py --show CASE                    # one case's arguments and current outcome

The recorded file is the frozen module's contract: re-record it only for a deliberate change
of the frozen family's outputs (there is none planned), and say why in the commit message.
`--full` also stores every result's values, so that `--compare` can name the first
differing position and both values (for comparing machines; too large to commit).
"""

import argparse
import base64
import collections
import functools
import gzip
import hashlib
import itertools
import json
import platform
import subprocess
import sys
import warnings
import zlib
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
SNAPSHOT = ROOT / "tests" / "snapshot" / "frozen.json.gz"
FORMAT = 1
WHOLE = 999999999  # the declarations' n_values default

# ---------------------------------------------------------------- deterministic inputs


def _uniform(seed_text, count):
    """`count` doubles in [0, 1) from a counter-based splitmix64: the same on every machine and numpy."""
    seed = np.uint64(zlib.crc32(seed_text.encode()))
    with np.errstate(over="ignore"):
        z = (np.arange(1, count + 1, dtype=np.uint64) + seed * np.uint64(0x632BE59BD9B4E019)) * np.uint64(
            0x9E3779B97F4A7C15)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        z = z ^ (z >> np.uint64(31))
    return (z >> np.uint64(11)).astype(np.float64) * 2.0 ** -53


def _walk(seed_text, n, level=100.0, scale=1.0):
    steps = (_uniform(seed_text, n) - 0.5) * (2.0 * scale)
    return level + np.cumsum(steps)


def _runs(seed_text, n, count, longest):
    """Boolean mask of `count` runs of 1 .. `longest` positions."""
    mask = np.zeros(n, dtype=bool)
    if n == 0:
        return mask
    u = _uniform(seed_text, 2 * count)
    for start, length in zip(u[:count], u[count:]):
        begin = int(start * n)
        mask[begin:begin + 1 + int(length * longest)] = True
    return mask


KINDS = ("walk", "nan_runs", "leading_nan", "all_nan", "flat_runs", "constant", "zeros", "infinities",
         "negative", "huge", "tiny", "steps")


def price_series(kind, n, stream="a"):
    """High, low and close (float32) of input kind `kind`; `stream` picks an independent draw."""
    return tuple(s.copy() for s in _price_series(kind, n, stream))


@functools.lru_cache(maxsize=None)
def _price_series(kind, n, stream):
    key = f"{kind}/{n}/{stream}"
    close = _walk(key + "/c", n)
    spread = _uniform(key + "/s", n) * 0.8
    high, low = close + spread * _uniform(key + "/h", n), close - spread * _uniform(key + "/l", n)
    if kind == "nan_runs":
        for series, part in ((close, "c"), (high, "h"), (low, "l")):
            series[_runs(key + "/nan" + part, n, 1 + n // 40, 6)] = np.nan
        if n > 3:
            close[1] = np.nan
    elif kind == "leading_nan":
        for series in (close, high, low):
            series[:n // 3 + 1] = np.nan
    elif kind == "all_nan":
        close[:], high[:], low[:] = np.nan, np.nan, np.nan
    elif kind == "flat_runs":
        for begin in np.flatnonzero(_runs(key + "/flat", n, 1 + n // 30, 20)):
            if begin:
                close[begin], high[begin], low[begin] = close[begin - 1], high[begin - 1], low[begin - 1]
        flat = _runs(key + "/hl", n, 1 + n // 50, 15)
        high[flat], low[flat] = close[flat], close[flat]
    elif kind == "constant":
        close[:], high[:], low[:] = 100.0, 100.0, 100.0
    elif kind == "zeros":
        close, high, low = close - 100.0, high - 100.0, low - 100.0  # crosses zero
        zero = _runs(key + "/z", n, 1 + n // 25, 4)
        close[zero], high[zero], low[zero] = 0.0, 0.0, 0.0
    elif kind == "infinities":
        for sign, part in ((1.0, "p"), (-1.0, "n")):
            where = _runs(key + "/inf" + part, n, 1 + n // 60, 2)
            close[where] = sign * np.inf
            high[where] = np.inf
            low[where] = -np.inf
    elif kind == "negative":
        close, high, low = close - 200.0, high - 200.0, low - 200.0
    elif kind == "huge":
        close, high, low = close * 2.2e36, high * 2.2e36, low * 2.2e36  # near the float32 limit: sums and doubled values overflow
    elif kind == "tiny":
        close, high, low = close * 1e-41, high * 1e-41, low * 1e-41  # subnormal
    elif kind == "steps":
        close = np.floor(close / 4.0) * 4.0  # few distinct values: ties and zero changes
        high, low = np.maximum(high, close), np.minimum(low, close)
    with np.errstate(over="ignore"):  # the far ends of long huge walks become infinite
        return tuple(np.ascontiguousarray(s, dtype=np.float32) for s in (high, low, close))


# ---------------------------------------------------------------- the corpus


def _parameters():
    from velkized_ta import FUNCTION_NAMES
    from velkized_ta._signatures import parameters

    return {name: parameters(name) for name in FUNCTION_NAMES}


def _series_for(name, kind, n, stream):
    """The array a series parameter gets: high, low or close by its name; stages from another draw."""
    high, low, close = price_series(kind, n, stream)
    if name.startswith("high"):
        return high
    if name.startswith("low"):
        return low
    return close


SHORT_LENGTHS = (0, 1, 2, 3, 5, 8, 21)
LONG_LENGTHS = (64, 257, 3000)
N_VALUES = (WHOLE, -2, -1, 0, 1, 2, 3)
HUGE_PERIODS = (2**24 + 2, 2**31 - 2, 2**31 - 1, -2**31)


def _periods_near(n):
    return sorted({-2, -1, 0, 1, 2, 3, 5, 14, n - 1, n, n + 1, n + 4})


def _period_sets(periods, n, wide):
    """Tuples of values for a function's period parameters."""
    if not periods:
        return [()]
    # Long periods: 1 - alpha of the EMA then has more bits than a double product keeps.
    single = _periods_near(n) if wide else [1, 2, 5, 14, 30, 200, 1000]
    if len(periods) == 1:
        return [(p,) for p in single]
    if wide:
        few = sorted({-1, 0, 1, 2, 3, n, n + 1} if len(periods) == 2 else {-1, 0, 1, 2, n})
    else:
        few = [1, 3, 7, 14, 28] if len(periods) == 2 else [1, 4, 14]
    return list(itertools.product(few, repeat=len(periods)))


def cases():
    """(case id, function name, argument builder) for the whole corpus, in a fixed order.

    The builder returns the keyword arguments; the id names them, so a differing case can be
    reproduced from its id alone (`--show`).
    """
    for function, params in _parameters().items():
        periods = [p for p, kind, _ in params if kind == "int" and p != "n_values"]
        flags = [p for p, kind, _ in params if kind == "flag"]
        series = [(p, default) for p, kind, default in params if kind == "series"]
        has_n_values = any(p == "n_values" for p, _, _ in params)
        optional = [p for p, default in series if default is None]

        def spec(kind, n, period_values, flag_values=(), given=None, n_values=None, strided=False):
            parts = [function, kind, f"n={n}"]
            parts += [f"{p}={v}" for p, v in zip(periods, period_values)]
            parts += [f"{p}={int(v)}" for p, v in zip(flags, flag_values)]
            if given is not None:
                parts += [f"{p}={'given' if p in given else 'None'}" for p in optional]
            if n_values is not None:
                parts.append(f"n_values={n_values}")
            if strided:
                parts.append("strided")
            return "|".join(parts)

        # Lengths and periods around each other, every input kind, defaults otherwise.
        for n in SHORT_LENGTHS:
            for kind in ("walk", "nan_runs", "constant", "infinities"):
                for pv in _period_sets(periods, n, wide=True):
                    yield spec(kind, n, pv)
        for n in LONG_LENGTHS:
            for kind in KINDS:
                for pv in _period_sets(periods, n, wide=False):
                    yield spec(kind, n, pv)
        # Periods whose 32-bit arithmetic wraps or which a float does not hold.
        for kind in ("walk", "nan_runs"):
            for p in HUGE_PERIODS:
                pv = {"velk_ult": (2, 3, p), "velk_macd": (12, p)}.get(function, (p,) * len(periods))
                if periods:
                    yield spec(kind, 64, pv)
        # Every flag combination with and without each optional (stage) series.
        for n, kind in ((40, "walk"), (40, "nan_runs"), (300, "walk"), (300, "flat_runs"), (300, "zeros"), (300, "huge"),
                        (300, "tiny")):
            for fv in itertools.product((False, True), repeat=len(flags)):
                for given in itertools.product((False, True), repeat=len(optional)):
                    chosen = tuple(p for p, g in zip(optional, given) if g)
                    for pv in ([(3,) * len(periods), (14,) * len(periods), (150,) * len(periods)] if periods
                               else [()]):
                        if function == "velk_ult":
                            pv = {3: (2, 3, 5), 14: (7, 14, 28), 150: (50, 100, 150)}[pv[0]]
                        if function == "velk_macd":
                            pv = {3: (3, 5), 14: (12, 26), 150: (100, 150)}[pv[0]]
                        yield spec(kind, n, pv, fv, chosen)
        # n_values, also beside and beyond the length, with short and long windows.
        if has_n_values:
            for n in (0, 4, 60, 1000):
                for nv in sorted(set(N_VALUES + (n // 2, n - 1, n, n + 1))):
                    for kind in ("walk", "nan_runs"):
                        for pv in ([(1,), (3,), (14,)] if len(periods) == 1 else
                                   [(2, 3, 5), (7, 14, 28)] if function == "velk_ult" else
                                   [(3, 5), (12, 26)] if function == "velk_macd" else [()]):
                            yield spec(kind, n, pv, n_values=nv)
            for fv in itertools.product((False, True), repeat=len(flags)):
                for nv in (1, 5, 100):
                    pv = {"velk_ult": (2, 3, 5), "velk_macd": (3, 5)}.get(function, (4,) * len(periods))
                    yield spec("walk", 200, pv, fv, tuple(optional), n_values=nv)
        # Non-contiguous inputs give what their contiguous copies give.
        for kind in ("walk", "nan_runs"):
            pv = {"velk_ult": (2, 3, 5), "velk_macd": (3, 5)}.get(function, (5,) * len(periods))
            yield spec(kind, 257, pv, strided=True)


def arguments(case_id):
    """The keyword arguments of case `case_id` (the inverse of its naming in `cases` and `classic_cases`)."""
    if case_id.startswith(CLASSIC):
        return _classic_arguments(case_id)
    function, kind, length, *rest = case_id.split("|")
    params = {p: (k, d) for p, k, d in _parameters()[function]}
    n = int(length[2:])
    strided = rest and rest[-1] == "strided"
    if strided:
        rest = rest[:-1]
    given = {}
    scalars = {}
    for part in rest:
        key, value = part.split("=")
        if value in ("given", "None"):
            given[key] = value == "given"
        elif params[key][0] == "flag":
            scalars[key] = value == "1"
        else:
            scalars[key] = int(value)
    kwargs = {}
    series = [(p, default) for p, (k, default) in params.items() if k == "series"]
    for position, (p, default) in enumerate(series):
        if not given.get(p, True):
            kwargs[p] = None
            continue
        # A handed-in stage is an independent walk; prices come from the case's own draw.
        stage = default is None and position > 0 and not p.startswith(("high", "low"))
        values = _series_for(p, kind, n, "stage" if stage else "a")
        if strided:
            doubled = np.repeat(values, 2)
            doubled[1::2] = np.float32(-7.0)
            values = doubled[::2]
        kwargs[p] = values
    kwargs.update(scalars)
    return function, kwargs


# ---------------------------------------------------------------- the classic family (compared results only)

CLASSIC = "classic."
CLASSIC_SERIES = ((300, "walk"), (300, "nan_runs"), (300, "leading_nan"), (300, "flat_runs"), (40, "walk"))


def _classic_names():
    from velkized_ta import classic

    return classic.NAMES


def classic_cases():
    """Ids of the classic family's cases: every registry entry, default parameters, a few series."""
    for name in _classic_names():
        for n, kind in CLASSIC_SERIES:
            yield f"{CLASSIC}{name}|{kind}|n={n}"


def _classic_arguments(case_id):
    from velkized_ta import classic

    function, kind, length = case_id.split("|")
    n = int(length[2:])
    high, low, close = (s.astype(np.float64) for s in price_series(kind, n, "a"))
    other = price_series(kind, n, "stage")[2].astype(np.float64)
    named = {"high": high, "low": low, "close": close,
             "open": low + (high - low) * _uniform(f"{kind}/{n}/open", n),
             "volume": np.floor(_uniform(f"{kind}/{n}/volume", n) * 5000.0) * np.where(np.isnan(close), np.nan, 1.0),
             "anchor": np.floor(np.arange(n) / 50.0)}  # a new session every 50 bars
    kwargs, others = {}, 0
    for name in classic.descriptor(function[len(CLASSIC):])["inputs"]:
        part = next((key for key in named if key in name), None)
        if part is None:  # a second real series (correlation, beta, ...) is an independent draw
            kwargs[name], others = (close if others == 0 else other), others + 1
        else:
            kwargs[name] = named[part]
    return function, kwargs


def _call(function, kwargs):
    if function.startswith(CLASSIC):
        from velkized_ta import classic

        return getattr(classic, function[len(CLASSIC):])(**kwargs)
    from velkized_ta import velk_ta_funcs

    return getattr(velk_ta_funcs, function)(**kwargs)


def _digest(data):
    return hashlib.blake2b(data, digest_size=10).hexdigest()


def _outcome(function, kwargs, full, nan_digest=False):
    """(outcome text, base64 of the values with `full`, and with `nan_digest` the outcome text with
    every NaN made the one quiet NaN where that differs from the first)."""
    same_nans = None
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = _call(function, kwargs)
        except Exception as error:  # noqa: BLE001 - the exception is part of the outcome
            text, values = f"raises {type(error).__name__}: {error}", None
        else:
            array = np.asarray(result)
            data = np.ascontiguousarray(array).tobytes()
            nan = int(np.isnan(array).sum()) if array.dtype.kind == "f" else 0
            head = f"{type(result).__name__} {array.dtype} {array.shape} nan={nan} "
            text = head + _digest(data)
            values = base64.b64encode(data).decode() if full else None
            if nan_digest and nan:
                canonical = np.where(np.isnan(array), array.dtype.type(np.nan), array)
                same_nans = head + _digest(np.ascontiguousarray(canonical).tobytes())
    said = "".join(f" | warns {w.category.__name__}: {w.message}" for w in caught)
    text += said
    if same_nans is not None:
        same_nans = None if same_nans + said == text else same_nans + said
    return text, values, same_nans


def _inputs_digest():
    """Digest of every input kind at every length the corpus uses: tells a changed generator
    apart from a changed build."""
    h = hashlib.blake2b(digest_size=10)
    for kind in KINDS:
        for n in SHORT_LENGTHS + LONG_LENGTHS + (40, 300, 60, 1000, 200):
            for stream in ("a", "stage"):
                for s in price_series(kind, n, stream):
                    h.update(s.tobytes())
    return h.hexdigest()


def results(full=False, across=False):
    """{"meta": ..., "cases": {id: outcome}, "values": {id: base64 of the result} with `full`}.

    `across` (results to compare between machines and compilers) adds the classic family's cases
    and "same_nans": {id: outcome with every NaN the one quiet NaN}, for the outcomes it changes.
    """
    import velkized_ta

    outcomes, stored, same_nans = {}, {}, {}
    for case_id in itertools.chain(cases(), classic_cases() if across else ()):
        if case_id in outcomes:
            continue
        function, kwargs = arguments(case_id)
        outcomes[case_id], values, canonical = _outcome(function, kwargs, full, nan_digest=across)
        if values is not None:
            stored[case_id] = values
        if canonical is not None:
            same_nans[case_id] = canonical
    meta = {"format": FORMAT, "inputs": _inputs_digest(), "machine": platform.machine(),
            "python": platform.python_version(), "numpy": np.__version__,
            "package": getattr(velkized_ta, "__version__", "?")}
    data = {"meta": meta, "cases": outcomes, "values": stored}
    if across:
        data["same_nans"] = same_nans
    return data


def save(data, path):
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    text = json.dumps(data, indent=0, sort_keys=False, separators=(",", ":"))
    with gzip.GzipFile(path, "wb", mtime=0) as f:  # mtime 0: the same bytes for the same outcomes
        f.write(text.encode())


def load(path):
    with gzip.open(path, "rb") as f:
        return json.loads(f.read().decode())


def differences(expected, actual, nan_signs=None):
    """Lines describing how `actual` differs from `expected` (both from `results`), in corpus order;
    and the number of cases compared. With a Counter `nan_signs`, a case whose outcomes agree once
    every NaN is the one quiet NaN is counted there, by function, instead of listed."""
    lines = []
    if expected["meta"]["inputs"] != actual["meta"]["inputs"]:
        lines.append("the corpus' inputs differ (the generator changed): every case below may follow from it")
    compared = 0
    for case_id, want in expected["cases"].items():
        got = actual["cases"].get(case_id)
        if got is None:
            lines.append(f"{case_id}: missing")
            continue
        compared += 1
        if got == want:
            continue
        if nan_signs is not None and (expected.get("same_nans", {}).get(case_id, want)
                                      == actual.get("same_nans", {}).get(case_id, got)):
            nan_signs[case_id.split("|")[0]] += 1
            continue
        line = f"{case_id}:\n    expected {want}\n    got      {got}"
        a, b = expected.get("values", {}).get(case_id), actual.get("values", {}).get(case_id)
        if a and b:
            line += "\n    " + _first_difference(a, b, np.float64 if " float64 " in want else np.float32)
        lines.append(line)
    extra = [c for c in actual["cases"] if c not in expected["cases"]]
    lines += [f"{c}: not in the expected file" for c in extra]
    return lines, compared


def _first_difference(a, b, dtype):
    x = np.frombuffer(base64.b64decode(a), dtype=dtype)
    y = np.frombuffer(base64.b64decode(b), dtype=dtype)
    if x.shape != y.shape:
        return f"lengths {len(x)} and {len(y)}"
    bits = np.dtype(f"i{x.itemsize}")
    where = np.flatnonzero(x.view(bits) != y.view(bits))
    ulps = np.abs(x.view(bits)[where].astype(np.int64) - y.view(bits)[where].astype(np.int64))
    return (f"{len(where)} positions differ, first {where[0]}: {x[where[0]]!r} vs {y[where[0]]!r}; "
            f"largest distance {ulps.max()} units in the last place")


def _git_head():
    try:
        return subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"], capture_output=True,
                              text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "?"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--check", action="store_true", help="compare the installed build with the snapshot")
    action.add_argument("--write", action="store_true", help="re-record the snapshot (needs --reason)")
    action.add_argument("--results", metavar="FILE", help="write this machine's outcomes to FILE")
    action.add_argument("--compare", nargs=2, metavar=("EXPECTED", "ACTUAL"), help="compare two results files")
    action.add_argument("--show", metavar="CASE", help="print one case's arguments and outcome")
    parser.add_argument("--reason", help="why the frozen outputs change (also in the commit message)")
    parser.add_argument("--full", action="store_true", help="with --results: store every result's values")
    args = parser.parse_args(argv)

    if args.write:
        if not args.reason or not args.reason.strip():
            parser.error("--write needs --reason: the snapshot changes only deliberately, and says why")
        data = results()
        data["meta"]["reason"] = args.reason.strip()
        data["meta"]["recorded_at"] = _git_head()
        save(data, SNAPSHOT)
        print(f"recorded {len(data['cases'])} cases in {SNAPSHOT.relative_to(ROOT)} "
              f"({SNAPSHOT.stat().st_size} bytes); put the reason in the commit message")
        return 0
    if args.results:
        data = results(full=args.full, across=True)
        save(data, args.results)
        meta = data["meta"]
        print(f"wrote {len(data['cases'])} cases to {args.results} ({meta['machine']}, Python {meta['python']}, "
              f"numpy {meta['numpy']})")
        return 0
    if args.show:
        function, kwargs = arguments(args.show)
        for name, value in kwargs.items():
            print(f"{name} = {value!r}" if not isinstance(value, np.ndarray) else
                  f"{name} = {value.dtype}[{len(value)}] {np.array2string(value, threshold=12)}")
        print(_outcome(function, kwargs, False)[0])
        return 0
    nan_signs = None
    if args.compare:
        expected, actual = load(args.compare[0]), load(args.compare[1])
        if "same_nans" in expected and "same_nans" in actual:
            nan_signs = collections.Counter()
    else:
        expected, actual = load(SNAPSHOT), results()
    lines, compared = differences(expected, actual, nan_signs)
    print(f"{compared} cases compared, {len(lines)} differences")
    if nan_signs is not None:
        by_function = ", ".join(f"{f} {c}" for f, c in sorted(nan_signs.items()))
        print(f"{sum(nan_signs.values())} cases differ in the sign or payload of a NaN alone"
              + (f" ({by_function})" if by_function else ""))
    for line in lines:
        print(line)
    return 1 if lines else 0


if __name__ == "__main__":
    sys.exit(main())
