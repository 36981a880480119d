// The declaration of velk_ema: its arguments, further names, docstring and traceback line.
#pragma once

#include "indicators/declarations/shared.hpp"

namespace velk::indicators {

struct Ema : SeriesPeriodNormalize {
  static constexpr const char* name = "velk_ema";
  static constexpr const char* locals[] = {"n", "i", "first_non_nan", "alpha", "ema_value", "ema"};
  static constexpr const char* doc = nullptr;
  static constexpr int traceback_line = 40;
  static constexpr WarmUp warm_up{};
  static PyObject* run(Call& call, const Args& args);
};

}  // namespace velk::indicators
