// Parabolic SAR.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 2, outputs = 1;
  explicit State(const double* params)
      : step_size(std::min(params[0], params[1])), maximum(params[1]) {}
  bool step(const double* bar, double* out) {
    const double high = bar[0], low = bar[1];
    if (bars == 0) {
      bars = 1;
      previous_high = high;
      previous_low = low;
      return false;
    }
    if (bars == 1) {
      bars = 2;
      // Short when the first move is a larger drop of the low than rise of the high.
      const double drop = previous_low - low, rise = high - previous_high;
      is_long = !(drop > 0.0 && rise < drop);
      sar = is_long ? previous_low : previous_high;
      extreme = is_long ? high : low;
      factor = step_size;
      previous_high = high;  // the first bar is bounded by its own range only
      previous_low = low;
    }
    if (is_long) {
      if (low <= sar) {
        reverse(std::max({extreme, previous_high, high}), low, out);
        sar = std::max({sar, previous_high, high});
      } else {
        out[0] = sar;
        advance(high > extreme, high);
        sar = std::min({sar, previous_low, low});
      }
    } else {
      if (high >= sar) {
        reverse(std::min({extreme, previous_low, low}), high, out);
        sar = std::min({sar, previous_low, low});
      } else {
        out[0] = sar;
        advance(low < extreme, low);
        sar = std::max({sar, previous_high, high});
      }
    }
    previous_high = high;
    previous_low = low;
    return true;
  }
  // Bars after the first two: step's rules with the trend's values in locals. The bounds by the
  // last two bars are std::max/min of three (the first of equals) as branches marked unlikely and
  // kept branches by an empty asm: the SAR rarely crosses them, so they are predicted and stay off
  // the bar-to-bar chain, where selects (GCC's choice for a plain `if`, even marked) would add
  // their latencies (measured 10^6 bars 6.1 -> 8.4 ms). The new extreme is a select
  // (a new high is a coin toss); the factor an index into its sequence.
  template <class Out>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t) {
    for (; from < to && bars < 2; ++from) step_at(*this, in, from, out);
    run_trend_bars<false>(in, from, to, out);
  }
  // Spans as they come: one holding no NaN bar (nearly all) runs as real bars, each bar tested on
  // the way, instead of after a separate scan; one that held a NaN bar runs again from the state
  // it started with, by its runs of real bars.
  template <class Out>
  void run_mixed(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out) {
    if (bars >= 2) {
      const State start = *this;
      if (run_trend_bars<true>(in, from, to, out)) return;
      *this = start;
    }
    run_real_spans(*this, in, from, to, out);
  }
  // Bars from .. to - 1 of a started trend; with test_nan, whether none of them held a NaN (their
  // outputs and the state are then those of the real bars; otherwise to be thrown away).
  template <bool test_nan, class Out>
  bool run_trend_bars(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out) {
    if (from >= to) return true;
    // The factor only ever runs through step_size, min(step_size + step_size, maximum), ...: as an
    // index into that sequence its bar-to-bar chain is an integer add, where the factor's own
    // (add, min, select) was the longest chain of the loop once branches are learnt.
    double factors[kFactorSteps];
    const int last = factor_sequence(factors);
    const bool listed = last < kFactorSteps;
    int at = 0;
    while (listed && at <= last && factors[at] != factor) ++at;
    if (listed && at <= last) {
      return run_trend<test_nan>(in, from, to, out, [&](bool restart, bool further) {
        at = restart ? 0 : std::min(at + static_cast<int>(further), last);
        return factors[at];
      });
    }
    double af = factor;
    return run_trend<test_nan>(in, from, to, out, [&](bool restart, bool further) {
      af = restart ? step_size : pick(further, select_less(maximum, af + step_size), af);
      return af;
    });
  }
  // The factors step_size, then min(previous + step_size, maximum) until they stop changing (as
  // `advance` computes them); returns the index of the last, or kFactorSteps if there are more.
  static constexpr int kFactorSteps = 128;
  int factor_sequence(double* factors) const {
    factors[0] = step_size;
    for (int k = 1; k < kFactorSteps; ++k) {
      factors[k] = select_less(maximum, factors[k - 1] + step_size);
      if (factors[k] == factors[k - 1]) return k - 1;
    }
    return kFactorSteps;
  }
  // further ? a : b as a mask select.
  static double pick(bool further, double a, double b) {
#if defined(__SSE2__)
    const __m128d mask = _mm_castsi128_pd(_mm_set1_epi64x(-static_cast<int64_t>(further)));
    return _mm_cvtsd_f64(_mm_or_pd(_mm_and_pd(mask, _mm_set_sd(a)), _mm_andnot_pd(mask, _mm_set_sd(b))));
#else
    return further ? a : b;
#endif
  }
  // next_factor(restart, further): the factor after a reversal (restart) or after a bar that does
  // (further) or does not make a new extreme. With test_nan, returns whether every bar was real:
  // high - low summed is NaN if a bar held one (or, rarely, from infinite prices: then the span
  // only runs again, by runs of real bars).
  template <bool test_nan, class Out, class NextFactor>
  bool run_trend(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, NextFactor&& next_factor) {
    const auto highest = [](double a, double b, double c) {
      if (__builtin_expect(a < b, 0)) a = keep_in_register(b);
      if (__builtin_expect(a < c, 0)) a = keep_in_register(c);
      return a;
    };
    const auto lowest = [](double a, double b, double c) {
      if (__builtin_expect(b < a, 0)) a = keep_in_register(b);
      if (__builtin_expect(c < a, 0)) a = keep_in_register(c);
      return a;
    };
    bool up = is_long;
    double stop = sar, best = extreme, af = factor, high_before = previous_high, low_before = previous_low;
    double probe = 0.0;
    ptrdiff_t t = from;
    // Each trend's bars in a loop of their own, left at the bar that reverses it: the trend is
    // not tested per bar, and a bar's path is one straight run of code.
    while (t < to) {
      if (up) {
        for (; t < to; ++t) {
          const double high = in[0][t], low = in[1][t];
          if constexpr (test_nan) probe += high - low;
          if (__builtin_expect(low <= stop, 0)) break;
          out[0][t] = static_cast<Out>(stop);
          af = next_factor(false, high > best);
          best = select_greater(high, best);
          stop = stop + af * (best - stop);
          stop = lowest(stop, low_before, low);
          high_before = high;
          low_before = low;
        }
        if (t == to) break;
        const double high = in[0][t], low = in[1][t];
        const double value = highest(best, high_before, high);
        up = false;
        af = next_factor(true, false);
        best = low;
        stop = value + af * (best - value);
        stop = highest(stop, high_before, high);
        high_before = high;
        low_before = low;
        out[0][t++] = static_cast<Out>(value);
      } else {
        for (; t < to; ++t) {
          const double high = in[0][t], low = in[1][t];
          if constexpr (test_nan) probe += high - low;
          if (__builtin_expect(high >= stop, 0)) break;
          out[0][t] = static_cast<Out>(stop);
          af = next_factor(false, low < best);
          best = select_less(low, best);
          stop = stop + af * (best - stop);
          stop = highest(stop, high_before, high);
          high_before = high;
          low_before = low;
        }
        if (t == to) break;
        const double high = in[0][t], low = in[1][t];
        const double value = lowest(best, low_before, low);
        up = true;
        af = next_factor(true, false);
        best = high;
        stop = value + af * (best - value);
        stop = lowest(stop, low_before, low);
        high_before = high;
        low_before = low;
        out[0][t++] = static_cast<Out>(value);
      }
    }
    is_long = up;
    sar = stop;
    extreme = best;
    factor = af;
    previous_high = high_before;
    previous_low = low_before;
    return probe == probe;
  }
  // The trend turns: the SAR restarts at the old extreme (kept outside the last two bars), which
  // is this bar's value; the new trend's extreme is this bar's price.
  void reverse(double restart, double new_extreme, double* out) {
    is_long = !is_long;
    out[0] = restart;
    factor = step_size;
    extreme = new_extreme;
    sar = restart + factor * (extreme - restart);
  }
  void advance(bool new_extreme, double price) {
    if (new_extreme) {
      extreme = price;
      factor = std::min(factor + step_size, maximum);
    }
    sar = sar + factor * (extreme - sar);
  }
  template <class Archive>
  void fields(Archive& a) {
    a(bars);
    a(is_long);
    a(sar);
    a(extreme);
    a(factor);
    a(previous_high);
    a(previous_low);
  }
  double step_size, maximum;
  int64_t bars = 0;
  bool is_long = true;
  double sar = 0.0, extreme = 0.0, factor = 0.0;
  double previous_high = 0.0, previous_low = 0.0;
};

