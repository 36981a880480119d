// The declaration of velk_ema: its arguments, further names, docstring and traceback line.
#pragma once

#include "indicators/declarations/shared.hpp"

namespace velk::indicators {

struct Ema : SeriesPeriodNormalize {
  static constexpr const char* name = "velk_ema";
  static constexpr const char* locals[] = {"n", "i", "first_non_nan", "alpha", "ema_value", "ema"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Exponential moving average, alpha = 2 / (timeperiod + 1), seeded with the first non-NaN value.\n"
      "\n"
      "Returns (ema - price) / price, a fraction; normalize=False returns the average.\n"
      "First value at position 0 (the first non-NaN value). A later NaN makes every later value NaN.";
  static constexpr int traceback_line = 40;
  static constexpr WarmUp warm_up{};
  static constexpr Output output{.family = 1, .title = "Exponential moving average",

                                   .unit = "fraction of the price", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
