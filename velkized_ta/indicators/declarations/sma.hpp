// The declaration of velk_sma: its arguments, further names, docstring and traceback line.
#pragma once

#include "indicators/declarations/shared.hpp"

namespace velk::indicators {

struct Sma : SeriesPeriodNormalize {
  static constexpr const char* name = "velk_sma";
  static constexpr const char* locals[] = {"n", "i", "non_nan_count", "sma", "sum", "k"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Mean of the last `timeperiod` values, skipping NaN.\n"
      "\n"
      "Returns (mean - value) / value, a fraction; normalize=False returns the mean itself.\n"
      "First value at position timeperiod - 1. Raises ZeroDivisionError at a zero value when normalizing.";
  static constexpr int traceback_line = 28;
  static constexpr WarmUp warm_up{"timeperiod", 1, -1};
  static constexpr Output output{.family = 0, .title = "Simple moving average",

                                   .unit = "fraction of the price", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
