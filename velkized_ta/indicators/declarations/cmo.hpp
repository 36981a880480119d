// The declaration of velk_cmo: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Cmo {
  struct Args {
    Series close_arr;
    int32_t timeperiod;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("close_arr", &Args::close_arr),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_cmo";
  static constexpr const char* locals[] = {
      "n", "i", "k", "cmo", "sum_gains", "sum_losses", "change", "new_change", "old_change"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Chande momentum oscillator over plain window sums: (gains - losses) / (gains + losses), -1 ... 1.\n"
      "\n"
      "First value at position timeperiod. Raises IndexError for n_values <= 0.";
  static constexpr int traceback_line = 93;
  static constexpr WarmUp warm_up{"timeperiod"};
  static constexpr Output output{.family = 2, .title = "Chande momentum oscillator",

                                   .unit = "ratio, −1 … 1", .bounded = true, .low = -1.0, .high = 1.0};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
