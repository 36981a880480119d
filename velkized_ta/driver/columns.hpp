// Lanes across series: the columns of a row-major table (one series per column)
// stepped together, row by row, one series per lane. A row of the table holds the
// same bar of consecutive series, so one vector load reads a lane group's bars and
// each lane carries one series' state. Every lane operation is the scalar IEEE
// operation of that series' step, in the same order, so each series keeps its bits.
//
// The lane count follows the vector unit the build is for (`for_widest_lanes`): 16
// float32 lanes for AVX-512, 8 for AVX2, 4 otherwise. Selections are bitwise: GCC
// splits a vector `?:` of a type wider than the unit into one branch per lane.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#if defined(__x86_64__) && !defined(__clang__)
#include <immintrin.h>
#endif

#include "frame/fma.hpp"
#include "frame/view.hpp"

namespace velk {

// One specialisation per width rather than vector_size(4 * kWidth): GCC takes vector types of a
// dependent size for one type, and the comparison overloads below would collide.
template <int kWidth>
struct LaneTypes;
template <>
struct LaneTypes<4> {
  static constexpr int kWidth = 4;
  using Floats = float __attribute__((vector_size(16)));
  using Mask = int32_t __attribute__((vector_size(16)));
  using Doubles = double __attribute__((vector_size(32)));
};
template <>
struct LaneTypes<8> {
  static constexpr int kWidth = 8;
  using Floats = float __attribute__((vector_size(32)));
  using Mask = int32_t __attribute__((vector_size(32)));
  using Doubles = double __attribute__((vector_size(64)));
};
template <>
struct LaneTypes<16> {
  static constexpr int kWidth = 16;
  using Floats = float __attribute__((vector_size(64)));
  using Mask = int32_t __attribute__((vector_size(64)));
  using Doubles = double __attribute__((vector_size(128)));
};

// A row-major table seen as rows: element (row i, column j) at base + i * along + j * across.
struct Rows {
  char* base = nullptr;
  int64_t along = 0;
  int64_t across = 0;
};

// `count` consecutive columns of a table. In a lane group, lanes
// past `count` repeat the first column, so they compute real values (which are
// discarded) and fail only where the first lane does.
struct ColumnGroup {
  Rows rows;
  int count = 0;

  // Columns s .. s + width - 1 of the group (fewer at its end).
  ColumnGroup part(int s, int width) const {
    return {Rows{rows.base + s * rows.across, rows.along, rows.across}, std::min(width, count - s)};
  }

  template <class L>
  typename L::Floats load(int64_t i) const {
    const char* row = rows.base + i * rows.along;
    typename L::Floats lanes;
    if (count == L::kWidth && rows.across == int64_t{sizeof(float)}) {
      std::memcpy(&lanes, row, sizeof lanes);
      return lanes;
    }
    for (int k = 0; k < L::kWidth; ++k) {
      const int column = k < count ? k : 0;
      float v;
      std::memcpy(&v, row + column * rows.across, sizeof v);
      lanes[k] = v;
    }
    return lanes;
  }
  template <class L>
  void store(int64_t i, typename L::Floats lanes) const {
    char* row = rows.base + i * rows.along;
    if (count == L::kWidth && rows.across == int64_t{sizeof(float)}) {
      std::memcpy(row, &lanes, sizeof lanes);
      return;
    }
    for (int k = 0; k < count; ++k) {
      const float v = lanes[k];
      std::memcpy(row + k * rows.across, &v, sizeof v);
    }
  }

