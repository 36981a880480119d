// The declaration of velk_rsi: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Rsi {
  struct Args {
    Series close;
    int32_t timeperiod;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("close", &Args::close),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_rsi";
  static constexpr const char* locals[] = {"n", "i", "k", "rsi", "total_gain", "total_loss", "diff", "gain", "loss"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Wilder's relative strength index, 0 ... 100; 100 where there are no losses (also flat prices).\n"
      "\n"
      "First value at position timeperiod + 1.";
  static constexpr int traceback_line = 65;
  static constexpr WarmUp warm_up{"timeperiod", 1, 1};
  static constexpr Output output{.family = 2, .title = "Relative strength index",

                                   .unit = "points, 0 … 100", .bounded = true, .low = 0.0, .high = 100.0};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
