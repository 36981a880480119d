// The declaration of every exported function, in export order: its typed
// arguments and their parameters (names, kinds, defaults), the further names its
// code object lists, its docstring and the line its tracebacks report. The
// function table and the conversion of a call's arguments are derived from these;
// each `run` is defined with the indicator's arithmetic in its family's file.
#pragma once

#include <tuple>

#include "frame/declaration.hpp"

namespace velk::indicators {

inline constexpr const char kCciDoc[] =
    "\n    Note: this function uses mean squared deviation instead of mean absolute deviation to achieve "
    "faster execution.\n    ";

// Parameter lists several functions share.
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

struct Sma : SeriesPeriodNormalize {
  static constexpr const char* name = "velk_sma";
  static constexpr const char* locals[] = {"n", "i", "non_nan_count", "sma", "sum", "k"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 28;
  static PyObject* run(Call& call, const Args& args);
};

struct Lin {
  struct Args {
    Series input_array;
    int32_t timeperiod;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input_array", &Args::input_array),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_lin";
  static constexpr const char* locals[] = {
      "n", "i", "j", "first_non_nan_index", "start_index", "lin", "sum_y", "sum_xy", "sum_x", "sum_x2", "denom",
      "deduction"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 32;
  static PyObject* run(Call& call, const Args& args);
};

struct Mid {
  struct Args {
    Series high;
    Series low;
    Series close;
    int32_t timeperiod;
    bool normalize;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("high", &Args::high),
      array("low", &Args::low),
      array("close", &Args::close),
      integer("timeperiod", &Args::timeperiod),
      flag("normalize", &Args::normalize, true),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_mid";
  static constexpr const char* locals[] = {
      "n", "i", "high_start", "high_end", "low_start", "low_end", "k", "mid", "high_indices", "low_indices"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 37;
  static PyObject* run(Call& call, const Args& args);
};

struct Ema : SeriesPeriodNormalize {
  static constexpr const char* name = "velk_ema";
  static constexpr const char* locals[] = {"n", "i", "first_non_nan", "alpha", "ema_value", "ema"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 40;
  static PyObject* run(Call& call, const Args& args);
};

struct Ema2 {
  struct Args {
    Series input_array;
    int32_t timeperiod;
    bool input_is_ema1;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input_array", &Args::input_array),
      integer("timeperiod", &Args::timeperiod),
      flag("input_is_ema1", &Args::input_is_ema1, false),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_ema2";
  static constexpr const char* locals[] = {"ema1", "ema2"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 44;
  static PyObject* run(Call& call, const Args& args);
};

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
  static constexpr int traceback_line = 48;
  static PyObject* run(Call& call, const Args& args);
};

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
  static constexpr int traceback_line = 52;
  static PyObject* run(Call& call, const Args& args);
};

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
  static constexpr int traceback_line = 57;
  static PyObject* run(Call& call, const Args& args);
};

struct Trix {
  struct Args {
    Series arr;
    int32_t timeperiod;
    bool input_is_ema3;
    bool input_is_ema2;
    bool input_is_ema1;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("arr", &Args::arr),
      integer("timeperiod", &Args::timeperiod, 1),
      flag("input_is_ema3", &Args::input_is_ema3, false),
      flag("input_is_ema2", &Args::input_is_ema2, false),
      flag("input_is_ema1", &Args::input_is_ema1, false),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_trix";
  static constexpr const char* locals[] = {"n", "k", "trix", "ema1", "ema2", "ema3", "i"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 61;
  static PyObject* run(Call& call, const Args& args);
};

struct Roc {
  struct Args {
    Series input_array;
    int32_t timeperiod;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("input_array", &Args::input_array),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_roc";
  static constexpr const char* locals[] = {"n", "roc", "k", "i"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 63;
  static PyObject* run(Call& call, const Args& args);
};

struct Rsi {
  struct Args {
    Series close;
    int32_t timeperiod;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("close", &Args::close),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_rsi";
  static constexpr const char* locals[] = {"n", "i", "k", "rsi", "total_gain", "total_loss", "diff", "gain", "loss"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 65;
  static PyObject* run(Call& call, const Args& args);
};

struct Willr : PricesPeriod {
  static constexpr const char* name = "velk_willr";
  static constexpr const char* locals[] = {
      "n", "i", "high_start", "high_end", "low_start", "low_end", "k", "willr", "high_indices", "low_indices",
      "highest_high", "lowest_low"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 71;
  static PyObject* run(Call& call, const Args& args);
};

struct Cci : PricesPeriod {
  static constexpr const char* name = "velk_cci";
  static constexpr const char* locals[] = {
      "n", "i", "j", "k", "cci", "typical_price", "sum_tp", "sum_tp_squared", "old_avg_tp", "new_avg_tp", "old_tp",
      "new_tp", "mean_squared_deviation"};
  static constexpr const char* doc = kCciDoc;
  static constexpr int traceback_line = 77;
  static PyObject* run(Call& call, const Args& args);
};

struct Dx {
  struct Args {
    Series high;
    Series low;
    Series close;
    int32_t timeperiod;
    int32_t n_values;
  };
  static constexpr auto params = std::tuple{
      array("high", &Args::high),
      array("low", &Args::low),
      array("close", &Args::close),
      integer("timeperiod", &Args::timeperiod),
      integer("n_values", &Args::n_values, kWholeSeries)};
  static constexpr const char* name = "velk_dx";
  static constexpr const char* locals[] = {
      "n", "i", "dx", "plus_dm", "minus_dm", "atr", "tr", "plus_dm_sum", "minus_dm_sum", "atr_sum"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 82;
  static PyObject* run(Call& call, const Args& args);
};

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
  static constexpr int traceback_line = 86;
  static PyObject* run(Call& call, const Args& args);
};

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
  static constexpr int traceback_line = 90;
  static PyObject* run(Call& call, const Args& args);
};

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
  static constexpr int traceback_line = 93;
  static PyObject* run(Call& call, const Args& args);
};

struct Natr : PricesPeriod {
  static constexpr const char* name = "velk_natr";
  static constexpr const char* locals[] = {"n", "i", "k", "tr", "atr", "natr", "atr_value"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 97;
  static PyObject* run(Call& call, const Args& args);
};

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
  static constexpr int traceback_line = 103;
  static PyObject* run(Call& call, const Args& args);
};

struct Stochf {
  struct Args {
    Series high_arr;
    Series low_arr;
    Series close_arr;
    int32_t timeperiod;
    bool stream;
    bool last_value_only;
  };
  static constexpr auto params = std::tuple{
      array("high_arr", &Args::high_arr),
      array("low_arr", &Args::low_arr),
      array("close_arr", &Args::close_arr),
      integer("timeperiod", &Args::timeperiod),
      flag("stream", &Args::stream, false),
      flag("last_value_only", &Args::last_value_only, false)};
  static constexpr const char* name = "velk_stochf";
  static constexpr const char* locals[] = {
      "n", "stochf_k", "high_indices", "low_indices", "high_start", "high_end", "low_start", "low_end", "i",
      "highest_idx", "lowest_idx", "highest_high", "lowest_low"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 109;
  static PyObject* run(Call& call, const Args& args);
};

struct Wick : PricesPeriod {
  static constexpr const char* name = "velk_wick";
  static constexpr const char* locals[] = {
      "n", "high_start", "high_end", "low_start", "low_end", "i", "highest_idx", "lowest_idx", "k", "wick_arr",
      "high_indices", "low_indices", "top_wick", "bottom_wick", "max_high", "min_low", "previous_close"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 115;
  static PyObject* run(Call& call, const Args& args);
};

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
  static constexpr int traceback_line = 120;
  static PyObject* run(Call& call, const Args& args);
};

struct Adif : TwoSeries {
  static constexpr const char* name = "velk_adif";
  static constexpr const char* locals[] = {"n", "i", "dif"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 122;
  static PyObject* run(Call& call, const Args& args);
};

struct Rdif : TwoSeries {
  static constexpr const char* name = "velk_rdif";
  static constexpr const char* locals[] = {"n", "i", "dif"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 124;
  static PyObject* run(Call& call, const Args& args);
};

// Export order.
using Exported = std::tuple<Sma, Lin, Mid, Ema, Ema2, Ema3, Dema, Tema, Trix, Roc, Rsi, Willr, Cci, Dx, Adx, Adxr, Cmo, Natr, Ult, Stochf, Wick, Macd, Adif, Rdif>;

}  // namespace velk::indicators
