// Ehlers' Hilbert-transform cycle measurement as TA-Lib computes it, shared by the ht_* indicators:
// the price smoothed by a 4-bar WMA, its in-phase and quadrature parts, the dominant cycle period
// from their phasor, and on request the dominant cycle phase (with the sine wave and the trend
// mode) and the instantaneous trendline.
#pragma once

#include "classic_engine/moving_average.hpp"

namespace velk::classic {

// Calls visit(i, value) for the newest `count` values held in `ring` (count <= its size),
// newest first (i = 0), in two contiguous spans of slots.
template <class Visit>
inline void each_newest_first(const Ring& ring, size_t count, Visit&& visit) {
  const size_t end = ring.position();  // one past the newest slot
  const size_t in_front = end < count ? end : count;
  for (size_t i = 0; i < in_front; ++i) visit(i, ring.slot(end - 1 - i));
  for (size_t i = in_front, at = ring.capacity(); i < count; ++i) visit(i, ring.slot(--at));
}

class HilbertCycle {
 public:
  // First value positions on NaN-free input: the period and phasor, and what needs 50 smoothed
  // prices of history (phase, sine, trendline, trend mode).
  static constexpr int64_t period_first_value = 32;
  static constexpr int64_t phase_first_value = 63;
  static constexpr int kHistory = 50;

  HilbertCycle() = default;
  // The measurement starts from zeros at bar 12, or at bar 37 when the phase or trendline is
  // wanted, as TA-Lib's functions of each kind do.
  HilbertCycle(bool with_phase, bool with_trendline)
      : with_phase_(with_phase), with_trendline_(with_trendline), start_(with_phase || with_trendline ? 37 : 12),
        prices_(4),
        smoothed_history_(with_phase ? kHistory : 0), price_history_(with_trendline ? kHistory : 0) {}

  // Takes one price; returns the number of prices taken before it (its bar index). `newest` may
  // point at this price in an array whose `contiguous` values up to it are the prices taken last
  // (the trendline then reads them there rather than off the ring).
  int64_t push(double x, const double* newest = nullptr, ptrdiff_t contiguous = 0) {
    if (with_phase_) {
      return with_trendline_ ? push_as<true, true>(x, newest, contiguous) : push_as<true, false>(x, newest, contiguous);
    }
    return with_trendline_ ? push_as<false, true>(x, newest, contiguous) : push_as<false, false>(x, newest, contiguous);
  }
  // push() for a measurement built with these flags, known where it is compiled (the bar loop
  // then holds only the parts the reading uses).
  template <bool with_phase, bool with_trendline>
  int64_t push_as(double x, const double* newest = nullptr, ptrdiff_t contiguous = 0) {
    prices_.push(x);
    if (with_trendline) price_history_.push(x);
    const int64_t bar = seen_++;
    if (bar < start_) return bar;
    const double smoothed = smoothed_price(prices_);
    if (with_phase) smoothed_history_.push(smoothed);
    const HomodynePeriod::Phasor phasor = homodyne_.push(smoothed, bar);
    inphase_ = phasor.inphase;
    quadrature_ = phasor.quadrature;
    smooth_period_ = 0.33 * homodyne_.period() + 0.67 * smooth_period_;
    const int64_t cycle = whole_cycle(smooth_period_);
    if (with_phase) measure_phase(cycle);
    // The trendline reads its prices off the array where it holds them: summing all 50 lengths
    // beside the period's chain (to take the cycle's after it) measured slower, the sums
    // competing with the chain for the same units.
    if (with_trendline) measure_trendline(cycle, contiguous >= kHistory ? newest : nullptr);
    return bar;
  }

  // Bars at most in one run_trendline call, and how many bars the trendline's mean trails the
  // period's chain there.
  static constexpr ptrdiff_t kTrendlineBlock = 256, kTrendlineLag = 2;

