// Ichimoku cloud lines, at the bar they are computed from.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

// Midpoint of the highest high and lowest low over one window.
struct Midrange {
  explicit Midrange(int64_t period) : highs(period), lows(period) {}
  void push(double high, double low) {
    highs.push(high);
    lows.push(low);
  }
  double value() const { return 0.5 * (highs.highest() + lows.lowest()); }
  template <class Archive>
  void fields(Archive& a) {
    highs.fields(a);
    lows.fields(a);
  }
  WindowHighest highs;
  WindowLowest lows;
};

// Each line starts when its own windows are full: conversion at tenkan - 1, base at kijun - 1,
// span_a at the later of the two, span_b at senkou - 1.
void first_positions(const double* p, int64_t* positions) {
  const int64_t tenkan = int_param(p, 0), kijun = int_param(p, 1), senkou = int_param(p, 2);
  positions[0] = tenkan - 1;
  positions[1] = kijun - 1;
  positions[2] = std::max(tenkan, kijun) - 1;
  positions[3] = senkou - 1;
}

struct State {
  static constexpr int inputs = 3, outputs = 4;
  explicit State(const double* params)
      : conversion(int_param(params, 0)), base(int_param(params, 1)), span(int_param(params, 2)),
        tenkan(int_param(params, 0)), kijun(int_param(params, 1)), senkou(int_param(params, 2)),
        longest(std::max({tenkan, kijun, senkou})) {}
  bool step(const double* bar, double* out) {
    conversion.push(bar[0], bar[1]);
    base.push(bar[0], bar[1]);
    span.push(bar[0], bar[1]);
    if (seen < longest) ++seen;
    if (seen < std::min({tenkan, kijun, senkou})) return false;
    out[0] = seen >= tenkan ? conversion.value() : nan_value;
    out[1] = seen >= kijun ? base.value() : nan_value;
    out[2] = seen >= std::max(tenkan, kijun) ? 0.5 * (out[0] + out[1]) : nan_value;
    out[3] = seen >= senkou ? span.value() : nan_value;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    conversion.fields(a);
    base.fields(a);
    span.fields(a);
    a(seen);
  }
  Midrange conversion, base, span;
  int64_t tenkan, kijun, senkou, longest;  // from the parameters, not pickled
  int64_t seen = 0;
};

const Registrar<State> registered{Descriptor{
    "ichimoku", "overlap", "Ichimoku lines: conversion, base and the two cloud spans, not shifted forward.",
    R"(conversion (tenkan-sen) = (highest high + lowest low) / 2 over tenkan bars
base (kijun-sen)         = the same over kijun bars
span_a (senkou span A)   = (conversion + base) / 2
span_b (senkou span B)   = (highest high + lowest low) / 2 over senkou bars

Goichi Hosoda's lines. Each value is given at the bar it is computed from: charts draw the spans
kijun bars ahead (shift them forward to plot a cloud), and the lagging span (the close drawn kijun
bars back) is left out, as it would place a future close on past bars. close is an input only for
the usual (high, low, close) call (a NaN close still skips its bar). Each line starts when its
windows are full: conversion at tenkan - 1, base at kijun - 1, span_a at the later of the two,
span_b at senkou - 1 (8, 25, 25 and 51 with the defaults). Flat prices give the price on every line.
TA-Lib has no Ichimoku; each line is TA-Lib's MIDPRICE of its window (identical values).
pandas-ta's ichimoku gives identical values with its spans shifted kijun - 1 bars forward.)",
    {"high", "low", "close"},
    {{"tenkan", ParamKind::integer, 9, 1, 100000, "Bars of the conversion line."},
     {"kijun", ParamKind::integer, 26, 1, 100000, "Bars of the base line."},
     {"senkou", ParamKind::integer, 52, 1, 100000, "Bars of span B."}},
    {"conversion", "base", "span_a", "span_b"},
    [](const double* p) { return std::max({int_param(p, 0), int_param(p, 1), int_param(p, 2)}) - 1; },
    first_positions}};

}  // namespace
}  // namespace velk::classic
