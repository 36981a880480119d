// The declaration of velk_rdif: its arguments, further names, docstring and traceback line.
#pragma once

#include "indicators/declarations/shared.hpp"

namespace velk::indicators {

struct Rdif : TwoSeries {
  static constexpr const char* name = "velk_rdif";
  static constexpr const char* locals[] = {"n", "i", "dif"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "(input_array_1 - input_array_2) / input_array_2, a fraction; a zero divisor becomes 1e-9.\n"
      "\n"
      "First value at position 0.";
  static constexpr int traceback_line = 124;
  static constexpr WarmUp warm_up{};
  static constexpr Output output{.family = 4, .title = "Relative difference of two series",

                                   .unit = "fraction of the second series", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
