// Hilbert transform instantaneous trendline.
#include "classic_engine/hilbert_cycle.hpp"

namespace velk::classic {
namespace {

struct Trendline {
  static constexpr int outputs = 1;
  static constexpr bool with_phase = false, with_trendline = true, trendline_only = true;
  static constexpr int64_t first_value = HilbertCycle::phase_first_value;
  static void read(const HilbertCycle& cycle, double* out) {
    out[0] = cycle.trendline();
  }
};

const Registrar<HilbertReadingState<Trendline>> registered{Descriptor{
    "ht_trendline", "cycle", "Hilbert transform instantaneous trendline: the price averaged over the dominant cycle.",
    R"(The cycle measurement as in mama: the price smoothed by a 4-bar WMA, Ehlers' Hilbert transformer
(taps run separately over even and odd bars, counted from the first real bar) giving the in-phase
I1 and quadrature Q1 parts, the period from the phasor of I2 = I1 - HT(Q1), Q2 = Q1 + HT(I1),
360 / atan(Im / Re) limited to 0.67 .. 1.5 times the previous one and 6 .. 50, smoothed 0.2/0.8,
smooth_period = 0.33 period + 0.67 smooth_period. It starts from zeros at bar 12 (ht_dcperiod,
ht_phasor) or 37 (the others), as TA-Lib does, so the start is remembered for a while (TA-Lib's
unstable period).
mean = average of the last int(smooth_period + 0.5) prices (0 when that is 0)
ht_trendline = (4 mean + 3 mean[t-1] + 2 mean[t-2] + mean[t-3]) / 10

First value at 63. Flat prices give the price.
TA-Lib HT_TRENDLINE: same first value, the same start and the same operations, except that the
4-bar
WMA is computed from the window each bar instead of running sums.
The average is over whole bars of the raw price, so the WMA's rounding only matters where it
moves int(smooth_period + 0.5); measured: identical on a 10^6-bar random walk and a level
drop 1e5 -> 1.)",
    {"close"},
    {},
    {"ht_trendline"},
    [](const double*) { return HilbertCycle::phase_first_value; }}};

}  // namespace
}  // namespace velk::classic
