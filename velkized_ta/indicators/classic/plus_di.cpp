// Plus directional indicator.
#include "classic_engine/directional_states.hpp"

namespace velk::classic {
namespace {

const Registrar<DirectionalIndicatorState<MoveDirection::plus>> registered{Descriptor{
    "plus_di", "directional", "Plus directional indicator: Wilder's smoothed up-moves over the true range, in percent.",
    R"(+DM = high - high[t-1] when that exceeds low[t-1] - low and 0, else 0
sums of +DM and the true range: bars 1 .. timeperiod-1 added up, then S = S - S / timeperiod + x
plus_di = 100 * sum(+DM) / sum(TR)

First value at timeperiod. A zero summed range (flat bars) gives 0, as TA-Lib does.
TA-Lib PLUS_DI: same first value and seeds; Wilder's step is rounded differently
(S * ((timeperiod - 1) / timeperiod) + x, one fused multiply-add), values agree within 1e-13 relative. With timeperiod 1
TA-Lib returns the ratio (0..1) instead of the percentage.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 1.0e-15 on a 10^6-bar random walk, 1.7e-15 on a level drop 1e5 -> 1.)",
    {"high", "low", "close"},
    {{"timeperiod", ParamKind::integer, 14, 1, 100000, "Wilder's smoothing period."}},
    {"plus_di"},
    [](const double* p) { return int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
