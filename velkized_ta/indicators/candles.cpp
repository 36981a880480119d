// Candle and spread measures.

#include "indicators/bodies.hpp"

namespace velk::indicators {

PyObject* velk_wick(Call& call) { return not_implemented(call); }
PyObject* velk_adif(Call& call) { return not_implemented(call); }
PyObject* velk_rdif(Call& call) { return not_implemented(call); }

}  // namespace velk::indicators