const Registrar<State> registered{Descriptor{
    "sar", "overlap", "Parabolic SAR: a trailing stop that accelerates towards the price while a trend lasts.",
    R"(sar[t+1] = sar[t] + af * (ep - sar[t])
ep = the trend's extreme price (highest high while long, lowest low while short); af starts at
acceleration and grows by it with each new extreme, up to maximum. While long the next SAR is kept
at or below the last two lows (while short at or above the last two highs). A bar whose low
reaches the SAR (high, while short) reverses the trend: that bar's SAR is the old extreme, kept
beyond the last two bars' range, and af restarts.

Welles Wilder's definition. The first trend is short when the second bar's low drops by more than
its high rises (a positive minus-DM), long otherwise; the first SAR (at bar 1) starts from the
first bar's low (long) or high (short). An acceleration above maximum is cut to maximum.
Flat prices reverse at every bar and give the price.
TA-Lib SAR: same first value, start and reversal rules. TA-Lib's x86-64 wheel evaluates
sar + af * (ep - sar) as one fused multiply-add (its values are reproduced exactly that way); here
it is rounded twice, so values differ by one unit in the last place (2.3e-16 relative) on about 4%
of the bars of a random walk, and the difference does not grow.)",
    {"high", "low"},
    {{"acceleration", ParamKind::real, 0.02, 0.0, 3e37, "Step of the acceleration factor."},
     {"maximum", ParamKind::real, 0.2, 0.0, 3e37, "Largest acceleration factor."}},
    {"sar"},
    [](const double*) { return int64_t{1}; }}};

}  // namespace
}  // namespace velk::classic
