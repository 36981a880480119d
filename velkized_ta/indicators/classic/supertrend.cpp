// Supertrend.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 3, outputs = 2;
  static constexpr bool fused_steps = true;  // its ATR steps by fused multiply-adds
  explicit State(const double* params) : multiplier(params[1]), atr(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double high = bar[0], low = bar[1], close = bar[2];
    const bool first = !has_previous;
    const double previous = previous_close;
    previous_close = close;
    has_previous = true;
    if (first || !atr.push(true_range(high, low, previous))) return false;
    const double middle = 0.5 * (high + low);
    const double width = multiplier * atr.value;
    const double basic_upper = middle + width, basic_lower = middle - width;
    if (!started) {
      started = true;
      upper = basic_upper;
      lower = basic_lower;
      rising = false;
    } else {
      // A band only tightens while the previous close stayed inside it.
      upper = (basic_upper < upper || previous > upper) ? basic_upper : upper;
      lower = (basic_lower > lower || previous < lower) ? basic_lower : lower;
      rising = rising ? !(close < lower) : close > upper;
    }
    out[0] = rising ? lower : upper;
    out[1] = rising ? 1.0 : -1.0;
    return true;
  }
  // Once started: step's rules with the bands and the ATR in locals. A band tightens on about a
  // fifth of the bars, a coin toss: a select (minsd / maxsd, the ternary's own rule for NaN and
  // ties), the only step on the band's bar-to-bar chain. A band resets (the previous close left
  // it) and the trend turns on about 2% of the bars: branches, predicted, off the chains.
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t) {
    for (; from < to && !started; ++from) step_at(*this, in, from, out);
    run_started<false>(in, from, to, out);
  }
  // Spans as they come: one holding no NaN bar (nearly all) runs as real bars, each bar tested on
  // the way, instead of after a separate scan; one that held a NaN bar runs again from the state
  // it started with, by its runs of real bars.
  template <class Out>
  void run_mixed(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out) {
    if (started) {
      const State start = *this;
      if (run_started<true>(in, from, to, out)) return;
      *this = start;
    }
    run_real_spans(*this, in, from, to, out);
  }
  // Bars from .. to - 1 once started; with test_nan, whether none of them held a NaN (their
  // outputs and the state are then those of the real bars; otherwise to be thrown away):
  // (high - low) + close summed is NaN if one did (or, rarely, from infinite prices: then the span
  // only runs again, by runs of real bars).
  template <bool test_nan, class Out>
  bool run_started(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out) {
    double probe = 0.0;
    const double kept = atr.kept, share = atr.share, factor = multiplier;
    double average = atr.value, close_before = previous_close, up = upper, down = lower;
    bool up_trend = rising;
    // The bands' step at bar t, given its true-range share and middle.
    const auto bands_at = [&](ptrdiff_t t, double range_share, double middle) {
      average = fused(average, kept, range_share);
      const double width = factor * average;
      const double basic_upper = middle + width, basic_lower = middle - width;
      const double close = in[2][t];
      if (__builtin_expect(close_before > up, 0)) {
        up = keep_in_register(basic_upper);
      } else {
        up = select_less(basic_upper, up);
      }
      if (__builtin_expect(close_before < down, 0)) {
        down = keep_in_register(basic_lower);
      } else {
        down = select_greater(basic_lower, down);
      }
      if (__builtin_expect(up_trend ? close < down : close > up, 0)) up_trend = !up_trend;
      out[0][t] = static_cast<Out>(up_trend ? down : up);
      out[1][t] = static_cast<Out>(up_trend ? 1.0 : -1.0);
      close_before = close;
    };
    const auto bar_at = [&](ptrdiff_t t) {
      const double high = in[0][t], low = in[1][t];
      if constexpr (test_nan) probe += (high - low) + in[2][t];
      bands_at(t, true_range(high, low, close_before) * share, 0.5 * (high + low));
    };
    ptrdiff_t t = from;
    if (t < to) bar_at(t++);  // from here on the previous close is the input's
#if defined(VELK_CLASSIC_LANES)
    // Two bars' true-range shares and middles at once (each lane the scalar operations).
    Lanes lanes_probe = {0.0, 0.0};
    for (; t + lane_count <= to; t += lane_count) {
      const Lanes high = load_as<Lanes>(in[0] + t), low = load_as<Lanes>(in[1] + t);
      if constexpr (test_nan) lanes_probe += (high - low) + load_as<Lanes>(in[2] + t);
      const Lanes shares = true_range(high, low, load_as<Lanes>(in[2] + t - 1)) * share;
      const Lanes middles = 0.5 * (high + low);
      bands_at(t, shares[0], middles[0]);
      bands_at(t + 1, shares[1], middles[1]);
    }
    probe += lanes_probe[0] + lanes_probe[1];
#endif
    for (; t < to; ++t) bar_at(t);
    upper = up;
    lower = down;
    rising = up_trend;
    atr.value = average;
    previous_close = close_before;
    return probe == probe;
  }
  template <class Archive>
  void fields(Archive& a) {
    atr.fields(a);
    a(previous_close);
    a(has_previous);
    a(started);
    a(rising);
    a(upper);
    a(lower);
  }
  // Wilder's average as WilderAverage computes and pickles it, its members open to run_real.
  struct OpenWilderAverage {
    explicit OpenWilderAverage(int64_t average_period)
        : period(average_period),
          kept(wilder_kept(average_period)),
          share(1.0 - kept) {}
    bool push(double x) {
      if (seen < period) {
        value += x;
        if (++seen < period) return false;
        value /= static_cast<double>(period);
        return true;
      }
      value = fused(value, kept, x * share);
      return true;
    }
    template <class Archive>
    void fields(Archive& a) {
      a(value);
      a(seen);
    }
    int64_t period;
    double kept, share;
    double value = 0.0;
    int64_t seen = 0;
  };
  double multiplier;
  OpenWilderAverage atr;
  double previous_close = 0.0;
  bool has_previous = false;
  bool started = false;
  bool rising = false;
  double upper = 0.0, lower = 0.0;
};

