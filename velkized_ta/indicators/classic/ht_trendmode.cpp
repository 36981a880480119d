// Hilbert transform trend mode.
#include "classic_engine/hilbert_cycle.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double*) : cycle(true, true) {}
  bool step(const double* bar, double* out) {
    const int64_t index = cycle.push(bar[0]);
    if (index < 37) return false;  // the measurement starts there
    const double previous_sine = sine, previous_lead = lead_sine;
    sine = sine_of_degrees(cycle.phase());
    lead_sine = sine_of_degrees(cycle.phase() + 45.0);
    double trend = 1.0;
    // A crossing of the sine and lead sine restarts the count of bars in trend.
    if ((sine > lead_sine && previous_sine <= previous_lead) || (sine < lead_sine && previous_sine >= previous_lead)) {
      bars_in_trend = 0;
      trend = 0.0;
    }
    ++bars_in_trend;
    const double period = cycle.smooth_period();
    if (static_cast<double>(bars_in_trend) < 0.5 * period) trend = 0.0;
    const double phase_change = cycle.phase() - cycle.previous_phase();
    if (period != 0.0 && phase_change > 0.67 * 360.0 / period && phase_change < 1.5 * 360.0 / period) trend = 0.0;
    const double trendline = cycle.trendline();
    if (trendline != 0.0 && std::fabs((cycle.smoothed() - trendline) / trendline) >= 0.015) trend = 1.0;
    if (index < HilbertCycle::phase_first_value) return false;
    out[0] = trend;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    cycle.fields(a);
    a(sine);
    a(lead_sine);
    a(bars_in_trend);
  }
  HilbertCycle cycle;
  double sine = 0.0, lead_sine = 0.0;
  int64_t bars_in_trend = 0;
};

const Registrar<State> registered{Descriptor{
    "ht_trendmode", "cycle", "Hilbert transform trend mode: 1 while the price trends, 0 while it cycles.",
    R"(The cycle measurement as in mama: the price smoothed by a 4-bar WMA, Ehlers' Hilbert transformer
(taps run separately over even and odd bars, counted from the first real bar) giving the in-phase
I1 and quadrature Q1 parts, the period from the phasor of I2 = I1 - HT(Q1), Q2 = Q1 + HT(I1),
360 / atan(Im / Re) limited to 0.67 .. 1.5 times the previous one and 6 .. 50, smoothed 0.2/0.8,
smooth_period = 0.33 period + 0.67 smooth_period. It starts from zeros at bar 12 (ht_dcperiod,
ht_phasor) or 37 (the others), as TA-Lib does, so the start is remembered for a while (TA-Lib's
unstable period).
dc_phase: over the last int(smooth_period + 0.5) smoothed prices p[i] (i = 0 newest),
real = sum sin(2 pi i / n) p[i], imag = sum cos(2 pi i / n) p[i]; phase = atan(real / imag) in degrees
(imag = 0: the previous phase -/+ 90 by the sign of real), + 90, + 360 / smooth_period (the WMA's
lag), + 180 when imag < 0, - 360 above 315.
sine, leadsine as in ht_sine; trendline as in ht_trendline
trend = 1, then 0 when sine and leadsine have crossed within the last smooth_period / 2 bars, or
when the phase advanced by between 0.67 and 1.5 times 360 / smooth_period this bar; 1 again when
the smoothed price is 1.5 % or more away from the trendline.

First value at 63; values are 0.0 or 1.0 (TA-Lib returns integers, 0 before the first value).
Flat prices end in 1, as in TA-Lib.
TA-Lib HT_TRENDMODE: same first value, the same start and the same operations, except that the
4-bar
WMA is computed from the window each bar instead of running sums; measured: the same
value at every bar of a 10^6-bar random walk and a level drop 1e5 -> 1.)",
    {"close"},
    {},
    {"ht_trendmode"},
    [](const double*) { return HilbertCycle::phase_first_value; }}};

}  // namespace
}  // namespace velk::classic
