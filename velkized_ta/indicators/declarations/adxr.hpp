// The declaration of velk_adxr: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Adxr {
  struct Args {
    Series high_arr;
    Series low_arr;
    Series close_arr;
    int32_t timeperiod;
    int32_t n_values;
    bool close_arr_is_adx;
  };
  static constexpr auto params = std::tuple{
      array("high_arr", &Args::high_arr),
      array("low_arr", &Args::low_arr),
      array("close_arr", &Args::close_arr),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries),
      flag("close_arr_is_adx", &Args::close_arr_is_adx, false)};
  static constexpr const char* name = "velk_adxr";
  static constexpr const char* locals[] = {"n", "i", "k", "adx", "adxr"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "(ADX[t] + ADX[t - timeperiod]) / 2, 0 ... 1.\n"
      "\n"
      "close_arr_is_adx=True: close_arr already is the ADX series.\n"
      "First value at position 3 * timeperiod.";
  static constexpr int traceback_line = 90;
  static constexpr WarmUp warm_up{"timeperiod", 3, 0};
  static constexpr Output output{.family = 3, .title = "Average directional index rating",

                                   .unit = "ratio, 0 … 1", .bounded = true, .low = 0.0, .high = 1.0};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
