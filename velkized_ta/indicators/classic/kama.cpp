// Kaufman's adaptive moving average.
#include "classic_engine/indicator.hpp"

namespace velk::classic {
namespace {

constexpr double kSlowest = 2.0 / (30.0 + 1.0);
constexpr double kSpan = 2.0 / (2.0 + 1.0) - kSlowest;

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params)
      : identity(int_param(params, 0) == 1), prices(int_param(params, 0) + 1), path(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const double x = bar[0];
    if (identity) {
      out[0] = x;
      return true;
    }
    const bool first = prices.size() == 0;
    const double previous = first ? x : prices.oldest(prices.size() - 1);
    prices.push(x);
    if (first) return false;
    const double path_length = path.push(std::fabs(x - previous));
    if (!prices.full()) return false;
    if (!started) {
      kama = previous;
      started = true;
    }
    const double change = x - prices.oldest(0);
    const double efficiency = path_length <= change || path_length == 0.0 ? 1.0 : std::fabs(change / path_length);
    double smoothing = efficiency * kSpan + kSlowest;
    smoothing *= smoothing;
    kama = (x - kama) * smoothing + kama;
    out[0] = kama;
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    prices.fields(a);
    path.fields(a);
    a(kama);
    a(started);
  }
  bool identity;   // timeperiod 1: the close itself, as every moving average of one bar
  Ring prices;     // the last timeperiod + 1 closes
  WindowSum path;  // sum of |close - previous close| over timeperiod changes
  double kama = 0.0;
  bool started = false;
};

const Registrar<State> registered{Descriptor{
    "kama", "overlap", "Kaufman's adaptive moving average: an EMA whose speed follows the efficiency ratio.",
    R"(er = |close[t] - close[t-timeperiod]| / sum of |close[i] - close[i-1]| over timeperiod changes
sc = (er * (2/3 - 2/31) + 2/31)^2
kama = kama + sc * (close - kama), starting from the previous close

First value at timeperiod; timeperiod 1 gives the close itself from bar 0 (as TA-Lib does, like
every moving average of one bar). No movement at all (a zero path) counts as er = 1; flat prices give the
price.
TA-Lib KAMA: same first value and the same operations (er = 1 also where the path is not above the
signed change); TA-Lib's running path sum is not re-added, so its values drift on long series (the
path sum here is re-added every window).
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 2.2e-16 on a 10^6-bar random walk, 6.2e-13 on a level drop 1e5 -> 1.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 30, 1, 100000, "Changes in the efficiency ratio."}},
    {"kama"},
    [](const double* p) { return int_param(p, 0) == 1 ? int64_t{0} : int_param(p, 0); }}};

}  // namespace
}  // namespace velk::classic
