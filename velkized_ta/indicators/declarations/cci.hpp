// The declaration of velk_cci: its arguments, further names, docstring and traceback line.
#pragma once

#include "indicators/declarations/shared.hpp"

namespace velk::indicators {

inline constexpr const char kCciDoc[] =
    "\n    Note: this function uses mean squared deviation instead of mean absolute deviation to achieve "
    "faster execution.\n    ";

struct Cci : PricesPeriod {
  static constexpr const char* name = "velk_cci";
  static constexpr const char* locals[] = {
      "n", "i", "j", "k", "cci", "typical_price", "sum_tp", "sum_tp_squared", "old_avg_tp", "new_avg_tp", "old_tp",
      "new_tp", "mean_squared_deviation"};
  static constexpr const char* doc = kCciDoc;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Commodity channel index over the standard deviation: (tp - mean) / (0.015 * std).\n"
      "\n"
      "Float32 running sums of tp and tp**2: on long series the variance drifts (NaN where it rounds below 0);\n"
      "n_values restarts the sums near the end.\n"
      "First value at position timeperiod - 1.";
  static constexpr int traceback_line = 77;
  static constexpr WarmUp warm_up{"timeperiod", 1, -1};
  static constexpr Output output{.family = 2, .title = "Commodity channel index",

                                   .unit = "points; 100 = 1.5 standard deviations"};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
