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
  static constexpr int traceback_line = 77;
  static constexpr WarmUp warm_up{"timeperiod", 1, -1};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
