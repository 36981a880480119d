// Exponential smoothing: EMA and the indicators composed from it by calls.

#include "indicators/bodies.hpp"

namespace velk::indicators {

PyObject* velk_ema(Call& call) { return not_implemented(call); }
PyObject* velk_ema2(Call& call) { return not_implemented(call); }
PyObject* velk_ema3(Call& call) { return not_implemented(call); }
PyObject* velk_dema(Call& call) { return not_implemented(call); }
PyObject* velk_tema(Call& call) { return not_implemented(call); }
PyObject* velk_trix(Call& call) { return not_implemented(call); }
PyObject* velk_macd(Call& call) { return not_implemented(call); }

}  // namespace velk::indicators
