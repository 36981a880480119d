// Lanes across series: the columns of a row-major table (one series per column)
// stepped together, row by row, one series per lane. A row of the table holds the
// same bar of consecutive series, so one vector load reads sixteen series' bars and
// each lane carries one series' state. Every lane operation is the scalar IEEE
// operation of that series' step, in the same order, so each series keeps its bits.
#pragma once

#include <cstdint>
#include <cstring>

#include "driver/lanes.hpp"
#include "frame/fma.hpp"
#include "frame/view.hpp"

namespace velk {

// Sixteen series per group: one AVX-512 register, two AVX2 or four SSE ones, as
// `with_wide_vectors` chose the build (frame/fma.hpp).
constexpr int kColumnLanes = kWide;

// A row-major table seen as rows: element (row i, column j) at base + i * along + j * across.
struct Rows {
  char* base = nullptr;
  int64_t along = 0;
  int64_t across = 0;
};

// `count` (1 .. kColumnLanes) consecutive columns of a table. Lanes past `count`
// repeat the first column, so they compute real values (which are discarded) and
// fail only where the first lane does.
struct ColumnGroup {
  Rows rows;
  int count = kColumnLanes;

  Wide load(int64_t i) const {
    const char* row = rows.base + i * rows.along;
    Wide lanes;
    if (count == kColumnLanes && rows.across == int64_t{sizeof(float)}) {
      std::memcpy(&lanes, row, sizeof lanes);
      return lanes;
    }
    for (int k = 0; k < kColumnLanes; ++k) {
      const int column = k < count ? k : 0;
      std::memcpy(&lanes[k], row + column * rows.across, sizeof(float));
    }
    return lanes;
  }
  // Row after row of one group lies a page apart in a wide table, where the hardware
  // prefetchers stop: each step asks for the row `kAhead` steps on (a hint, which never
  // faults, also past the end) in both of the lines it may span.
  static constexpr int64_t kAhead = 24;
  void prefetch(int64_t i) const {
    const char* row = rows.base + (i + kAhead) * rows.along;
    __builtin_prefetch(row);
    __builtin_prefetch(row + (kColumnLanes - 1) * rows.across);
  }
  void prefetch_for_store(int64_t i) const {
    char* row = rows.base + (i + kAhead) * rows.along;
    __builtin_prefetch(row, 1);
    __builtin_prefetch(row + (kColumnLanes - 1) * rows.across, 1);
  }

  void store(int64_t i, Wide lanes) const {
    char* row = rows.base + i * rows.along;
    if (count == kColumnLanes && rows.across == int64_t{sizeof(float)}) {
      std::memcpy(row, &lanes, sizeof lanes);
      return;
    }
    for (int k = 0; k < count; ++k) std::memcpy(row + k * rows.across, &lanes[k], sizeof(float));
  }
};

inline Wide wide_splat(float v) { return Wide{} + v; }
inline WideDoubles widen(Wide v) { return __builtin_convertvector(v, WideDoubles); }
// Each lane rounded to float32 as the scalar step rounds it (the lane-wise `as_float`).
inline Wide narrow(WideDoubles v) { return __builtin_convertvector(v, Wide); }
// Lane by lane `keep ? a : b`.
inline Wide choose(WideMask keep, Wide a, Wide b) { return keep ? a : b; }
inline WideMask missing(Wide v) { return v != v; }
inline WideMask all_lanes() { return WideMask{} - 1; }

// Each lane is the scalar fused step (`fused` of frame/fma.hpp): one rounding, by
// the FMA unit or the C library's fma as the build was chosen.
inline WideDoubles fused(WideDoubles a, WideDoubles b, WideDoubles c) {
  WideDoubles r;
  for (int k = 0; k < kWide; ++k) r[k] = fused(a[k], b[k], c[k]);
  return r;
}
inline Wide fused(Wide a, Wide b, Wide c) {
  Wide r;
  for (int k = 0; k < kWide; ++k) r[k] = fused(a[k], b[k], c[k]);
  return r;
}

// The lanes of a mask that hold, as bits 0 .. count - 1.
inline uint32_t lanes_set(WideMask m, int count) {
  uint32_t bits = 0;
  for (int k = 0; k < count; ++k) bits |= static_cast<uint32_t>(m[k] != 0) << k;
  return bits;
}

}  // namespace velk
