// Hilbert transform dominant cycle phase, in degrees (-45 .. 315)..
#include "classic_engine/hilbert_cycle.hpp"

namespace velk::classic {
namespace {

struct Phase {
  static constexpr int outputs = 1;
  static constexpr bool with_phase = true, with_trendline = false;
  static constexpr int64_t first_value = HilbertCycle::phase_first_value;
  static void read(const HilbertCycle& cycle, double* out) {
    out[0] = cycle.phase();
  }
};

const Registrar<HilbertReadingState<Phase>> registered{Descriptor{
    "ht_dcphase", "cycle", "Hilbert transform dominant cycle phase, in degrees (-45 .. 315).",
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

First value at 63. Flat prices give a phase driven by the start's transient, as in TA-Lib.
TA-Lib HT_DCPHASE: same first value, the same start and the same operations, except that the 4-bar
WMA is computed from the window each bar: TA-Lib's running WMA sums are never re-added, so their
rounding accumulates (and carries a high level's rounding past a level change), and the cycle
measurement, a ratio of sums of the small detrended signal, amplifies it. See mama for exactly
flat stretches.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 1.1e-8 on a 10^6-bar random walk (3.2e-10 against TA-Lib restarted 5000 bars before the
compared 15000), 8.7e-6 on a level drop 1e5 -> 1.)",
    {"close"},
    {},
    {"ht_dcphase"},
    [](const double*) { return HilbertCycle::phase_first_value; }}};

}  // namespace
}  // namespace velk::classic
