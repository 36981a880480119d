// The declaration of velk_roc: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Roc {
  struct Args {
    Series input_array;
    int32_t timeperiod;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input_array", &Args::input_array),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_roc";
  static constexpr const char* locals[] = {"n", "roc", "k", "i"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Rate of change (x[t] - x[t - timeperiod]) / x[t - timeperiod], a fraction (not times 100).\n"
      "\n"
      "A zero base is replaced by 1e-9.\n"
      "First value at position timeperiod.";
  static constexpr int traceback_line = 63;
  static constexpr WarmUp warm_up{"timeperiod"};
  static constexpr Output output{.family = 2, .title = "Rate of change",

                                   .unit = "fraction of the earlier price", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
