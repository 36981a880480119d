// Every exported function's declaration (one header each in declarations/: its typed
// arguments and their parameters, the further names its code object lists, its
// docstring and the line its tracebacks report), and the export order. Only the
// tables that list every function include this; a family file includes the
// declarations of its own functions, so a change to one recompiles its family alone.
#pragma once

#include <tuple>

#include "indicators/declarations/adif.hpp"
#include "indicators/declarations/adx.hpp"
#include "indicators/declarations/adxr.hpp"
#include "indicators/declarations/cci.hpp"
#include "indicators/declarations/cmo.hpp"
#include "indicators/declarations/dema.hpp"
#include "indicators/declarations/dx.hpp"
#include "indicators/declarations/ema.hpp"
#include "indicators/declarations/ema2.hpp"
#include "indicators/declarations/ema3.hpp"
#include "indicators/declarations/lin.hpp"
#include "indicators/declarations/macd.hpp"
#include "indicators/declarations/mid.hpp"
#include "indicators/declarations/natr.hpp"
#include "indicators/declarations/rdif.hpp"
#include "indicators/declarations/roc.hpp"
#include "indicators/declarations/rsi.hpp"
#include "indicators/declarations/sma.hpp"
#include "indicators/declarations/stochf.hpp"
#include "indicators/declarations/tema.hpp"
#include "indicators/declarations/trix.hpp"
#include "indicators/declarations/ult.hpp"
#include "indicators/declarations/wick.hpp"
#include "indicators/declarations/willr.hpp"

namespace velk::indicators {

// Export order.
using Exported = std::tuple<Sma, Lin, Mid, Ema, Ema2, Ema3, Dema, Tema, Trix, Roc, Rsi, Willr, Cci, Dx, Adx, Adxr, Cmo, Natr, Ult, Stochf, Wick, Macd, Adif, Rdif>;

}  // namespace velk::indicators
