// Lanes across series for the many-series call: the columns of a row-major table
// stepped row by row, a vector of series at a time (driver/columns.hpp). An entry either
// declines the whole group (its parameters take the per-series path) or computes
// every row of every column, naming the columns whose series would need what the
// lanes do not carry (an error, a stage without a seed); the caller recomputes
// those through the per-series entry, which hands them on as it always does.
#pragma once

#include <cstdint>

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

}  // namespace velk::indicators
