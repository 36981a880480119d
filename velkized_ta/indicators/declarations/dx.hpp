// The declaration of velk_dx: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Dx {
  struct Args {
    Series high;
    Series low;
    Series close;
    int32_t timeperiod;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("high", &Args::high),
      array("low", &Args::low),
      array("close", &Args::close),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_dx";
  static constexpr const char* locals[] = {
      "n", "i", "dx", "plus_dm", "minus_dm", "atr", "tr", "plus_dm_sum", "minus_dm_sum", "atr_sum"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Directional movement index |DI+ - DI-| / (DI+ + DI-), 0 ... 1, Wilder-smoothed.\n"
      "\n"
      "Raises ZeroDivisionError where the smoothed range or movement is zero (flat prices).\n"
      "First value at position timeperiod + 1.";
  static constexpr int traceback_line = 82;
  static constexpr WarmUp warm_up{"timeperiod", 1, 1};
  static constexpr Output output{.family = 3, .title = "Directional movement index",

                                   .unit = "ratio, 0 … 1", .bounded = true, .low = 0.0, .high = 1.0};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
