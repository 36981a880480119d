// MESA adaptive moving average.
#include "classic_engine/moving_average.hpp"

namespace velk::classic {
namespace {

struct State {
  static constexpr int inputs = 1, outputs = 2;
  explicit State(const double* params) : mesa(params[0], params[1]) {}
  bool step(const double* bar, double* out) {
    if (!mesa.push(bar[0])) return false;
    out[0] = mesa.mama();
    out[1] = mesa.fama();
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    mesa.fields(a);
  }
  MesaAdaptive mesa;
};

const Registrar<State> registered{Descriptor{
    "mama", "overlap", "Ehlers' MESA adaptive moving average and its following average (FAMA).",
    R"(smooth = (4 x[t] + 3 x[t-1] + 2 x[t-2] + x[t-3]) / 10
detrender = HT(smooth), Q1 = HT(detrender), I1 = detrender[t-3], with Ehlers' Hilbert transformer
HT(u) = (0.0962 u + 0.5769 u[t-2] - 0.5769 u[t-4] - 0.0962 u[t-6]) * (0.075 period + 0.54)
phase = atan(Q1 / I1) in degrees, dphase = max(phase[t-1] - phase, 1)
alpha = max(fastlimit / dphase, slowlimit) (fastlimit when dphase = 1)
mama = alpha x + (1 - alpha) mama, fama = alpha/2 mama + (1 - alpha/2) fama
period: from the phasor of I2 = I1 - HT(Q1), Q2 = Q1 + HT(I1) (each smoothed 0.2/0.8),
360 / atan(Im / Re), limited to 0.67 .. 1.5 times the previous one and 6 .. 50, smoothed 0.2/0.8

The cycle measurement starts at bar 12 with mama = fama = 0, so the start is remembered for a while
(TA-Lib's unstable period); first value at 32 (bars 12 .. 31 warm up). The Hilbert taps run
separately over even and odd bars, counted from the first real bar. Flat prices give the price
once the zero start has decayed; I1 = 0 counts as phase 0.
TA-Lib MAMA: same first value, the same start and the same operations, except that the 4-bar WMA
is computed from the window each bar instead of TA-Lib's running sums (a rounding apart). Where
the input repeats exactly for several bars (a flat stretch), the Hilbert parts here are exact
zeros and the phase 0, while TA-Lib's running sums leave rounding residue whose ratio sets its
phase: after such a stretch the two can differ by up to the alpha range (measured 0.47 relative
on the stochastic RSI's runs of 100) until the difference decays; elsewhere they agree within
1e-13 relative. TA-Lib's running WMA sums also carry a high level's rounding past a level
change. Measured with the defaults, largest difference relative to the value: 2.9e-11 on a
10^6-bar random walk (8.2e-13 against TA-Lib restarted 5000 bars before the compared 15000),
1.7e-7 on a level drop 1e5 -> 1 (TA-Lib's carried rounding, amplified by the phase).)",
    {"close"},
    {{"fastlimit", ParamKind::real, 0.5, 0.01, 0.99, "Largest alpha (the fastest MAMA)."},
     {"slowlimit", ParamKind::real, 0.05, 0.01, 0.99, "Smallest alpha (the slowest MAMA)."}},
    {"mama", "fama"},
    [](const double*) { return MesaAdaptive::first_value; }}};

}  // namespace
}  // namespace velk::classic
