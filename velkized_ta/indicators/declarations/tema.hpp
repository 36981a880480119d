// The declaration of velk_tema: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Tema {
  struct Args {
    Series input1;
    Series input2;
    Series input3;
    int32_t timeperiod;
    bool input3_is_ema3;
    bool input2_is_ema2;
    bool input1_is_ema1;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input1", &Args::input1),
      array("input2", &Args::input2, nullptr),
      array("input3", &Args::input3, nullptr),
      integer("timeperiod", &Args::timeperiod, 1),
      flag("input3_is_ema3", &Args::input3_is_ema3, false),
      flag("input2_is_ema2", &Args::input2_is_ema2, false),
      flag("input1_is_ema1", &Args::input1_is_ema1, false),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_tema";
  static constexpr const char* locals[] = {"n", "i", "k", "tema", "ema1", "ema2", "ema3"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "3 * stage1 - 3 * stage2 + stage3 of the EMA chain, a fraction (not the textbook TEMA).\n"
      "\n"
      "Pass timeperiod by keyword: positions two and three are precomputed stages.\n"
      "First value at position 0.";
  static constexpr int traceback_line = 57;
  static constexpr WarmUp warm_up{};
  static constexpr Output output{.family = 1, .title = "Triple exponential average",

                                   .unit = "fraction of the price", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
