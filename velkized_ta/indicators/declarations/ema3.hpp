// The declaration of velk_ema3: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Ema3 {
  struct Args {
    Series input_array;
    int32_t timeperiod;
    bool input_is_ema2;
    PyObject* input_is_ema1;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input_array", &Args::input_array),
      integer("timeperiod", &Args::timeperiod),
      flag("input_is_ema2", &Args::input_is_ema2, false),
      object("input_is_ema1", &Args::input_is_ema1, false),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_ema3";
  static constexpr const char* locals[] = {"ema1", "ema2", "ema3"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Stage 3 of the EMA chain: the plain EMA of stage 2, a fraction.\n"
      "\n"
      "input_is_ema2 / input_is_ema1: input_array already is stage 2 / stage 1.\n"
      "First value at position 0.";
  static constexpr int traceback_line = 48;
  static constexpr WarmUp warm_up{};
  static constexpr Output output{.family = 1, .title = "Third EMA stage",

                                   .unit = "fraction of the price", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
