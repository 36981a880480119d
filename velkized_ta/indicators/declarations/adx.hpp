// The declaration of velk_adx: its arguments, further names, docstring and traceback line.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct Adx {
  struct Args {
    Series high_arr;
    Series low_arr;
    Series close_arr;
    int32_t timeperiod;
    int32_t n_values;
    bool close_arr_is_dx;
  };
  static constexpr auto params = std::tuple{
      array("high_arr", &Args::high_arr, nullptr),
      array("low_arr", &Args::low_arr, nullptr),
      array("close_arr", &Args::close_arr, nullptr),
      integer("timeperiod", &Args::timeperiod, 1),
      integer("n_values", &Args::n_values, kWholeSeries),
      flag("close_arr_is_dx", &Args::close_arr_is_dx, false)};
  static constexpr const char* name = "velk_adx";
  static constexpr const char* locals[] = {"n", "i", "k", "adx", "dx", "adx_value"};
  static constexpr const char* doc = nullptr;
  // What the stubs and the docs say the function gives (velk_ta_funcs.pyi).
  static constexpr const char* summary =
      "Wilder average of velk_dx, 0 ... 1. Pass all of high, low, close and timeperiod.\n"
      "\n"
      "close_arr_is_dx=True: close_arr already is the DX series.\n"
      "First value at position 2 * timeperiod.";
  static constexpr int traceback_line = 86;
  static constexpr WarmUp warm_up{"timeperiod", 2, 0};
  static constexpr Output output{.family = 3, .title = "Average directional index",

                                   .unit = "ratio, 0 … 1", .bounded = true, .low = 0.0, .high = 1.0};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
