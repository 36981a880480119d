// Absolute price oscillator.
#include "classic_engine/moving_average.hpp"

namespace velk::classic {
namespace {

struct Difference {
  static double of(double fast, double slow) { return fast - slow; }
};

const Registrar<PriceOscillatorState<Difference>> registered{Descriptor{
    "apo", "momentum", "Absolute price oscillator: the fast average minus the slow one (EMAs by default).",
    R"(apo = ma(close, fastperiod, matype) - ma(close, slowperiod, matype)

Each average starts on the first bar (an EMA is seeded with the mean of its own first period,
unlike macd); first value at the slow average's first-value position (slowperiod - 1 for the
default EMA). A fastperiod above slowperiod is swapped with it. Flat prices give 0.
matype defaults to 1 (EMA) as in TA-Lib's Python package 0.8.
TA-Lib APO: same first value for every matype and the same operations (the EMA family's
steps as the ema indicator's fused ones); with matype 0 (SMA) or
5 (TRIMA) TA-Lib's running window sums drift (apo with matype 0: 4.0e-11 relative to the median
size on a 10^6-bar random walk, 1.5e-9 on a level drop 1e5 -> 1).
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 5.9e-13 on a 10^6-bar random walk, 1.6e-11 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"fastperiod", ParamKind::integer, 12, 2, 100000, "Period of the fast average."},
     {"slowperiod", ParamKind::integer, 26, 2, 100000, "Period of the slow average."},
     matype_param("matype", 1)},
    {"apo"},
    price_oscillator_lookback}};

}  // namespace
}  // namespace velk::classic
