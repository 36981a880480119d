// The declaration of velk_trix: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Trix {
  struct Args {
    Series arr;
    int32_t timeperiod;
    bool input_is_ema3;
    bool input_is_ema2;
    bool input_is_ema1;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("arr", &Args::arr),
      integer("timeperiod", &Args::timeperiod, 1),
      flag("input_is_ema3", &Args::input_is_ema3, false),
      flag("input_is_ema2", &Args::input_is_ema2, false),
      flag("input_is_ema1", &Args::input_is_ema1, false),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_trix";
  static constexpr const char* locals[] = {"n", "k", "trix", "ema1", "ema2", "ema3", "i"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "One-bar relative change of stage 3 of the EMA chain, a fraction (not times 100).\n"
      "\n"
      "Spikes where stage 3 crosses zero; the first values are dominated by the seed.\n"
      "First value at position 1.";
  static constexpr int traceback_line = 61;
  static constexpr WarmUp warm_up{nullptr, 0, 1};
  static constexpr Output output{.family = 1, .title = "TRIX: relative change of the third stage",

                                   .unit = "fraction per bar", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
