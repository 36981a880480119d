// Momentum oscillators: rate of change, RSI, CMO, Williams %R, fast stochastic,
// ultimate oscillator, commodity channel index.

#include <cmath>

#include "indicators/bodies.hpp"
#include "indicators/position_queue.hpp"

namespace velk::indicators {

namespace {

// ---------------------------------------------------------------------------
// Rate of change

// Its element access behaves like numpy item indexing, so out-of-range
// positions raise numpy's IndexError rather than the buffer one.
struct ItemIndexError {
  int64_t index;
  int64_t size;
};

int64_t item_position(const FloatView& v, int64_t p) {
  if (p < -v.size() || p >= v.size()) throw ItemIndexError{p, v.size()};
  return p < 0 ? p + v.size() : p;
}

void roc_kernel(const FloatView& x, const FloatView& out, int32_t period, int32_t start, int32_t n) {
  for (int64_t i = start; i < n; ++i) {
    const int64_t base_at = i - period;
    const float current = x.get_unchecked(item_position(x, i));
    const float base = x.get_unchecked(item_position(x, base_at));
    const float change = current - base;
    // A zero base would divide by zero; a tiny substitute keeps the sign of the change.
    const double divisor = base != 0.0f ? static_cast<double>(base) : static_cast<double>(base) + 1e-9;
    out.set_unchecked(item_position(out, i), static_cast<float>(static_cast<double>(change) / divisor));
  }
}

// ---------------------------------------------------------------------------
// RSI and CMO

struct Split {
  float gain;
  float loss;
};

// NaN and zero changes are neither gain nor loss.
Split split_change(float change) {
  if (change > 0.0f) return {change, 0.0f};
  if (change < 0.0f) return {0.0f, -change};
  return {0.0f, 0.0f};
}

void rsi_kernel(const FloatView& close, const FloatView& out, int32_t period, int32_t start, int32_t n) {
  float total_gain = 0.0f;
  float total_loss = 0.0f;
  // The totals hold period x average, so the seed is a plain sum.
  for (int64_t i = 1; i <= period; ++i) {
    const Split s = split_change(close[i] - close[i - 1]);
    total_gain += s.gain;
    total_loss += s.loss;
  }
  const float p = static_cast<float>(period);
  auto smooth = [&](int64_t i) {
    const Split s = split_change(close[i] - close[i - 1]);
    total_gain = total_gain + (s.gain - divide(total_gain, p));
    total_loss = total_loss + (s.loss - divide(total_loss, p));
  };
  for (int64_t i = int64_t{period} + 1; i < start; ++i) smooth(i);
  for (int64_t i = start; i < n; ++i) {
    smooth(i);
    if (total_loss != 0.0f) {
      // Both totals are non-negative, so r >= 1 (or NaN).
      const float r = total_gain / total_loss + 1.0f;
      out.set(i, static_cast<float>(100.0 - 100.0 / static_cast<double>(r)));
    } else {
      out.set(i, 100.0f);
    }
  }
}

struct GainLossSums {
  float gains = 0.0f;
  float losses = 0.0f;

  void enter(float change) {
    if (change >= 0.0f) {
      gains += change;
    } else if (change < 0.0f) {
      losses -= change;
    }
  }
  void leave(float change) {
    if (change >= 0.0f) {
      gains -= change;
    } else if (change < 0.0f) {
      losses += change;
    }
  }
  float ratio() const {
    const float total = gains + losses;
    return total != 0.0f ? (gains - losses) / total : 0.0f;
  }
};

void cmo_kernel(const FloatView& close, const FloatView& out, int32_t period, int32_t start, int32_t n) {
  GainLossSums sums;
  for (int64_t i = int64_t{start} - period + 1; i <= start; ++i) sums.enter(close[i] - close[i - 1]);
  out.set(start, sums.ratio());
  for (int64_t i = int64_t{start} + 1; i < n; ++i) {
    const float entering = close[i] - close[i - 1];
    const int64_t leaving_at = i - period;
    const float leaving = close[leaving_at] - close[leaving_at - 1];
    sums.enter(entering);
    sums.leave(leaving);
    out.set(i, sums.ratio());
  }
}

// ---------------------------------------------------------------------------
// Williams %R and fast stochastic share the window extremes.

struct ExtremeQueues {
  HighQueue high;
  LowQueue low;