  // Row after row of one group lies a page apart in a wide table, where the hardware
  // prefetchers stop: each step asks for the row `kAhead` steps on (a hint, which never
  // faults, also past the end), in both of the lines it may span.
  static constexpr int64_t kAhead = 24;
  void prefetch(int64_t i) const {
    const char* row = rows.base + (i + kAhead) * rows.along;
    __builtin_prefetch(row);
    __builtin_prefetch(row + (count - 1) * rows.across);
  }
  void prefetch_for_store(int64_t i) const {
    char* row = rows.base + (i + kAhead) * rows.along;
    __builtin_prefetch(row, 1);
    __builtin_prefetch(row + (count - 1) * rows.across, 1);
  }
};

template <class L>
inline typename L::Floats splat(float v) {
  return typename L::Floats{} + v;
}
template <class L>
inline typename L::Doubles splat_double(double v) {
  return typename L::Doubles{} + v;
}
template <class L>
inline typename L::Doubles widen(typename L::Floats v) {
  return __builtin_convertvector(v, typename L::Doubles);
}
// Each lane rounded to float32 as the scalar step rounds it.
template <class L>
inline typename L::Floats narrow(typename L::Doubles v) {
  return __builtin_convertvector(v, typename L::Floats);
}

// Lane by lane `keep ? a : b`, on the bits.
template <class L>
inline typename L::Floats choose(typename L::Mask keep, typename L::Floats a, typename L::Floats b) {
  typename L::Mask bits_a, bits_b;
  std::memcpy(&bits_a, &a, sizeof a);
  std::memcpy(&bits_b, &b, sizeof b);
  const typename L::Mask bits = (bits_a & keep) | (bits_b & ~keep);
  typename L::Floats chosen;
  std::memcpy(&chosen, &bits, sizeof chosen);
  return chosen;
}
// fabs in every lane: the sign bit cleared, NaN included.
template <class L>
inline typename L::Floats magnitude(typename L::Floats v) {
  typename L::Mask bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits &= typename L::Mask{} + 0x7fffffff;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}
// Lane comparisons, one overload per lane count. GCC lowers a comparison written in code
// for a narrower unit one lane at a time, even where that code is later inlined into the
// wider build, so there each is compiled for the unit that has it; Clang lowers it for
// the function it ends up in, and refuses a call passing wide vectors between builds.
#if defined(__x86_64__) && !defined(__clang__)
#define VELK_LANES_AVX512 __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,avx2,fma")))
#define VELK_LANES_AVX2 __attribute__((target("avx2,fma")))
#else
#define VELK_LANES_AVX512
#define VELK_LANES_AVX2
#endif
#define VELK_LANE_COMPARISONS(L, ATTRIBUTES)                                                                        \
  ATTRIBUTES inline L::Mask greater(L::Floats a, L::Floats b) { return a > b; }                                 \
  ATTRIBUTES inline L::Mask less(L::Floats a, L::Floats b) { return a < b; }                                    \
  ATTRIBUTES inline L::Mask greater_equal(L::Floats a, L::Floats b) { return a >= b; }                          \
  ATTRIBUTES inline L::Mask equal(L::Floats a, L::Floats b) { return a == b; }                                  \
  ATTRIBUTES inline L::Mask not_equal(L::Floats a, L::Floats b) { return a != b; }
VELK_LANE_COMPARISONS(LaneTypes<4>, )
VELK_LANE_COMPARISONS(LaneTypes<8>, VELK_LANES_AVX2)
VELK_LANE_COMPARISONS(LaneTypes<16>, VELK_LANES_AVX512)
#undef VELK_LANE_COMPARISONS

// `a > b ? a : b` and `a < b ? a : b` in every lane: b wherever either is NaN, and b of
// two zeros. x86's max and min instructions are exactly that (their second operand where
// the comparison fails): one instruction for a comparison and a selection.
#if defined(__x86_64__) && !defined(__clang__)
#define VELK_LANE_EXTREMES(L, ATTRIBUTES, MAX, MIN)                                         \
  ATTRIBUTES inline L::Floats greater_of(L::Floats a, L::Floats b) { return MAX(a, b); } \
  ATTRIBUTES inline L::Floats less_of(L::Floats a, L::Floats b) { return MIN(a, b); }
VELK_LANE_EXTREMES(LaneTypes<4>, , _mm_max_ps, _mm_min_ps)
VELK_LANE_EXTREMES(LaneTypes<8>, VELK_LANES_AVX2, _mm256_max_ps, _mm256_min_ps)
// The masked forms with every lane set: the unmasked ones merge into an undefined vector, which
// GCC 12 reports as maybe-uninitialized.
#define VELK_MAX512(a, b) _mm512_mask_max_ps(a, static_cast<__mmask16>(0xFFFF), a, b)
#define VELK_MIN512(a, b) _mm512_mask_min_ps(a, static_cast<__mmask16>(0xFFFF), a, b)
VELK_LANE_EXTREMES(LaneTypes<16>, VELK_LANES_AVX512, VELK_MAX512, VELK_MIN512)
#undef VELK_MAX512
#undef VELK_MIN512
#else
#define VELK_LANE_EXTREMES(L)                                                                          \
  inline L::Floats greater_of(L::Floats a, L::Floats b) { return choose<L>(greater(a, b), a, b); } \
  inline L::Floats less_of(L::Floats a, L::Floats b) { return choose<L>(less(a, b), a, b); }
VELK_LANE_EXTREMES(LaneTypes<4>)
VELK_LANE_EXTREMES(LaneTypes<8>)
VELK_LANE_EXTREMES(LaneTypes<16>)
#endif
#undef VELK_LANE_EXTREMES

// The square root of every lane: the vector root instruction is IEEE's correctly rounded
// root, the scalar root's bits. Unlike the C library's sqrt it leaves errno alone for a
// negative lane; the lanes run on worker threads, where nothing reads errno, and their
// callers send a negative lane's series the per-series way.
#if defined(__x86_64__) && !defined(__clang__)
#define VELK_LANE_ROOTS(L, ATTRIBUTES, HALF, ROOT)                           \
  ATTRIBUTES inline L::Doubles square_root(L::Doubles v) {                \
    HALF halves[2];                                                        \
    std::memcpy(halves, &v, sizeof v);                                     \
    halves[0] = ROOT(halves[0]);                                           \
    halves[1] = ROOT(halves[1]);                                           \
    std::memcpy(&v, halves, sizeof v);                                     \
    return v;                                                              \
  }
VELK_LANE_ROOTS(LaneTypes<4>, , __m128d, _mm_sqrt_pd)
VELK_LANE_ROOTS(LaneTypes<8>, VELK_LANES_AVX2, __m256d, _mm256_sqrt_pd)
// The masked form with every lane set: the same instruction, but GCC 12 reports the unmasked
// intrinsic's undefined merge source as maybe-uninitialized (an error in the warnings-as-errors build).
VELK_LANES_AVX512 inline __m512d sqrt_every_lane(__m512d v) { return _mm512_mask_sqrt_pd(v, 0xFF, v); }
VELK_LANE_ROOTS(LaneTypes<16>, VELK_LANES_AVX512, __m512d, sqrt_every_lane)
#undef VELK_LANE_ROOTS
#else
template <class D>
inline D square_root(D v) {
  for (int k = 0; k < static_cast<int>(sizeof v / sizeof(double)); ++k) v[k] = __builtin_sqrt(v[k]);
  return v;
}
#endif
#undef VELK_LANES_AVX512
#undef VELK_LANES_AVX2

template <class L>
inline typename L::Mask missing(typename L::Floats v) {
  return not_equal(v, v);
}

// Each lane is the scalar fused step (`fused` of frame/fma.hpp): one rounding, by
// the FMA unit or the C library's fma as the build was chosen.
template <class L>
inline typename L::Doubles fused_lanes(typename L::Doubles a, typename L::Doubles b, typename L::Doubles c) {
  typename L::Doubles r;
  for (int k = 0; k < L::kWidth; ++k) r[k] = fused(a[k], b[k], c[k]);
  return r;
}
template <class L>
inline typename L::Floats fused_lanes(typename L::Floats a, typename L::Floats b, typename L::Floats c) {
  typename L::Floats r;
  for (int k = 0; k < L::kWidth; ++k) r[k] = fused(a[k], b[k], c[k]);
  return r;
}

// Whether any lane of a mask holds.
template <class L>
inline bool any_lane(typename L::Mask m) {
  uint64_t words[sizeof m / sizeof(uint64_t)];
  std::memcpy(words, &m, sizeof m);
  uint64_t all = 0;
  for (const uint64_t word : words) all |= word;
  return all != 0;
}

// The lanes of a mask that hold, as bits 0 .. count - 1.
template <class L>
inline uint32_t lanes_set(typename L::Mask m, int count) {
  uint32_t bits = 0;
  for (int k = 0; k < count; ++k) bits |= static_cast<uint32_t>(m[k] != 0) << k;
  return bits;
}

// Calls run(LaneTypes<W>{}) in the build for the widest vector unit, W its lane count
// (`with_wide_vectors`, frame/fma.hpp).
template <class Run>
inline void with_widest_lanes(Run&& run) {
#if defined(__x86_64__)
  switch (widest_vector_unit()) {
    case VectorUnit::Avx512: {
      auto wide = [&] { run(LaneTypes<16>{}); };
      run_with_avx512(wide);
      break;
    }
    case VectorUnit::Avx2: {
      auto wide = [&] { run(LaneTypes<8>{}); };
      run_with_avx2(wide);
      break;
    }
    case VectorUnit::Narrow:
      with_fma([&] { run(LaneTypes<4>{}); });
      break;
  }
#else
  run(LaneTypes<4>{});
#endif
}

// Runs the lane groups s = 0, W, 2W, ... of a group of `count` columns (at most
// kMostColumns), W the lane count of the widest vector unit, in the build for that unit.
// make(LaneTypes<W>{}, s) gives a group's kernel: rows(r0, r1) steps
// rows r0 .. r1 - 1 (called for consecutive ranges from row 0), failed() names the
// columns the per-series entry must redo (bit k: column s + k), and a kernel's optional
// left_to_python() those it would only hand on to the exported function (failed[j] gets 2
// as well). The groups take turns
// row by row: a row of the table is read once, left to right, and the groups' steps,
// independent of one another, overlap where one group's step waits on its last one. A
// kernel may take several rows a turn (its optional rows_per_turn(columns), the block's
// column count): the live windows' kernels so that their state stays in the L1 cache between
// turns, the window extremes' and those with a small state on wide blocks.
// Sets failed[j] for the failed columns j of the group.
//
// A block is as wide as kMostColumns, so that a table of up to that many columns is read
// whole row after whole row, as it lies in memory: blocks of 1,024 columns of a 2,000-column
// table (half rows, a page apart) measured 15-30 % slower.
constexpr int kMostColumns = 2048;

// Blocks whose rows span about a page of each table or more, where several rows a turn pay.
constexpr int kWideBlockColumns = 1000;

// For kernels whose state per lane is a few vectors: four rows a turn on wide blocks
// (kWideBlockColumns or more). Four rows read side by side keep more of the
// table's lines on their way from memory, and a group's state is loaded and stored once per
// four rows; measured 10-45 % faster on 1,000 and 2,000 columns. On narrower blocks the
// groups' states stay in L1 and the one-row turns overlap the groups' independent steps,
// where four rows (one group's dependent steps in a row) measured 10-30 % slower.
inline int64_t turn_for_small_states(int columns) { return columns >= kWideBlockColumns ? 4 : 1; }

template <class Make>
inline void for_widest_lanes(int count, int64_t n, uint8_t* failed, Make&& make) {
  with_widest_lanes([&](auto lanes) {
    constexpr int kWidth = decltype(lanes)::kWidth;
    using Kernel = decltype(make(lanes, 0));
    std::optional<Kernel> kernels[kMostColumns / kWidth];
    const int used = (count + kWidth - 1) / kWidth;
    // A last group short of lanes would read and write its rows a column at a time: where
    // there are more columns than lanes it ends at the last column instead, computing again
    // (each lane its own series, so to the same bits) columns of the group before it.
    const auto first_column = [&](int g) { return count > kWidth ? std::min(g * kWidth, count - kWidth) : 0; };
    for (int g = 0; g < used; ++g) kernels[g].emplace(make(lanes, first_column(g)));
    int64_t turn = 1;
    if constexpr (requires(Kernel& kernel) { kernel.rows_per_turn(count); }) turn = kernels[0]->rows_per_turn(count);
    for (int64_t i = 0; i < n; i += turn) {
      const int64_t end = std::min(n, i + turn);
      for (int g = 0; g < used; ++g) kernels[g]->rows(i, end);
    }
    for (int g = 0; g < used; ++g) {
      const uint32_t bits = kernels[g]->failed();
      uint32_t python = 0;
      if constexpr (requires(Kernel& kernel) { kernel.left_to_python(); }) python = kernels[g]->left_to_python();
      const int s = first_column(g);
      for (int k = 0; k < kWidth && s + k < count; ++k)
        failed[s + k] |= ((bits >> k) & 1u) | (((python >> k) & 1u) << 1);
    }
  });
}

// Element-wise functions carry nothing from row to row: each row of `out` (any number of
// columns) is written whole, left to right as it lies in memory, NaN before row `start`
// and value(lanes, s, i) (columns s .. s + W - 1 of row i) from there on.
template <class Value>
inline void for_whole_rows(const ColumnGroup& out, int64_t n, int64_t start, Value&& value) {
  with_widest_lanes([&](auto lanes) {
    using L = decltype(lanes);
    const typename L::Floats unwritten = splat<L>(kUnwritten);
    for (int64_t i = 0; i < n; ++i)
      for (int s = 0; s < out.count; s += L::kWidth)
        out.part(s, L::kWidth).template store<L>(i, i < start ? unwritten : value(lanes, s, i));
  });
}

}  // namespace velk
