// Hull moving average.
#include <cmath>

#include "classic_engine/sums.hpp"

namespace velk::classic {
namespace {

int64_t root_period(int64_t period) {
  int64_t root = static_cast<int64_t>(std::sqrt(static_cast<double>(period)));
  while (root * root > period) --root;
  while ((root + 1) * (root + 1) <= period) ++root;
  return root;
}

struct State {
  static constexpr int inputs = 1, outputs = 1;
  explicit State(const double* params)
      : half(int_param(params, 0) / 2), full(int_param(params, 0)), smooth(root_period(int_param(params, 0))) {}
  bool step(const double* bar, double* out) {
    half.push(bar[0]);
    if (!full.push(bar[0])) return false;
    if (!smooth.push(2.0 * half.value() - full.value())) return false;
    out[0] = smooth.value();
    return true;
  }
  template <class Archive>
  void fields(Archive& a) {
    half.fields(a);
    full.fields(a);
    smooth.fields(a);
  }
  GuardedWeightedAverage half, full, smooth;
};

const Registrar<State> registered{Descriptor{
    "hma", "overlap", "Hull moving average: a weighted average of the lag-corrected weighted averages.",
    R"(hma = wma(2 * wma(close, timeperiod // 2) - wma(close, timeperiod), isqrt(timeperiod))

Alan Hull's definition, with the periods rounded down (as pandas-ta's hma). First value at
timeperiod + isqrt(timeperiod) - 2 (22 with the default 20). The weighted sums are re-added
every period bars and after a collapse of their size, so they do not drift. Flat prices give the
price.
TA-Lib has no HMA; the values equal TA-Lib's WMA composed as above (the tests check 1e-9
relative), and so pandas-ta's hma, which calls TA-Lib's WMA when it is installed.)",
    {"close"},
    {{"timeperiod", ParamKind::integer, 20, 2, 100000, "Period of the slow average."}},
    {"hma"},
    [](const double* p) { return int_param(p, 0) + root_period(int_param(p, 0)) - 2; }}};

}  // namespace
}  // namespace velk::classic