  void push(int32_t i) {
    high.push(i);
    low.push(i);
  }
  // Both fronts are checked before either queue takes the new position.
  void advance(int64_t i, int32_t period) {
    const int64_t oldest_expired = i - period;
    high.expire(oldest_expired);
    low.expire(oldest_expired);
    push(static_cast<int32_t>(i));
  }
};

enum class RangeFraction { FromHigh, FromLow };

// Seeds the window ending before `start`, then writes from `start` on the
// close's place in the window's range; a range of width 0 leaves NaN.
template <RangeFraction kind>
void extreme_range_kernel(const FloatView& close, const FloatView& out, ExtremeQueues& queues, int32_t period,
                          int32_t start, int32_t n) {
  for (int64_t i = int64_t{start} - period + 1; i < start; ++i) queues.push(static_cast<int32_t>(i));
  for (int64_t i = start; i < n; ++i) {
    queues.advance(i, period);
    const float highest_high = queues.high.front_value();
    const float lowest_low = queues.low.front_value();
    if (highest_high == lowest_low) continue;
    if constexpr (kind == RangeFraction::FromHigh) {
      out.set(i, (highest_high - close[i]) / (highest_high - lowest_low));
    } else {
      out.set(i, (close[i] - lowest_low) / (highest_high - lowest_low));
    }
  }
}

// `first_position(n)` gives the first written position for a series of length n.
template <RangeFraction kind, typename FirstPosition>
PyObject* extreme_range_body(Call& call, int32_t period, FirstPosition first_position) {
  const FloatView& high = call.array(0);
  const FloatView& low = call.array(1);
  const FloatView& close = call.array(2);
  const int32_t n = call.length(call.object(2));
  const int32_t start = first_position(n);

  Ref result = call.new_series(n);
  const FloatView out = call.float_view(result.get(), true);
  Ref high_indices = call.new_zeros(n, "int32");
  const IntView high_slots = call.int_view(high_indices.get());
  Ref low_indices = call.new_zeros(n, "int32");
  const IntView low_slots = call.int_view(low_indices.get());

  ExtremeQueues queues{HighQueue(high_slots, high), LowQueue(low_slots, low)};
  extreme_range_kernel<kind>(close, out, queues, period, start, n);
  return result.release();
}

// ---------------------------------------------------------------------------
// Ultimate oscillator

struct Bar {
  float bp;
  float tr;
};

// Buying pressure and true range of bar j against the previous close; a NaN
// previous close falls back to the bar's own low and high.
Bar pressure_and_range(const FloatView& high, const FloatView& low, const FloatView& close, int64_t j) {
  const float previous = close[j - 1];
  const float l = low[j];
  const float lower = previous < l ? previous : l;
  const float h = high[j];
  const float upper = previous > h ? previous : h;
  return {close[j] - lower, upper - lower};
}

struct PressureSums {
  float bp = 0.0f;
  float tr = 0.0f;

