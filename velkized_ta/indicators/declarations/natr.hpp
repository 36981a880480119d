// The declaration of velk_natr: its arguments, further names, docstring and traceback line.
#pragma once

#include "indicators/declarations/shared.hpp"

namespace velk::indicators {

struct Natr : PricesPeriod {
  static constexpr const char* name = "velk_natr";
  static constexpr const char* locals[] = {"n", "i", "k", "tr", "atr", "natr", "atr_value"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Wilder average true range divided by the close, a fraction (not times 100).\n"
      "\n"
      "First value at position timeperiod.";
  static constexpr int traceback_line = 97;
  static constexpr WarmUp warm_up{"timeperiod"};
  static constexpr Output output{.family = 3, .title = "Normalised average true range",

                                   .unit = "fraction of the close", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
