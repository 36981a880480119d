// The declaration of velk_macd: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Macd {
  struct Args {
    Series input0;
    Series input1;
    Series input2;
    int32_t short_period;
    int32_t long_period;
    bool input1_is_fast_ema;
    bool input2_is_slow_ema;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input0", &Args::input0, nullptr),
      array("input1", &Args::input1, nullptr),
      array("input2", &Args::input2, nullptr),
      integer("short_period", &Args::short_period, 1),
      integer("long_period", &Args::long_period, 1),
      flag("input1_is_fast_ema", &Args::input1_is_fast_ema, false),
      flag("input2_is_slow_ema", &Args::input2_is_slow_ema, false),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_macd";
  static constexpr const char* locals[] = {"n", "i", "k", "macd", "fast_ema", "slow_ema"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "MACD line over the price: velk_ema(x, short_period) - velk_ema(x, long_period), a fraction.\n"
      "\n"
      "Pass the periods by keyword. No signal line or histogram.\n"
      "First value at position long_period.";
  static constexpr int traceback_line = 120;
  static constexpr WarmUp warm_up{"long_period"};
  static constexpr Output output{.family = 1, .title = "MACD line",

                                   .unit = "fraction of the price", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
