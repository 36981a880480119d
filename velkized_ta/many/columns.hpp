// Lanes across series for the many-series call: the columns of a row-major table
// stepped row by row, a vector of series at a time (driver/columns.hpp). An entry either
// declines the whole group (its parameters take the per-series path) or computes
// every row of every column, naming the columns whose series would need what the
// lanes do not carry (an error, a stage without a seed); the caller recomputes
// those through the per-series entry, which hands them on as it always does.
#pragma once

#include <cstdint>
#include <new>

#include "driver/columns.hpp"
#include "frame/declaration.hpp"
#include "indicators/declarations.hpp"

namespace velk::indicators {

// The tables of one group's series arguments, found by the first column's view
// that the entry's arguments hold (its data is the group's first element).
class GroupTables {
 public:
  void add(const FloatView& first_column, const ColumnGroup& group) {
    firsts_[used_] = first_column.data();
    groups_[used_] = group;
    ++used_;
  }
  // False where the series is absent; the entry then declines.
  bool find(const Series& series, ColumnGroup& group) const {
    if (series.object == Py_None) return false;
    for (int p = 0; p < used_; ++p) {
      if (firsts_[p] == series.view.data()) {
        group = groups_[p];
        return true;
      }
    }
    return false;
  }

 private:
  const char* firsts_[kMaxParams] = {};
  ColumnGroup groups_[kMaxParams];
  int used_ = 0;
};

// The prices of a group, when present and the series is not empty.
inline bool group_of(const Series& series, const GroupTables& tables, int32_t n, ColumnGroup& group) {
  return n >= 1 && tables.find(series, group);
}

// The high, low and close of a call's group.
struct PriceGroups {
  ColumnGroup high, low, close;
};

inline bool groups_of(const Series& high, const Series& low, const Series& close, const GroupTables& tables,
                      int32_t n, PriceGroups& prices) {
  return n >= 1 && tables.find(high, prices.high) && tables.find(low, prices.low) && tables.find(close, prices.close);
}

// Allocation failures decline the call: the per-series path (or, for live values, the handles) takes it.
template <class Run>
inline bool declining_on_memory(Run&& run) {
  try {
    run();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Steps of indicators/oscillator_steps.hpp and frame/fma.hpp in every lane, for the lanes of the
// exact function and of the live values alike.

// fused_minus in every lane: a NaN c passes on as it is.
template <class L>
inline typename L::Floats fused_minus_lanes(typename L::Floats a, typename L::Floats b, typename L::Floats c) {
  return choose<L>(missing<L>(c), c, fused_lanes<L>(a, b, -c));
}

// pressure_and_range in every lane.
template <class L>
inline void pressure_and_range_lanes(typename L::Floats previous_close, typename L::Floats low,
                                     typename L::Floats high, typename L::Floats close, typename L::Floats& bp,
                                     typename L::Floats& tr) {
  const typename L::Floats lower = choose<L>(less(previous_close, low), previous_close, low);
  const typename L::Floats upper = choose<L>(greater(previous_close, high), previous_close, high);
  bp = close - lower;
  tr = upper - lower;
}

// guard_range in every lane: +0 added elsewhere leaves a sum that is not -0 as it is.
template <class L>
inline typename L::Floats guarded_range(typename L::Floats tr) {
  using F = typename L::Floats;
  return tr + choose<L>(equal(tr, F{}), splat<L>(1e-10f), F{});
}

// ultimate_value in every lane (s, m, l, w the periods and their sum as floats).
template <class L, class F = typename L::Floats>
inline F ultimate_lanes(F bp_short, F tr_short, F bp_medium, F tr_medium, F bp_long, F tr_long, F s, F m, F l, F w) {
  return ((bp_short * l / tr_short + bp_medium * m / tr_medium) + bp_long * s / tr_long) / w;
}

// The functions whose columns run in lanes.
template <class I>
constexpr bool kHasColumnLanes = false;
template <> inline constexpr bool kHasColumnLanes<Ema> = true;
template <> inline constexpr bool kHasColumnLanes<Ema2> = true;
template <> inline constexpr bool kHasColumnLanes<Ema3> = true;
template <> inline constexpr bool kHasColumnLanes<Dema> = true;
template <> inline constexpr bool kHasColumnLanes<Tema> = true;
template <> inline constexpr bool kHasColumnLanes<Trix> = true;
template <> inline constexpr bool kHasColumnLanes<Macd> = true;
template <> inline constexpr bool kHasColumnLanes<Rsi> = true;
template <> inline constexpr bool kHasColumnLanes<Cmo> = true;
template <> inline constexpr bool kHasColumnLanes<Dx> = true;
template <> inline constexpr bool kHasColumnLanes<Adx> = true;
template <> inline constexpr bool kHasColumnLanes<Adxr> = true;
template <> inline constexpr bool kHasColumnLanes<Natr> = true;
template <> inline constexpr bool kHasColumnLanes<Willr> = true;
template <> inline constexpr bool kHasColumnLanes<Cci> = true;
template <> inline constexpr bool kHasColumnLanes<Stochf> = true;
template <> inline constexpr bool kHasColumnLanes<Roc> = true;
template <> inline constexpr bool kHasColumnLanes<Sma> = true;
template <> inline constexpr bool kHasColumnLanes<Mid> = true;
template <> inline constexpr bool kHasColumnLanes<Wick> = true;
template <> inline constexpr bool kHasColumnLanes<Ult> = true;
template <> inline constexpr bool kHasColumnLanes<Lin> = true;
template <> inline constexpr bool kHasColumnLanes<Adif> = true;
template <> inline constexpr bool kHasColumnLanes<Rdif> = true;

// Element-wise functions, whose groups may take any number of columns (for_whole_rows);
// the others take at most kMostColumns.
template <class I>
constexpr bool kColumnLanesTakeWholeRows = false;
template <> inline constexpr bool kColumnLanesTakeWholeRows<Roc> = true;
template <> inline constexpr bool kColumnLanesTakeWholeRows<Adif> = true;
template <> inline constexpr bool kColumnLanesTakeWholeRows<Rdif> = true;

// Writes rows 0 .. n - 1 of every column of `out` and sets failed[k] for each
// column k the per-series entry must recompute; false (nothing written) when
// these parameters take the per-series path. Runs without the GIL; each entry
// enters the build for the widest vector unit itself (`with_wide_vectors`).
template <class I>
bool columns_in_lanes(const typename I::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                      uint8_t* failed);

// The functions whose handles follow the call with n_values=1 (`kFull` false in live/kernels.hpp):
// their live values are not the exact function's over the whole series, so with `live` their
// columns take live_columns_in_lanes; every other function's live values are the exact function's
// wherever the lanes compute them, and its live columns take columns_in_lanes. live/module.cpp
// holds this list to the kernels.
template <class I>
constexpr bool kLiveFollowsTrailingCall = false;
template <> inline constexpr bool kLiveFollowsTrailingCall<Sma> = true;
template <> inline constexpr bool kLiveFollowsTrailingCall<Lin> = true;
template <> inline constexpr bool kLiveFollowsTrailingCall<Cmo> = true;
template <> inline constexpr bool kLiveFollowsTrailingCall<Ult> = true;
template <> inline constexpr bool kLiveFollowsTrailingCall<Cci> = true;

// What a handle opened on an empty series gives bar by bar (the kernel's parameters from `args`,
// whose n_values is not read) for rows 0 .. n - 1 of every column of `out`, as columns_in_lanes
// writes the exact function's values: failed[k] set for each column the live route must
// recompute (a failing bar, numpy's root), false (nothing written) when these parameters take
// the live route whole.
template <class I>
bool live_columns_in_lanes(const typename I::Args& args, const GroupTables& tables, const ColumnGroup& out, int32_t n,
                           uint8_t* failed);

}  // namespace velk::indicators
