// The declaration of velk_willr: its arguments, further names, docstring and traceback line.
#pragma once

#include "indicators/declarations/shared.hpp"

namespace velk::indicators {

struct Willr : PricesPeriod {
  static constexpr const char* name = "velk_willr";
  static constexpr const char* locals[] = {
      "n", "i", "high_start", "high_end", "low_start", "low_end", "k", "willr", "high_indices", "low_indices",
      "highest_high", "lowest_low"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Williams %R as a fraction: (highest high - close) / (highest high - lowest low), 0 ... 1.\n"
      "\n"
      "0 at the window's high, 1 at its low; NaN where the window has no range.\n"
      "First value at position timeperiod - 1.";
  static constexpr int traceback_line = 71;
  static constexpr WarmUp warm_up{"timeperiod", 1, -1};
  static constexpr Output output{.family = 2, .title = "Williams %R",

                                   .unit = "fraction of the range, 0 … 1", .bounded = true, .low = 0.0, .high = 1.0};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
