// Momentum oscillators.

#include "indicators/bodies.hpp"

namespace velk::indicators {

PyObject* velk_roc(Call& call) { return not_implemented(call); }
PyObject* velk_rsi(Call& call) { return not_implemented(call); }
PyObject* velk_willr(Call& call) { return not_implemented(call); }
PyObject* velk_cci(Call& call) { return not_implemented(call); }
PyObject* velk_cmo(Call& call) { return not_implemented(call); }
PyObject* velk_ult(Call& call) { return not_implemented(call); }
PyObject* velk_stochf(Call& call) { return not_implemented(call); }

}  // namespace velk::indicators
