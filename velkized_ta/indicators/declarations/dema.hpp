// The declaration of velk_dema: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Dema {
  struct Args {
    Series input1;
    Series input2;
    int32_t timeperiod;
    bool input1_is_ema1;
    bool input2_is_ema2;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input1", &Args::input1),
      array("input2", &Args::input2, nullptr),
      integer("timeperiod", &Args::timeperiod, 1),
      flag("input1_is_ema1", &Args::input1_is_ema1, false),
      flag("input2_is_ema2", &Args::input2_is_ema2, false),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_dema";
  static constexpr const char* locals[] = {"n", "i", "k", "dema", "ema1", "ema2"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "2 * stage1 - stage2 of the EMA chain, a fraction (not the textbook DEMA of the price).\n"
      "\n"
      "Pass timeperiod by keyword: the second position is input2 (a precomputed stage 2).\n"
      "First value at position 0.";
  static constexpr int traceback_line = 52;
  static constexpr WarmUp warm_up{};
  static constexpr Output output{.family = 1, .title = "Double exponential average",

                                   .unit = "fraction of the price", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