  // push() on prices[from .. to - 1] (at most kTrendlineBlock bars) for a measurement with the
  // trendline and without the phase, where each of those bars ends at least kHistory prices taken
  // in a row from the array (so the measurement has started); trendlines[t - from] is trendline()
  // after bar t. The mean over a bar's cycle is summed kTrendlineLag bars after its cycle came
  // out of the chain: its loop's exit, taken on a cycle that varies, is then mispredicted only on
  // a count known long before, so the next bars' chain is not refetched behind it (summed at the
  // cycle's own bar, 25% slower; summed afterwards for the whole block, in lanes of bars, 12%).
  void run_trendline(const double* prices, ptrdiff_t from, ptrdiff_t to, double* trendlines) {
    constexpr ptrdiff_t lag = kTrendlineLag;
    const ptrdiff_t count = to - from;
    const double* p = prices + from;  // p[k]: bar from + k, with kHistory - 1 real prices before it
    int64_t cycles[kTrendlineBlock];
    HomodynePeriod::Phasor phasor{inphase_, quadrature_};
    double smooth_period = smooth_period_;
    for (ptrdiff_t k = 0; k < count; ++k) {
      // smoothed_price() off the array: the ring's oldest(3) .. oldest(0) are p[k] .. p[k - 3].
      const double smoothed = (4.0 * p[k] + 3.0 * p[k - 1] + 2.0 * p[k - 2] + p[k - 3]) * 0.1;
      phasor = homodyne_.push(smoothed, seen_++);
      smooth_period = 0.33 * homodyne_.period() + 0.67 * smooth_period;
      cycles[k] = whole_cycle(smooth_period);
      if (k >= lag) {
        push_trendline(mean_of_newest(p + k - lag, cycles[k - lag]));
        trendlines[k - lag] = trendline_;
      }
    }
    smooth_period_ = smooth_period;
    inphase_ = phasor.inphase;
    quadrature_ = phasor.quadrature;
    prices_.push_many(p, static_cast<size_t>(count));
    price_history_.push_many(p, static_cast<size_t>(count));
    for (ptrdiff_t k = count > lag ? count - lag : 0; k < count; ++k) {
      push_trendline(mean_of_newest(p + k, cycles[k]));
      trendlines[k] = trendline_;
    }
  }

  double inphase() const { return inphase_; }
  double quadrature() const { return quadrature_; }
  double smooth_period() const { return smooth_period_; }
  double phase() const { return phase_; }
  double previous_phase() const { return previous_phase_; }
  double trendline() const { return trendline_; }
  // The prices taken so far (the next one's bar index), and whether the measurement has started.
  int64_t seen() const { return seen_; }
  bool started() const { return seen_ >= start_; }
  // The newest smoothed price (with_phase only).
  double smoothed() const { return smoothed_history_.oldest(smoothed_history_.size() - 1); }

  template <class Archive>
  void fields(Archive& a) {
    prices_.fields(a);
    smoothed_history_.fields(a);
    price_history_.fields(a);
    a(seen_);
    homodyne_.fields(a);
    a(smooth_period_);
    a(inphase_);
    a(quadrature_);
    a(phase_);
    a(previous_phase_);
    a(trend1_);
    a(trend2_);
    a(trend3_);
    a(trendline_);
  }

 private:
  static constexpr double kQuarterPi = 0.78539816339744830962;  // atan(1)
  static constexpr double kDegrees = 45.0 / kQuarterPi;

  // sin and cos of the angle of term i of a cycle of `cycle` bars (1 <= cycle <= kHistory,
  // i < cycle), computed once by the same calls on the same arguments as each bar made them.
  struct PhaseTerms {
    static constexpr size_t row(int64_t cycle) { return static_cast<size_t>(cycle * (cycle - 1) / 2); }
    double sines[kHistory * (kHistory + 1) / 2];
    double cosines[kHistory * (kHistory + 1) / 2];
    PhaseTerms() {
      for (int64_t cycle = 1; cycle <= kHistory; ++cycle) {
        for (int64_t i = 0; i < cycle; ++i) {
          const double angle = (static_cast<double>(i) * (8.0 * kQuarterPi)) / static_cast<double>(cycle);
          sines[row(cycle) + static_cast<size_t>(i)] = std::sin(angle);
          cosines[row(cycle) + static_cast<size_t>(i)] = std::cos(angle);
        }
      }
    }
  };
  static const PhaseTerms& phase_terms() {
    static const PhaseTerms terms;
    return terms;
  }

