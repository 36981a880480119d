// Lanes across series for the classic family: the states of consecutive columns of a row-major
// table (one series per column) stepped together, one series per lane of a vector of doubles.
//
// A block or state written as a template over its value type T runs with T = double (one series:
// the scalar route, its bits and pickled fields) and with T = DoubleLanes<W> (W series at once).
// The helpers below make one text serve both: FlagOf<T> is a bool or a mask of lanes, CountOf<T>
// an int64_t or lanes of whole-number doubles, `choose` a select (a bitwise blend in lanes), and
// all_set / any_set the branches that only pick between paths giving every lane the same bits
// (a seeded fast path, a copy kept for lanes that must not move). Every lane operation is the
// scalar IEEE operation in the same order, so each series keeps the bits of its scalar run.
//
// A lane block holds lane-typed members only (values, counts, flags; all of one vector size), so
// `keep_lanes` may blend two of them lane by lane as plain arrays of vectors. The one exception is
// a pointer to storage outside the block (adxr's past ADX values), the same in every copy, which
// the blend therefore keeps.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>

#if defined(__x86_64__) && !defined(__clang__)
#include <immintrin.h>
#endif

#include "frame/fma.hpp"

namespace velk::classic {

// On every function that takes or returns lanes (here, in the lane states and their blocks): a
// target attribute decides how a function passes 32- and 64-byte vectors, and clang compiles an
// out-of-line function once, for the baseline, where a 64-byte return goes through memory, while
// its callers in the AVX2 and AVX-512 copies of a loop read the return from a ymm or zmm register.
// Clang's `flatten` inlines only the calls written in the flattened function itself, and its
// inliner left larger lane functions (push_where, a state's push) out of line. Inlined, a function
// is compiled for the unit of the loop that runs it. GCC's `flatten` inlines the whole call tree.
#if defined(__clang__)
#define VELK_LANE_INLINE __attribute__((always_inline))
#else
#define VELK_LANE_INLINE
#endif

template <int W>
struct LaneVectors;
template <> struct LaneVectors<2> {
  using Values = double __attribute__((vector_size(16)));
  using Floats = float __attribute__((vector_size(8)));
  using Mask = int64_t __attribute__((vector_size(16)));
};
template <> struct LaneVectors<4> {
  using Values = double __attribute__((vector_size(32)));
  using Floats = float __attribute__((vector_size(16)));
  using Mask = int64_t __attribute__((vector_size(32)));
};
template <> struct LaneVectors<8> {
  using Values = double __attribute__((vector_size(64)));
  using Floats = float __attribute__((vector_size(32)));
  using Mask = int64_t __attribute__((vector_size(64)));
};
template <int W>
using DoubleLanes = typename LaneVectors<W>::Values;

// The lane count of a value type (1 for a double).
template <class T>
inline constexpr int lane_width = 1;
template <>
inline constexpr int lane_width<DoubleLanes<2>> = 2;
template <>
inline constexpr int lane_width<DoubleLanes<4>> = 4;
template <>
inline constexpr int lane_width<DoubleLanes<8>> = 8;

template <class T>
concept LaneValues = lane_width<T> > 1;

template <class T>
struct LaneKinds {
  using Flag = bool;
  using Count = int64_t;
};
template <LaneValues T> struct LaneKinds<T> {
  using Flag = typename LaneVectors<lane_width<T>>::Mask;
  using Count = T;  // whole numbers, exact as doubles
};
template <class T>
using FlagOf = typename LaneKinds<T>::Flag;
template <class T>
using CountOf = typename LaneKinds<T>::Count;

// A value in every lane.
template <class T>
VELK_LANE_INLINE inline T splat(double v) {
  if constexpr (LaneValues<T>)
    return T{} + v;
  else
    return v;
}
template <class T>
VELK_LANE_INLINE inline CountOf<T> count_of(int64_t n) {
  if constexpr (LaneValues<T>)
    return T{} + static_cast<double>(n);
  else
    return n;
}
template <class T>
VELK_LANE_INLINE inline FlagOf<T> flag_of(bool b) {
  if constexpr (LaneValues<T>)
    return FlagOf<T>{} + (b ? int64_t{-1} : int64_t{0});
  else
    return b;
}

inline bool flag_not(bool f) { return !f; }
template <class M>
  requires(!std::is_same_v<M, bool>)
VELK_LANE_INLINE inline M flag_not(M m) {
  return ~m;
}

// keep ? a : b, lane by lane on the bits (GCC splits a vector ?: wider than the unit into
// branches per lane).
inline double choose(bool keep, double a, double b) { return keep ? a : b; }
inline int64_t choose(bool keep, int64_t a, int64_t b) { return keep ? a : b; }
template <LaneValues T>
VELK_LANE_INLINE inline T choose(FlagOf<T> keep, T a, T b) {
  using Mask = FlagOf<T>;
  Mask bits_a, bits_b;
  std::memcpy(&bits_a, &a, sizeof a);
  std::memcpy(&bits_b, &b, sizeof b);
  const Mask bits = (bits_a & keep) | (bits_b & ~keep);
  T chosen;
  std::memcpy(&chosen, &bits, sizeof chosen);
  return chosen;
}
template <class M>
  requires(!std::is_same_v<M, bool>)
VELK_LANE_INLINE inline M choose(M keep, M a, M b) {
  return (a & keep) | (b & ~keep);
}

// fabs in every lane: the sign bit cleared.
inline double magnitude(double v) { return std::fabs(v); }
template <LaneValues T>
VELK_LANE_INLINE inline T magnitude(T v) {
  FlagOf<T> bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits &= FlagOf<T>{} + std::numeric_limits<int64_t>::max();
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// Comparisons, scalar and per lane count. GCC lowers a vector comparison lane by lane in a
// function compiled for a narrower unit, even once inlined into a wider one, so each lane
// count's set is compiled for the unit that runs it.
#if defined(__x86_64__) && !defined(__clang__)
#define VELK_CLASSIC_AVX512 __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,avx2,fma")))
#define VELK_CLASSIC_AVX2 __attribute__((target("avx2,fma")))
#else
#define VELK_CLASSIC_AVX512
#define VELK_CLASSIC_AVX2
#endif
#define VELK_CLASSIC_COMPARISONS(V, M, ATTRIBUTES)                                   \
  ATTRIBUTES VELK_LANE_INLINE inline M less(V a, V b) { return (M)(a < b); }                          \
  ATTRIBUTES VELK_LANE_INLINE inline M greater(V a, V b) { return (M)(a > b); }                       \
  ATTRIBUTES VELK_LANE_INLINE inline M not_less(V a, V b) { return (M)(a >= b); }                     \
  ATTRIBUTES VELK_LANE_INLINE inline M equal(V a, V b) { return (M)(a == b); }                        \
  ATTRIBUTES VELK_LANE_INLINE inline M not_equal(V a, V b) { return (M)(a != b); }
VELK_CLASSIC_COMPARISONS(double, bool, )
VELK_CLASSIC_COMPARISONS(int64_t, bool, )
VELK_CLASSIC_COMPARISONS(DoubleLanes<2>, LaneVectors<2>::Mask, )
VELK_CLASSIC_COMPARISONS(DoubleLanes<4>, LaneVectors<4>::Mask, VELK_CLASSIC_AVX2)
VELK_CLASSIC_COMPARISONS(DoubleLanes<8>, LaneVectors<8>::Mask, VELK_CLASSIC_AVX512)
#undef VELK_CLASSIC_COMPARISONS

// Whether every lane (any lane) of a flag is set.
inline bool all_set(bool f) { return f; }
inline bool any_set(bool f) { return f; }
#if defined(__x86_64__) && !defined(__clang__)
inline bool all_set(LaneVectors<2>::Mask m) { return _mm_movemask_pd((__m128d)m) == 0x3; }
inline bool any_set(LaneVectors<2>::Mask m) { return _mm_movemask_pd((__m128d)m) != 0; }
VELK_CLASSIC_AVX2 inline bool all_set(LaneVectors<4>::Mask m) { return _mm256_movemask_pd((__m256d)m) == 0xF; }
VELK_CLASSIC_AVX2 inline bool any_set(LaneVectors<4>::Mask m) { return _mm256_movemask_pd((__m256d)m) != 0; }
VELK_CLASSIC_AVX512 inline bool all_set(LaneVectors<8>::Mask m) { return _mm512_movepi64_mask((__m512i)m) == 0xFF; }
VELK_CLASSIC_AVX512 inline bool any_set(LaneVectors<8>::Mask m) { return _mm512_movepi64_mask((__m512i)m) != 0; }
#else
template <class M>
  requires(!std::is_same_v<M, bool>)
VELK_LANE_INLINE inline bool all_set(M m) {
  int64_t every = -1;
  for (size_t k = 0; k < sizeof m / sizeof(int64_t); ++k) every &= m[k];
  return every != 0;
}
template <class M>
  requires(!std::is_same_v<M, bool>)
VELK_LANE_INLINE inline bool any_set(M m) {
  int64_t some = 0;
  for (size_t k = 0; k < sizeof m / sizeof(int64_t); ++k) some |= m[k];
  return some != 0;
}
#endif
// a * b + c rounded once, in every lane: the scalar `velk::fused` lane by lane, so lanes keep the
// bits of one series. Each lane count's is compiled for the unit that runs it (vfmadd); two lanes
// run inside `with_fma` (lane by lane, the FMA unit's or the library's fma).
using velk::fused;
VELK_LANE_INLINE inline LaneVectors<2>::Values fused(LaneVectors<2>::Values a, LaneVectors<2>::Values b, LaneVectors<2>::Values c) {
  return LaneVectors<2>::Values{__builtin_fma(a[0], b[0], c[0]), __builtin_fma(a[1], b[1], c[1])};
}
#if defined(__x86_64__) && !defined(__clang__)
VELK_CLASSIC_AVX2 inline LaneVectors<4>::Values fused(LaneVectors<4>::Values a, LaneVectors<4>::Values b,
                                                      LaneVectors<4>::Values c) {
  return (LaneVectors<4>::Values)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
}
VELK_CLASSIC_AVX512 inline LaneVectors<8>::Values fused(LaneVectors<8>::Values a, LaneVectors<8>::Values b,
                                                        LaneVectors<8>::Values c) {
  return (LaneVectors<8>::Values)_mm512_fmadd_pd((__m512d)a, (__m512d)b, (__m512d)c);
}
#else
template <class V>
  requires(lane_width<V> > 2)
VELK_LANE_INLINE inline V fused(V a, V b, V c) {
  V r;
  for (int k = 0; k < lane_width<V>; ++k) r[k] = __builtin_fma(a[k], b[k], c[k]);
  return r;
}
#endif

#undef VELK_CLASSIC_AVX512
#undef VELK_CLASSIC_AVX2

// In the lanes where `keep` is set, `now` takes back the values of `before` (a copy of the
// same block): for a block of lane-typed members, every vector-sized piece blended on its bits.
template <class Block, class Flag>
VELK_LANE_INLINE inline void keep_lanes(Flag keep, Block& now, const Block& before) {
  if constexpr (std::is_same_v<Flag, bool>) {
    if (keep) now = before;
  } else {
    static_assert(std::is_trivially_copyable_v<Block> && sizeof(Block) % sizeof(Flag) == 0,
                  "a lane block holds lane-typed members only");
    constexpr size_t pieces = sizeof(Block) / sizeof(Flag);
    Flag a[pieces], b[pieces];
    std::memcpy(a, &now, sizeof now);
    std::memcpy(b, &before, sizeof before);
    for (size_t p = 0; p < pieces; ++p) a[p] = (b[p] & keep) | (a[p] & ~keep);
    std::memcpy(static_cast<void*>(&now), a, sizeof now);
  }
}

// block.push(args...) in the lanes where `active` is set; the others keep their state and read
// not ready. One series: the push where active, nothing otherwise.
template <class Block, class Flag, class... Args>
VELK_LANE_INLINE inline Flag push_where(Flag active, Block& block, Args... args) {
  if constexpr (std::is_same_v<Flag, bool>) {
    return active && block.push(args...);
  } else {
    if (all_set(active)) return block.push(args...);
    const Block before = block;
    const Flag ready = block.push(args...);
    keep_lanes(flag_not(active), block, before);
    return ready & active;
  }
}

// ---------------------------------------------------------------- the table driver

// Columns of a row-major table, per array: element (row i, column j) at
// bases[k] + i * rows[k] + j * columns[k] (in elements of the array's type).
template <class Element>
struct TableArrays {
  Element* const* bases;
  const ptrdiff_t* rows;
  const ptrdiff_t* columns;
};

// Decided once per process, as the existing family decides it: AVX-512 or AVX2 where the CPU has
// them and VELKIZED_TA_NARROW_VECTORS is unset, else two lanes (SSE2, NEON).
enum class LaneUnit { Two, Four, Eight };
LaneUnit widest_lane_unit();

// Whether a call moving `bytes` (its inputs read, its outputs written) stays in the last-level
// cache (the largest cache sysfs lists for CPU 0; 8 MB where none is listed), read once per
// process. Beyond it a light loop is bound by memory traffic.
bool stays_cached(ptrdiff_t bytes);

// Most columns in one call of the lanes' entry (a worker's whole share of a table up to this):
// groups of W stepped together row by row, so a row is read left to right once, the groups'
// independent steps overlap, and each page of a wide table a row lies in serves every group
// before the walk moves down (rows are pages apart). A fresh result's pages are zeroed by the
// kernel when first written: written whole while still cached, rather than a block of 256
// columns at a time, they go to memory once (2000 x 2500 float64: macd 32 -> 26 ms, ema 11 -> 9).
constexpr ptrdiff_t kLaneBlockColumns = 4096;

// An array of `count` lane states, each constructed from `params`, on the heap at the widest
// vectors' alignment (the default build's operator new assumes less than the wide build's aligned
// moves need).
template <class S>
class AlignedStates {
 public:
  static constexpr size_t kAlignment = 64;
  static_assert(alignof(S) <= kAlignment);
  template <class... Args>
  VELK_LANE_INLINE AlignedStates(int count, const Args&... args) {
    const size_t bytes = (sizeof(S) * static_cast<size_t>(count) + kAlignment - 1) / kAlignment * kAlignment;
    states_ = static_cast<S*>(std::aligned_alloc(kAlignment, bytes ? bytes : kAlignment));
    if (!states_) throw std::bad_alloc();
    for (; count_ < count; ++count_) new (states_ + count_) S(args...);
  }
  AlignedStates(const AlignedStates&) = delete;
  AlignedStates& operator=(const AlignedStates&) = delete;
  VELK_LANE_INLINE ~AlignedStates() {
    while (count_ > 0) states_[--count_].~S();
    std::free(states_);
  }
  S& operator[](int g) { return states_[g]; }

 private:
  S* states_ = nullptr;
  int count_ = 0;
};

namespace lanes_detail {

// A group's bars of one row; float32 inputs widen exactly, as the function widens its input.
template <class V, class In>
VELK_LANE_INLINE inline V load_row(const In* row, ptrdiff_t column_stride, int count) {
  constexpr int W = lane_width<V>;
  V lanes;
  if (count == W && column_stride == 1) {
    if constexpr (std::is_same_v<In, double>) {
      std::memcpy(&lanes, row, sizeof lanes);
    } else {
      typename LaneVectors<W>::Floats narrow;
      std::memcpy(&narrow, row, sizeof narrow);
      lanes = __builtin_convertvector(narrow, V);
    }
    return lanes;
  }
  for (int k = 0; k < W; ++k) lanes[k] = static_cast<double>(row[(k < count ? k : 0) * column_stride]);
  return lanes;
}

template <class V, class Out>
VELK_LANE_INLINE inline void store_row(Out* row, ptrdiff_t column_stride, int count, V lanes) {
  constexpr int W = lane_width<V>;
  if constexpr (std::is_same_v<Out, double>) {
    if (count == W && column_stride == 1) {
      std::memcpy(row, &lanes, sizeof lanes);
      return;
    }
  }
  for (int k = 0; k < count; ++k) row[k * column_stride] = static_cast<Out>(lanes[k]);
}

// Steps columns [first, first + count) of the table over `length` rows with the lane state S.
template <class S, class V, class In, class Out>
VELK_LANE_INLINE inline void run_block(const double* params, TableArrays<const In> in, TableArrays<Out> out,
                                       ptrdiff_t length, ptrdiff_t first, ptrdiff_t count) {
  using Flag = FlagOf<V>;
  constexpr int W = lane_width<V>;
  const int groups = static_cast<int>((count + W - 1) / W);
  // The groups stepped together keep their states within about a third of L1 beside the rows
  // passing through. A larger state (MACD's) walks the block's groups in several passes, each over
  // a stripe of rows at a time, so the stripe's rows (which the prefetchers fetch whole) are still
  // in L2 for the next pass: passes over all rows would bring the table in from memory once each.
  constexpr int kTogether = std::clamp<int>(static_cast<int>(16384 / sizeof(S)), 1, kLaneBlockColumns / W);
  constexpr ptrdiff_t kStripeBytes = ptrdiff_t{1} << 18;  // measured: 64 KB and 1 MB no better
  const ptrdiff_t row_bytes = count * (S::inputs * static_cast<ptrdiff_t>(sizeof(In)) +
                                       S::outputs * static_cast<ptrdiff_t>(sizeof(Out)));
  const ptrdiff_t stripe = groups > kTogether ? std::max<ptrdiff_t>(kStripeBytes / row_bytes, 8) : length;
  AlignedStates<S> states(groups, params);
  // A state that looks back over its own past values (adxr's ADX) keeps them outside the block:
  // `lane_history(params)` slots of W doubles per group, zero pages until first written, so a
  // table shorter than the look-back commits little of it.
  struct FreeSlots {
    void operator()(double* slots) const { std::free(slots); }
  };
  std::unique_ptr<double, FreeSlots> history;
  if constexpr (requires { S::lane_history(params); }) {
    const size_t each = static_cast<size_t>(S::lane_history(params)) * W;
    history.reset(static_cast<double*>(std::calloc(each * static_cast<size_t>(groups), sizeof(double))));
    if (!history) throw std::bad_alloc();
    for (int g = 0; g < groups; ++g) states[g].attach(history.get() + static_cast<size_t>(g) * each);
  }
  const V missing = splat<V>(std::numeric_limits<double>::quiet_NaN());
  // The hardware prefetchers do not follow a walk down rows pages apart: each group asks for its
  // inputs' and outputs' row kAhead rows on (a hint, which never faults, also past the end).
  constexpr ptrdiff_t kAhead = 4;
  for (ptrdiff_t top = 0; top < length; top += stripe) {
    const ptrdiff_t bottom = std::min(length, top + stripe);
    for (int from = 0; from < groups; from += kTogether) {
      const int to = std::min(groups, from + kTogether);
      for (ptrdiff_t i = top; i < bottom; ++i) {
        for (int g = from; g < to; ++g) {
          const ptrdiff_t column = first + static_cast<ptrdiff_t>(g) * W;
          for (int k = 0; k < S::inputs; ++k)
            __builtin_prefetch(in.bases[k] + (i + kAhead) * in.rows[k] + column * in.columns[k]);
          for (int k = 0; k < S::outputs; ++k)
            __builtin_prefetch(out.bases[k] + (i + kAhead) * out.rows[k] + column * out.columns[k], 1);
          const int lanes = static_cast<int>(std::min<ptrdiff_t>(W, first + count - column));
          V bar[S::inputs];
          Flag real = flag_of<V>(true);
          for (int k = 0; k < S::inputs; ++k) {
            bar[k] = load_row<V>(in.bases[k] + i * in.rows[k] + column * in.columns[k], in.columns[k], lanes);
            real &= equal(bar[k], bar[k]);
          }
          S& state = states[g];
          V values[S::outputs] = {};  // a step that is not ready may leave them unwritten
          Flag ready;
          if (all_set(real)) {
            ready = state.step(bar, values);
          } else {
            // The NaN rule per lane: such a lane's state stays as it was, its values are NaN.
            const S before = state;
            ready = state.step(bar, values) & real;
            keep_lanes(flag_not(real), state, before);
          }
          for (int k = 0; k < S::outputs; ++k)
            store_row(out.bases[k] + i * out.rows[k] + column * out.columns[k], out.columns[k], lanes,
                      choose(ready, values[k], missing));
        }
      }
    }
  }
}

}  // namespace lanes_detail

// A state whose steps call `fused` says so (`static constexpr bool fused_steps = true;`): the
// driver then runs its loops inside `with_fma`, compiled for the FMA unit, where a plain build
// would call the C library's fma per bar (the same bits either way, only slower).
template <class State>
constexpr bool fused_steps_of() {
  if constexpr (requires { State::fused_steps; })
    return State::fused_steps;
  else
    return false;
}

// A state with lanes names its template over the value type: `template <class V> using OnLanes
// = State<V>;` (the registry then lists it as stepping columns in lanes).
template <class State>
concept HasLanes = requires { typename State::template OnLanes<DoubleLanes<2>>; };

// with(std::integral_constant<int, W>{}) for the process's lane count W, inside the target code
// of its unit (AVX-512, AVX2; two lanes inside `with_fma` when `Fused`, the steps calling `fused`).
template <bool Fused, class With>
void with_widest_lanes(With&& with) {
#if defined(__x86_64__)
  switch (widest_lane_unit()) {
    case LaneUnit::Eight: {
      auto run = [&] { with(std::integral_constant<int, 8>{}); };
      run_with_avx512(run);
      return;
    }
    case LaneUnit::Four: {
      auto run = [&] { with(std::integral_constant<int, 4>{}); };
      run_with_avx2(run);
      return;
    }
    case LaneUnit::Two: break;
  }
#endif
  auto run = [&] { with(std::integral_constant<int, 2>{}); };
  if constexpr (Fused)
    with_fma(run);
  else
    run();
}

// Columns [first, first + count) (at most kLaneBlockColumns) of a row-major table through fresh
// lane states; each column's values are, bit for bit, the scalar state's run over that column.
template <class State, class In, class Out>
void run_columns_in_lanes(const double* params, TableArrays<const In> in, TableArrays<Out> out,
                          ptrdiff_t length, ptrdiff_t first, ptrdiff_t count) {
  with_widest_lanes<fused_steps_of<State>()>([&](auto lanes) VELK_LANE_INLINE {
    using V = DoubleLanes<decltype(lanes)::value>;
    using S = typename State::template OnLanes<V>;
    // A state keeping its own past values (adxr's) reserves `lane_history` slots a column, up
    // to the period's: blocks of 256 columns bound that reservation whatever the share.
    ptrdiff_t most = count;
    if constexpr (requires { S::lane_history(params); }) most = 256;
    for (ptrdiff_t from = first; from < first + count; from += most)
      lanes_detail::run_block<S, V, In, Out>(params, in, out, length, from, std::min(most, first + count - from));
  });
}

}  // namespace velk::classic
