// Directional movement and volatility.

#include "indicators/bodies.hpp"

namespace velk::indicators {

PyObject* velk_dx(Call& call) { return not_implemented(call); }
PyObject* velk_adx(Call& call) { return not_implemented(call); }
PyObject* velk_adxr(Call& call) { return not_implemented(call); }
PyObject* velk_natr(Call& call) { return not_implemented(call); }

}  // namespace velk::indicators