  // Phase of the smoothed prices' fundamental over the last `cycle` bars, in degrees, shifted
  // and wrapped into -45 .. 315 as TA-Lib does.
  // Out of line: inlined, it changed how the bar loops of the readings without a phase compiled
  // (ht_trendline ran 10% slower).
  [[gnu::noinline]] void measure_phase(int64_t cycle) {
    previous_phase_ = phase_;
    double real_part = 0.0, imaginary_part = 0.0;
    if (cycle > 0) {
      const PhaseTerms& terms = phase_terms();
      const double* sines = terms.sines + PhaseTerms::row(cycle);
      const double* cosines = terms.cosines + PhaseTerms::row(cycle);
      const size_t held = smoothed_history_.size();
      each_newest_first(smoothed_history_, std::min(static_cast<size_t>(cycle), held), [&](size_t i, double value) {
        real_part += sines[i] * value;
        imaginary_part += cosines[i] * value;
      });
    }
    const double magnitude = std::fabs(imaginary_part);
    if (magnitude > 0.0) {
      phase_ = std::atan(real_part / imaginary_part) * kDegrees;
    } else if (magnitude <= 0.01) {
      if (real_part < 0.0) {
        phase_ -= 90.0;
      } else if (real_part > 0.0) {
        phase_ += 90.0;
      }
    }
    phase_ += 90.0;
    phase_ += 360.0 / smooth_period_;  // the smoothing WMA's one-bar lag
    if (imaginary_part < 0.0) phase_ += 180.0;
    if (phase_ > 315.0) phase_ -= 360.0;
  }

  // The mean price over the last `cycle` bars, smoothed by a 4-bar WMA of those means, summed
  // newest first: off `newest` (this bar's price in an array holding the last kHistory) or, when
  // that is nullptr, off the ring.
  void measure_trendline(int64_t cycle, const double* newest) {
    if (newest) {
      push_trendline(mean_of_newest(newest, cycle));
      return;
    }
    double mean = 0.0;
    const size_t held = price_history_.size();
    for (int64_t i = 0; i < cycle && static_cast<size_t>(i) < held; ++i) {
      mean += price_history_.oldest(held - 1 - static_cast<size_t>(i));
    }
    if (cycle > 0) mean = mean / static_cast<double>(cycle);
    push_trendline(mean);
  }
  // The mean of the `cycle` prices up to `newest` (in an array), summed newest first.
  static double mean_of_newest(const double* newest, int64_t cycle) {
    double mean = 0.0;
    for (int64_t i = 0; i < cycle; ++i) mean += newest[-i];
    if (cycle > 0) mean = mean / static_cast<double>(cycle);
    return mean;
  }
  void push_trendline(double mean) {
    trendline_ = (4.0 * mean + 3.0 * trend1_ + 2.0 * trend2_ + trend3_) / 10.0;
    trend3_ = trend2_;
    trend2_ = trend1_;
    trend1_ = mean;
  }
  // The smoothed period in whole bars, at most kHistory; a restored state may hold any double, so
  // the cast is kept in range (NaN gives 0), which changes nothing for a period the measurement
  // itself produced.
  static int64_t whole_cycle(double smooth_period) {
    const double rounded = smooth_period + 0.5;
    return !(rounded > 0.0) ? 0 : rounded >= kHistory ? kHistory : static_cast<int64_t>(rounded);
  }

