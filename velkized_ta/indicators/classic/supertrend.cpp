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
  // Once started: step's rules with the bands and the ATR in locals, each choice a select (the
  // band and trend choices are coin tosses on prices).
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t) {
    for (; from < to && !started; ++from) step_at(*this, in, from, out);
    const double kept = atr.kept, share = atr.share, factor = multiplier;
    double average = atr.value, close_before = previous_close;
#if defined(__SSE2__)
    // Comparisons as all-ones masks in SSE registers, choices as and/andnot/or: no transfers to
    // integer registers on the band's bar-to-bar chain. Each mask is the C comparison's value
    // (false when unordered), !(a < b) the negated mask.
    __m128d up = _mm_set_sd(upper), down = _mm_set_sd(lower);
    __m128d up_trend = _mm_castsi128_pd(_mm_set1_epi64x(rising ? -1 : 0));
    const __m128d plus_one = _mm_set_sd(1.0), minus_one = _mm_set_sd(-1.0);
    const auto choose = [](__m128d mask, __m128d a, __m128d b) {
      return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
    };
    // The bands' step at bar t, given its ATR and middle.
    const auto bands_at = [&](ptrdiff_t t, double middle) {
      const double width = factor * average;
      const __m128d basic_upper = _mm_set_sd(middle + width), basic_lower = _mm_set_sd(middle - width);
      const __m128d before = _mm_set_sd(close_before), close = _mm_set_sd(in[2][t]);
      up = choose(_mm_or_pd(_mm_cmplt_sd(basic_upper, up), _mm_cmplt_sd(up, before)), basic_upper, up);
      down = choose(_mm_or_pd(_mm_cmplt_sd(down, basic_lower), _mm_cmplt_sd(before, down)), basic_lower, down);
      up_trend = choose(up_trend, _mm_cmpnlt_sd(close, down), _mm_cmplt_sd(up, close));
      out[0][t] = static_cast<Out>(_mm_cvtsd_f64(choose(up_trend, down, up)));
      out[1][t] = static_cast<Out>(_mm_cvtsd_f64(choose(up_trend, plus_one, minus_one)));
      close_before = in[2][t];
    };
    const auto bar_at = [&](ptrdiff_t t) {
      const double high = in[0][t], low = in[1][t];
      average = fused(average, kept, true_range(high, low, close_before) * share);
      bands_at(t, 0.5 * (high + low));
    };
    ptrdiff_t t = from;
    if (t < to) bar_at(t++);  // from here on the previous close is the input's
#if defined(VELK_CLASSIC_LANES)
    // Two bars' true-range shares and middles at once (each lane the scalar operations): the loop
    // runs out of issue slots before its chains, and this halves that part of its work.
    for (; t + lane_count <= to; t += lane_count) {
      const Lanes high = load_as<Lanes>(in[0] + t), low = load_as<Lanes>(in[1] + t);
      const Lanes shares = true_range(high, low, load_as<Lanes>(in[2] + t - 1)) * share;
      const Lanes middles = 0.5 * (high + low);
      average = fused(average, kept, shares[0]);
      bands_at(t, middles[0]);
      average = fused(average, kept, shares[1]);
      bands_at(t + 1, middles[1]);
    }
#endif
    for (; t < to; ++t) bar_at(t);
    upper = _mm_cvtsd_f64(up);
    lower = _mm_cvtsd_f64(down);
    rising = (_mm_movemask_pd(up_trend) & 1) != 0;
#else
    double up = upper, down = lower;
    bool up_trend = rising;
    for (ptrdiff_t t = from; t < to; ++t) {
      const double high = in[0][t], low = in[1][t], close = in[2][t];
      average = fused(average, kept, true_range(high, low, close_before) * share);
      const double middle = 0.5 * (high + low);
      const double width = factor * average;
      const double basic_upper = middle + width, basic_lower = middle - width;
      up = (basic_upper < up) | (close_before > up) ? basic_upper : up;
      down = (basic_lower > down) | (close_before < down) ? basic_lower : down;
      up_trend = up_trend ? !(close < down) : close > up;
      out[0][t] = static_cast<Out>(up_trend ? down : up);
      out[1][t] = static_cast<Out>(up_trend ? 1.0 : -1.0);
      close_before = close;
    }
    upper = up;
    lower = down;
    rising = up_trend;
#endif
    atr.value = average;
    previous_close = close_before;
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
TA-Lib has no Supertrend; the tests compare with a direct evaluation of these rules over TA-Lib's
ATR. pandas-ta's supertrend differs: it ratchets a band only on bars where the close stays between
the previous bands (on a 20000-bar random walk 282 trend values and 61 directions differ).)",
    {"high", "low", "close"},
    {{"timeperiod", ParamKind::integer, 10, 1, 100000, "Period of the ATR."},
     {"multiplier", ParamKind::real, 3.0, 0.0, 3e37, "ATRs between the bar's midpoint and a band."}},
    {"trend", "direction"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