  void add(const Bar& bar) {
    bp += bar.bp;
    tr += bar.tr;
  }
  void slide(const Bar& entering, const Bar& leaving) {
    bp = bp + (entering.bp - leaving.bp);
    tr = tr + (entering.tr - leaving.tr);
  }
  // A window without any range would divide by zero; the substitute stays in the sum.
  void guard_zero_range() {
    if (tr == 0.0f) tr += 1e-10f;
  }
};

struct UltPeriods {
  int32_t short_period;
  int32_t medium_period;
  int32_t long_period;
};

void ult_kernel(const FloatView& high, const FloatView& low, const FloatView& close, const FloatView& out,
                UltPeriods periods, int32_t start, int32_t n) {
  PressureSums short_sums, medium_sums, long_sums;
  const int64_t short_from = int64_t{start} - periods.short_period;
  const int64_t medium_from = int64_t{start} - periods.medium_period;
  for (int64_t j = int64_t{start} - periods.long_period; j < start; ++j) {
    const Bar bar = pressure_and_range(high, low, close, j);
    long_sums.add(bar);
    if (j >= medium_from) medium_sums.add(bar);
    if (j >= short_from) short_sums.add(bar);
  }
  const int32_t weight_sum = add32(add32(periods.short_period, periods.medium_period), periods.long_period);
  const float s = static_cast<float>(periods.short_period);
  const float m = static_cast<float>(periods.medium_period);
  const float l = static_cast<float>(periods.long_period);
  const float w = static_cast<float>(weight_sum);
  for (int64_t i = start; i < n; ++i) {
    const Bar entering = pressure_and_range(high, low, close, i);
    short_sums.slide(entering, pressure_and_range(high, low, close, i - periods.short_period));
    medium_sums.slide(entering, pressure_and_range(high, low, close, i - periods.medium_period));
    long_sums.slide(entering, pressure_and_range(high, low, close, i - periods.long_period));
    short_sums.guard_zero_range();
    medium_sums.guard_zero_range();
    long_sums.guard_zero_range();
    if (weight_sum == 0) throw FloatDivision{};
    // Crosswise weights: the shortest window counts most.
    const float weighted = (short_sums.bp * l / short_sums.tr + medium_sums.bp * m / medium_sums.tr) +
                           long_sums.bp * s / long_sums.tr;
    out.set(i, weighted / w);
  }
}

// ---------------------------------------------------------------------------
// Commodity channel index

// Square root through numpy where it is undefined, so that numpy's
// invalid-value warning (or error, under np.errstate) is what the caller sees.
double numpy_sqrt(Call& call, double v) {
  if (!(v < 0.0)) return std::sqrt(v);
  Ref sqrt = call.numpy_attr("sqrt");
  Ref argument = checked(PyFloat_FromDouble(v));
  Ref root = checked(PyObject_CallOneArg(sqrt.get(), argument.get()));
  const double value = PyFloat_AsDouble(root.get());
  if (value == -1.0 && PyErr_Occurred()) throw PythonError{};
  return value;
}

struct CciWindow {
  float sum = 0.0f;
  float sum_squared = 0.0f;
  float p;

  explicit CciWindow(int32_t period) : p(static_cast<float>(period)) {}

