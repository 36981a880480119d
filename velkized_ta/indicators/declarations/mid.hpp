// The declaration of velk_mid: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Mid {
  struct Args {
    Series high;
    Series low;
    Series close;
    int32_t timeperiod;
    bool normalize;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("high", &Args::high),
      array("low", &Args::low),
      array("close", &Args::close),
      integer("timeperiod", &Args::timeperiod),
      flag("normalize", &Args::normalize, true),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_mid";
  static constexpr const char* locals[] = {
      "n", "i", "high_start", "high_end", "low_start", "low_end", "k", "mid", "high_indices", "low_indices"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Midpoint (highest high + lowest low) / 2 of the last `timeperiod` bars.\n"
      "\n"
      "Returns (midpoint - close) / close, a fraction; normalize=False returns the midpoint.\n"
      "First value at position timeperiod - 1.";
  static constexpr int traceback_line = 37;
  static constexpr WarmUp warm_up{"timeperiod", 1, -1};
  static constexpr Output output{.family = 0, .title = "Midpoint of the window's range",

                                   .unit = "fraction of the close", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
