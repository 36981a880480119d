// The declaration of velk_adif: its arguments, further names, docstring and traceback line.
#pragma once

#include "indicators/declarations/shared.hpp"

namespace velk::indicators {

struct Adif : TwoSeries {
  static constexpr const char* name = "velk_adif";
  static constexpr const char* locals[] = {"n", "i", "dif"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "input_array_1 - input_array_2, element by element.\n"
      "\n"
      "First value at position 0.";
  static constexpr int traceback_line = 122;
  static constexpr WarmUp warm_up{};
  static constexpr Output output{.family = 4, .title = "Difference of two series",

                                   .unit = "price", .in_price_units = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