  void add(float tp) {
    sum += tp;
    sum_squared += tp * tp;
  }
  void slide(float new_tp, float old_tp) {
    sum = sum + (new_tp - old_tp);
    sum_squared = sum_squared + (new_tp * new_tp - old_tp * old_tp);
  }
  // The spread is the population deviation from running sums, which rounding
  // can push to zero or below; zero scores 0, below zero gives NaN.
  float score(Call& call, float tp) const {
    const float mean = sum / p;
    const float variance = sum_squared / p - mean * mean;
    if (variance == 0.0f) return 0.0f;
    const double root = numpy_sqrt(call, static_cast<double>(variance));
    return static_cast<float>(static_cast<double>(tp - mean) / (root * 0.015));
  }
};

void cci_kernel(Call& call, const FloatView& tp, const FloatView& out, int32_t period, int32_t start,
                int32_t n, int32_t n_values) {
  CciWindow window(period);
  for (int64_t j = int64_t{start} - period; j < start; ++j) window.add(tp[j]);
  // The window ending just before start is complete and wanted only when start
  // is the warm-up end itself.
  if (int64_t{start} - 1 >= sub32(n, n_values)) {
    if (period == 0) throw FloatDivision{};
    const int64_t at = int64_t{start} - 1;
    out.set(at, window.score(call, tp[at]));
  }
  for (int64_t i = start; i < n; ++i) {
    const float old_tp = tp[i - period];
    const float new_tp = tp[i];
    if (period == 0) throw FloatDivision{};
    window.slide(new_tp, old_tp);
    out.set(i, window.score(call, new_tp));
  }
}

// ((high + low) + close) / 3 as numpy evaluates it, broadcasting and errors included.
Ref typical_price(PyObject* high, PyObject* low, PyObject* close) {
  Ref high_low = checked(PyNumber_Add(high, low));
  Ref total = checked(PyNumber_Add(high_low.get(), close));
  Ref three = py_int(3);
  return checked(PyNumber_TrueDivide(total.get(), three.get()));
}

}  // namespace

PyObject* velk_roc(Call& call) {
  PyObject* input_array = call.object(0);
  const FloatView& x = call.array(0);
  const int32_t timeperiod = call.integer(1);
  const int32_t n_values = call.integer(2);

  const int32_t n = call.length(input_array);
  Ref roc = call.new_series(n);
  const FloatView out = call.float_view(roc.get(), true);
  const int32_t start = trailing_start(timeperiod, n, n_values);
  try {
    roc_kernel(x, out, timeperiod, start, n);
  } catch (const ItemIndexError& e) {
    PyErr_Format(PyExc_IndexError, "index %lld is out of bounds for axis 0 with size %lld",
                 static_cast<long long>(e.index), static_cast<long long>(e.size));
    throw PythonError{};
  }
  return roc.release();
}

PyObject* velk_rsi(Call& call) {
  PyObject* close = call.object(0);
  const FloatView& x = call.array(0);
  const int32_t timeperiod = call.integer(1);
  const int32_t n_values = call.integer(2);

  const int32_t n = call.length(close);
  Ref rsi = call.new_series(n);
  const FloatView out = call.float_view(rsi.get(), true);
  const int32_t start = trailing_start(add32(timeperiod, 1), n, n_values);
  rsi_kernel(x, out, timeperiod, start, n);
  return rsi.release();
}

PyObject* velk_cmo(Call& call) {
  PyObject* close_arr = call.object(0);
  const FloatView& x = call.array(0);
  const int32_t timeperiod = call.integer(1);
  const int32_t n_values = call.integer(2);

  const int32_t n = call.length(close_arr);
  Ref cmo = call.new_series(n);
  const FloatView out = call.float_view(cmo.get(), true);
  const int32_t start = trailing_start(timeperiod, n, n_values);
  cmo_kernel(x, out, timeperiod, start, n);
  return cmo.release();
}

PyObject* velk_willr(Call& call) {
  const int32_t timeperiod = call.integer(3);
  const int32_t n_values = call.integer(4);
  return extreme_range_body<RangeFraction::FromHigh>(call, timeperiod, [&](int32_t n) {
    return trailing_start(sub32(timeperiod, 1), n, n_values);
  });
}

PyObject* velk_stochf(Call& call) {
  const int32_t timeperiod = call.integer(3);
  // `stream` and `last_value_only` are accepted for compatibility; every call
  // returns the full series.
  return extreme_range_body<RangeFraction::FromLow>(call, timeperiod,
                                                    [&](int32_t) { return sub32(timeperiod, 1); });
}

PyObject* velk_ult(Call& call) {
  PyObject* close_arr = call.object(2);
  const UltPeriods periods{call.integer(3), call.integer(4), call.integer(5)};
  const int32_t n_values = call.integer(6);

  const int32_t n = call.length(close_arr);
  Ref uo = call.new_series(n);
  const FloatView out = call.float_view(uo.get(), true);
  const int32_t start = trailing_start(periods.long_period, n, n_values);
  ult_kernel(call.array(0), call.array(1), call.array(2), out, periods, start, n);
  return uo.release();
}

PyObject* velk_cci(Call& call) {
  PyObject* high_arr = call.object(0);
  PyObject* low_arr = call.object(1);
  PyObject* close_arr = call.object(2);
  const int32_t timeperiod = call.integer(3);
  const int32_t n_values = call.integer(4);

  const int32_t n = call.length(close_arr);
  const int32_t start = trailing_start(timeperiod, n, n_values);
  Ref cci = call.new_series(n);
  const FloatView out = call.float_view(cci.get(), true);
  Ref typical = typical_price(high_arr, low_arr, close_arr);
  const FloatView tp = call.float_view(typical.get(), false);
  cci_kernel(call, tp, out, timeperiod, start, n, n_values);
  return cci.release();
}

}  // namespace velk::indicators