const Registrar<State> registered{Descriptor{
    "supertrend", "overlap", "Supertrend: an ATR band below the price in an uptrend, above it in a downtrend.",
    R"(basic upper/lower = (high + low) / 2 +/- multiplier * atr(high, low, close, timeperiod)
upper = basic upper if it is below the previous upper or the previous close was above the previous
        upper, else the previous upper (lower alike, mirrored)
direction: an uptrend turns down when close < lower, a downtrend turns up when close > upper
trend = lower in an uptrend, upper in a downtrend; direction = 1 (up) or -1 (down)

Olivier Seban's definition as charting platforms compute it (TradingView's ta.supertrend, with its
direction sign reversed: 1 here means up), Wilder's ATR seeded with the simple average. The first
value, at timeperiod (the ATR's), starts a downtrend on the basic bands, as TradingView does. Flat
prices give the price and direction -1.
TA-Lib SUPERTREND: same rules, defaults, first value and output order (supertrend, trend; its
trend is an integer, 0 before the first value), but its first value starts an uptrend (the lower
band, direction 1) where this starts a downtrend. The two give identical values from the first bar
where their directions agree: 11 bars after the first value (median; 54 at most) on 3000-bar
random walks with the tests' parameters; until then trend differs by the bands' width,
2 * multiplier * atr. TA-Lib's timeperiod starts at 2 (1 here). The tests compare with a direct
evaluation of these rules over TA-Lib's ATR, from either first direction.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 0 on a 10^6-bar random walk, 0 on a level drop 1e5 -> 1, each from that first
agreeing bar (20 and 39 bars after the first value).
pandas-ta's supertrend differs: it ratchets a band only on bars where the close stays between the
previous bands (on a 20000-bar random walk 282 trend values and 61 directions differ).)",
    {"high", "low", "close"},
    {{"timeperiod", ParamKind::integer, 10, 1, 100000, "Period of the ATR."},
     {"multiplier", ParamKind::real, 3.0, 0.0, 3e37, "ATRs between the bar's midpoint and a band."}},
    {"trend", "direction"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