  bool with_phase_ = false, with_trendline_ = false;
  int64_t start_ = 12;
  Ring prices_;            // the last 4 prices, for the smoothing WMA
  Ring smoothed_history_;  // the last 50 smoothed prices (with_phase)
  Ring price_history_;     // the last 50 prices (with_trendline)
  int64_t seen_ = 0;
  HomodynePeriod homodyne_;
  double smooth_period_ = 0.0;
  double inphase_ = 0.0, quadrature_ = 0.0;
  double phase_ = 0.0, previous_phase_ = 0.0;
  double trend1_ = 0.0, trend2_ = 0.0, trend3_ = 0.0, trendline_ = 0.0;
};

// sin of an angle in degrees, with TA-Lib's degree-to-radian factor.
inline double sine_of_degrees(double degrees) {
  constexpr double to_radians = 1.0 / (45.0 / 0.78539816339744830962);
  return std::sin(degrees * to_radians);
}

// State of an ht_* indicator that reads its outputs off the cycle measurement from a fixed first
// value on. Reading gives outputs, with_phase, with_trendline, first_value and
// read(const HilbertCycle&, double* out).
template <class Reading>
struct HilbertReadingState {
  static constexpr int inputs = 1, outputs = Reading::outputs;
  explicit HilbertReadingState(const double*) : cycle(Reading::with_phase, Reading::with_trendline) {}
  bool step(const double* bar, double* out) {
    if (cycle.push_as<Reading::with_phase, Reading::with_trendline>(bar[0]) < Reading::first_value) return false;
    Reading::read(cycle, out);
    return true;
  }
  // Run kernel of the trendline: the prices it averages are read off the input where the run
  // (and the real bars before it) holds them. The trendline alone (`Reading::trendline_only`) runs
  // its bars with kHistory prices in a row behind them through run_trendline, a block at a time.
  template <class Out>
    requires(Reading::with_trendline)
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    const double* prices = in[0];
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    ptrdiff_t t = from;
    if constexpr (requires { Reading::trendline_only; }) {
      const ptrdiff_t behind = real_before + 1 >= HilbertCycle::kHistory ? 0 : HilbertCycle::kHistory - 1 - real_before;
      ptrdiff_t blocks_from = to - from < behind ? to : from + behind;
      for (; t < blocks_from; ++t) step_real(prices, t, out, real_before + (t - from) + 1);
      // Only a state restored with fewer prices taken than the start has not started here.
      if (!cycle.started()) blocks_from = to;
      for (; t < blocks_from; ++t) step_real(prices, t, out, real_before + (t - from) + 1);
      double trendlines[HilbertCycle::kTrendlineBlock];
      for (; t < to; t += HilbertCycle::kTrendlineBlock) {
        const ptrdiff_t end = to - t < HilbertCycle::kTrendlineBlock ? to : t + HilbertCycle::kTrendlineBlock;
        const int64_t first_bar = cycle.seen();
        cycle.run_trendline(prices, t, end, trendlines);
        for (ptrdiff_t k = 0; k < end - t; ++k)
          out[0][t + k] = static_cast<Out>(first_bar + k >= Reading::first_value ? trendlines[k] : nan);
      }
      return;
    }
    for (; t < to; ++t) step_real(prices, t, out, real_before + (t - from) + 1);
  }
  template <class Out>
  void step_real(const double* prices, ptrdiff_t t, Out* const* out, ptrdiff_t contiguous) {
    double values[outputs];
    // push() rather than push_as: measured, the run kernel kept its speed, push_as cost it 4%.
    const bool ready = cycle.push(prices[t], prices + t, contiguous) >= Reading::first_value;
    if (ready) Reading::read(cycle, values);
    for (int k = 0; k < outputs; ++k)
      out[k][t] = static_cast<Out>(ready ? values[k] : std::numeric_limits<double>::quiet_NaN());
  }
  template <class Archive>
  void fields(Archive& a) {
    cycle.fields(a);
  }
  HilbertCycle cycle;
};

}  // namespace velk::classic
