// The declaration of velk_lin: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Lin {
  struct Args {
    Series input_array;
    int32_t timeperiod;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input_array", &Args::input_array),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_lin";
  static constexpr const char* locals[] = {
      "n", "i", "j", "first_non_nan_index", "start_index", "lin", "sum_y", "sum_xy", "sum_x", "sum_x2", "denom",
      "deduction"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Least-squares slope of the last `timeperiod` values, in price units per bar.\n"
      "\n"
      "Float32 running sums: they drift on long series; n_values restarts them near the end.\n"
      "First value at position timeperiod - 1 (after leading NaN). A later NaN makes every later value NaN.";
  static constexpr int traceback_line = 32;
  static constexpr WarmUp warm_up{"timeperiod", 1, -1};
  static constexpr Output output{.family = 0, .title = "Linear regression slope",

                                   .unit = "price per bar", .in_price_units = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
