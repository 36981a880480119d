// The declaration of velk_ult: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Ult {
  struct Args {
    Series high_arr;
    Series low_arr;
    Series close_arr;
    int32_t short_period;
    int32_t medium_period;
    int32_t long_period;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("high_arr", &Args::high_arr),
      array("low_arr", &Args::low_arr),
      array("close_arr", &Args::close_arr),
      integer("short_period", &Args::short_period),
      integer("medium_period", &Args::medium_period),
      integer("long_period", &Args::long_period),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_ult";
  static constexpr const char* locals[] = {
      "n", "i", "k", "uo", "sum_bp_short", "sum_tr_short", "sum_bp_medium", "sum_tr_medium", "sum_bp_long",
      "sum_tr_long", "eps", "bp", "tr"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Ultimate oscillator, 0 ... 1: buying pressure over true range in three windows.\n"
      "\n"
      "Ratios weighted crosswise: short by long_period, medium by medium_period, long by short_period.\n"
      "First value at position long_period.";
  static constexpr int traceback_line = 103;
  static constexpr WarmUp warm_up{"long_period"};
  static constexpr Output output{.family = 2, .title = "Ultimate oscillator",

                                   .unit = "ratio, 0 … 1", .bounded = true, .low = 0.0, .high = 1.0};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
