// The Python-facing bodies of the 24 indicators, one per function-table row.
// Each receives the bound and converted arguments and returns a new reference.
#pragma once

#include "frame/call.hpp"

namespace velk::indicators {

// averages.cpp
PyObject* velk_sma(Call& call);
PyObject* velk_lin(Call& call);
PyObject* velk_mid(Call& call);
// smoothing.cpp
PyObject* velk_ema(Call& call);
PyObject* velk_ema2(Call& call);
PyObject* velk_ema3(Call& call);
PyObject* velk_dema(Call& call);
PyObject* velk_tema(Call& call);
PyObject* velk_trix(Call& call);
PyObject* velk_macd(Call& call);
// oscillators.cpp
PyObject* velk_roc(Call& call);
PyObject* velk_rsi(Call& call);
PyObject* velk_willr(Call& call);
PyObject* velk_cci(Call& call);
PyObject* velk_cmo(Call& call);
PyObject* velk_ult(Call& call);
PyObject* velk_stochf(Call& call);
// directional.cpp
PyObject* velk_dx(Call& call);
PyObject* velk_adx(Call& call);
PyObject* velk_adxr(Call& call);
PyObject* velk_natr(Call& call);
// candles.cpp
PyObject* velk_wick(Call& call);
PyObject* velk_adif(Call& call);
PyObject* velk_rdif(Call& call);

}  // namespace velk::indicators
