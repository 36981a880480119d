// Parameter lists several exported functions share.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

struct SeriesPeriodNormalize {
  struct Args {
    Series input_array;
    int32_t timeperiod;
    bool normalize;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input_array", &Args::input_array),
      integer("timeperiod", &Args::timeperiod),
      flag("normalize", &Args::normalize, true),
      integer("n_values", &Args::n_values, kWholeSeries)};
};

struct PricesPeriod {
  struct Args {
    Series high_arr;
    Series low_arr;
    Series close_arr;
    int32_t timeperiod;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("high_arr", &Args::high_arr),
      array("low_arr", &Args::low_arr),
      array("close_arr", &Args::close_arr),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries)};
};

struct TwoSeries {
  struct Args {
    Series input_array_1;
    Series input_array_2;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input_array_1", &Args::input_array_1),
      array("input_array_2", &Args::input_array_2),
      integer("n_values", &Args::n_values, kWholeSeries)};
};

}  // namespace velk::indicators
