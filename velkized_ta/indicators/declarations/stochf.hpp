// The declaration of velk_stochf: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Stochf {
  struct Args {
    Series high_arr;
    Series low_arr;
    Series close_arr;
    int32_t timeperiod;
    bool stream;
    bool last_value_only;
  };
  static constexpr auto params = std::tuple{
      array("high_arr", &Args::high_arr),
      array("low_arr", &Args::low_arr),
      array("close_arr", &Args::close_arr),
      integer("timeperiod", &Args::timeperiod),
      flag("stream", &Args::stream, false),
      flag("last_value_only", &Args::last_value_only, false)};
  static constexpr const char* name = "velk_stochf";
  static constexpr const char* locals[] = {
      "n", "stochf_k", "high_indices", "low_indices", "high_start", "high_end", "low_start", "low_end", "i",
      "highest_idx", "lowest_idx", "highest_high", "lowest_low"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Fast stochastic %K as a fraction: (close - lowest low) / (highest high - lowest low), 0 ... 1.\n"
      "\n"
      "No %D line; stream and last_value_only are ignored.\n"
      "First value at position timeperiod - 1.";
  static constexpr int traceback_line = 109;
  static constexpr WarmUp warm_up{"timeperiod", 1, -1};
  static constexpr Output output{.family = 2, .title = "Fast stochastic %K",

                                   .unit = "fraction of the range, 0 … 1", .bounded = true, .low = 0.0, .high = 1.0};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
