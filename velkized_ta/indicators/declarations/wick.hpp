// The declaration of velk_wick: its arguments, further names, docstring and traceback line.
#pragma once

#include "indicators/declarations/shared.hpp"

namespace velk::indicators {

struct Wick : PricesPeriod {
  static constexpr const char* name = "velk_wick";
  static constexpr const char* locals[] = {
      "n", "high_start", "high_end", "low_start", "low_end", "i", "highest_idx", "lowest_idx", "k", "wick_arr",
      "high_indices", "low_indices", "top_wick", "bottom_wick", "max_high", "min_low", "previous_close"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Upper minus lower wick of a candle spanning the last `timeperiod` bars, over the close.\n"
      "\n"
      "The candle opens at close[t - timeperiod] and closes at close[t].\n"
      "First value at position timeperiod.";
  static constexpr int traceback_line = 115;
  static constexpr WarmUp warm_up{"timeperiod"};
  static constexpr Output output{.family = 4, .title = "Wick balance",

                                   .unit = "fraction of the close", .percent = true};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
