// The one loop every classic route runs: a state's step over bars, with the NaN rule.
//
// operations_of<State>() instantiates, per indicator, the type-erased entry points the module
// calls (create, run over a series, one bar, copy, save, load). The step is inlined into the
// series loop; nothing virtual runs per bar.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classic_engine/lanes.hpp"
#include "classic_engine/window_lanes.hpp"

namespace velk::classic {

// Writes a state's fields as raw little-endian values, field by field (no padding).
struct StateWriter {
  static constexpr bool loading = false;
  std::string bytes;

  template <class T>
  void operator()(const T& value) {
    static_assert(std::is_arithmetic_v<T>);
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  void ring(const std::vector<double>& values, size_t position, size_t filled) {
    (*this)(static_cast<uint64_t>(values.size()));
    (*this)(static_cast<uint64_t>(position));
    (*this)(static_cast<uint64_t>(filled));
    bytes.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(double));
  }
};

// Reads into a state built from the same parameters: a ring must keep the capacity its
// parameters give, and positions must lie inside it, so no stored value can index out of range.
struct StateReader {
  static constexpr bool loading = true;
  const char* at;
  const char* end;
  bool ok = true;

  template <class T>
  void operator()(T& value) {
    static_assert(std::is_arithmetic_v<T>);
    if (!ok || end - at < static_cast<ptrdiff_t>(sizeof value)) {
      ok = false;
      return;
    }
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    if constexpr (std::is_same_v<T, bool>) {
      // Only 0 and 1 are bools; anything else would be undefined to read back.
      unsigned char raw;
      std::memcpy(&raw, at - sizeof value, 1);
      if (raw > 1) ok = false;
    }
  }
  void ring(std::vector<double>& values, size_t& position, size_t& filled) {
    uint64_t capacity = 0, stored_position = 0, stored_filled = 0;
    (*this)(capacity);
    (*this)(stored_position);
    (*this)(stored_filled);
    if (!ok || capacity != values.size() || stored_position >= (capacity ? capacity : 1) ||
        stored_filled > capacity || (stored_filled < capacity && stored_position != stored_filled) ||
        static_cast<uint64_t>(end - at) / sizeof(double) < capacity) {
      ok = false;
      return;
    }
    position = static_cast<size_t>(stored_position);
    filled = static_cast<size_t>(stored_filled);
    if (capacity) std::memcpy(values.data(), at, capacity * sizeof(double));
    at += capacity * sizeof(double);
  }
};

// A series as the loop reads it: `count` inputs sharing a length and an element stride.
struct SeriesIn {
  const double* const* columns;
  ptrdiff_t stride;
};
template <class Out>
struct SeriesOut {
  Out* const* columns;
  ptrdiff_t stride;
};

struct Operations {
  int inputs;
  int outputs;
  void* (*create)(const double* params);  // throws std::bad_alloc
  void (*destroy)(void* state);
  void* (*clone)(const void* state);  // throws std::bad_alloc
  void (*run_f64)(void* state, SeriesIn in, ptrdiff_t length, SeriesOut<double> out);
  void (*run_f32)(void* state, SeriesIn in, ptrdiff_t length, SeriesOut<float> out);
  // One bar with the NaN rule; returns whether `out` holds values (else it holds NaN).
  bool (*update)(void* state, const double* bar, double* out);
  void (*save)(const void* state, std::string& bytes);
  // Columns first .. first + count - 1 of row-major tables, each through a fresh state, in lanes
  // across series (lanes.hpp), from float64 or float32 inputs into float64 or float32 outputs;
  // nullptr where the state has no lanes.
  template <class In, class Out>
  using Columns = void (*)(const double* params, TableArrays<const In> in, TableArrays<Out> out, ptrdiff_t length,
                           ptrdiff_t first, ptrdiff_t count);
  Columns<double, double> columns_f64_f64 = nullptr;
  Columns<double, float> columns_f64_f32 = nullptr;
  Columns<float, double> columns_f32_f64 = nullptr;
  Columns<float, float> columns_f32_f32 = nullptr;
  bool (*load)(void* state, const char* bytes, size_t size);  // false: the bytes are not a state
};

// Calls body(k) for k = 0..N-1, unrolled: the compiler keeps per-input loops (input counts are
// small constants) as loops at -O2, which spill the bar to the stack and serialise the NaN test.
template <int N, class Body, int... K>
inline void unrolled(Body&& body, std::integer_sequence<int, K...>) {
  (body(K), ...);
}
template <int N, class Body>
inline void unrolled(Body&& body) {
  unrolled<N>(body, std::make_integer_sequence<int, N>{});
}

template <class State>
inline bool step_bar(State& state, const double* bar, double* out) {
  bool real = true;
  unrolled<State::inputs>([&](int k) { real &= bar[k] == bar[k]; });
  if (real && state.step(bar, out)) return true;
  unrolled<State::outputs>([&](int k) { out[k] = std::numeric_limits<double>::quiet_NaN(); });
  return false;
}

// The bar loop over local copies of the column pointers; `Contiguous` fixes both strides at 1
// so the compiler sees plain sequential loads and stores (the common case: 1-D arrays).
template <class State, class Out, bool Contiguous>
inline void run_bars(State& state, SeriesIn in, ptrdiff_t length, SeriesOut<Out> out) {
  const double* columns[State::inputs];
  Out* targets[State::outputs];
  for (int k = 0; k < State::inputs; ++k) columns[k] = in.columns[k];
  for (int k = 0; k < State::outputs; ++k) targets[k] = out.columns[k];
  const ptrdiff_t in_stride = Contiguous ? 1 : in.stride;
  const ptrdiff_t out_stride = Contiguous ? 1 : out.stride;
  double bar[State::inputs];
  double values[State::outputs];
  for (ptrdiff_t t = 0; t < length; ++t) {
    unrolled<State::inputs>([&](int k) { bar[k] = columns[k][t * in_stride]; });
    step_bar(state, bar, values);
    unrolled<State::outputs>([&](int k) { targets[k][t * out_stride] = static_cast<Out>(values[k]); });
  }
}

// A state may add a batch kernel for bars whose values depend only on input bars within reach:
//   int64_t kernel_lag() const: bar t's values read the inputs of bars t - lag .. t;
//   void kernel_bar(const double* const* in, ptrdiff_t t, double* out) const: the values `step`
//     gives at bar t when bars t - lag .. t are all real and the state has taken those before t;
//   void absorb(const double* const* in, ptrdiff_t from, ptrdiff_t to): the state after `step`
//     on the real bars from .. to - 1.
// The kernel runs where the previous `lag` bars were real and is read off the input arrays,
// a run of real bars at a time; other bars take `step`. Tests compare both with the live update.
template <class State>
concept HasKernel = requires(State& s, const State& c, const double* const* in, double* out) {
  { c.kernel_lag() } -> std::convertible_to<int64_t>;
  c.kernel_bar(in, ptrdiff_t{0}, out);
  s.absorb(in, ptrdiff_t{0}, ptrdiff_t{0});
};

// The values at `at` as a V (a double, or lanes of consecutive doubles), unaligned.
template <class V>
inline V load_as(const double* at) {
  V v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

// Writes lanes of values at `at` as Out (float64 bit for bit; float32 rounded per value).
template <class Out, class V>
inline void store_as(Out* at, V v) {
  if constexpr (std::is_same_v<Out, double>) {
    std::memcpy(at, &v, sizeof v);
  } else {
    for (size_t k = 0; k < sizeof v / sizeof(double); ++k) at[k] = static_cast<Out>(v[k]);
  }
}

#if defined(__GNUC__)
// Two bars side by side (SSE2 on x86-64, NEON on aarch64). Element-wise kernels may also give
// `kernel_lanes(in, t, out)`: bars t and t + 1 at once, each lane the scalar operations of
// `kernel_bar` in the same order, so the same bits; the loop below uses it, two calls at a time,
// where four bars in a row are real.
#define VELK_CLASSIC_LANES 1
using Lanes = double __attribute__((vector_size(16)));
using LaneMask = int64_t __attribute__((vector_size(16)));
constexpr ptrdiff_t lane_count = 2;


template <class State>
concept HasLaneKernel = requires(const State& c, const double* const* in, Lanes* out) {
  c.kernel_lanes(in, ptrdiff_t{0}, out);
};

// Whether bars t .. t + 2 * lane_count - 1 are real in every input (two groups of lanes per
// test: one mask extraction per four bars).
template <int N>
inline bool block_real_at(const double* const* columns, ptrdiff_t t) {
#if defined(__SSE2__)
  // One unordered comparison tests two vectors, and the mask leaves by one movemask.
  __m128d missing = _mm_setzero_pd();
  unrolled<N>([&](int k) {
    missing = _mm_or_pd(missing, _mm_cmpunord_pd(_mm_loadu_pd(columns[k] + t), _mm_loadu_pd(columns[k] + t + lane_count)));
  });
  return _mm_movemask_pd(missing) == 0;
#else
  LaneMask real = {-1, -1};
  unrolled<N>([&](int k) {
    const Lanes first = load_as<Lanes>(columns[k] + t);
    const Lanes second = load_as<Lanes>(columns[k] + t + lane_count);
    real &= (first == first) & (second == second);
  });
  return (real[0] & real[1]) != 0;
#endif
}
#endif

#if defined(VELK_CLASSIC_LANES)
// Whether any lane of the bars added holds a NaN, for run kernels that test their bars as they
// read them (run_mixed). On SSE2 in its own registers: GCC lowers a vector extension mask's `|`
// to a select per lane.
struct NanTest {
#if defined(__SSE2__)
  __m128d missing = _mm_setzero_pd();
  void add(Lanes a, Lanes b, Lanes c, Lanes d) {
    missing = _mm_or_pd(missing, _mm_or_pd(_mm_cmpunord_pd(a, b), _mm_cmpunord_pd(c, d)));
  }
  bool any() const { return _mm_movemask_pd(missing) != 0; }
#else
  LaneMask missing{};
  void add(Lanes a, Lanes b, Lanes c, Lanes d) { missing |= (a != a) | (b != b) | (c != c) | (d != d); }
  bool any() const { return (missing[0] | missing[1]) != 0; }
#endif
  void add(Lanes a, Lanes b, Lanes c) { add(a, b, c, c); }
};
#endif

template <int N>
inline bool all_real_at(const double* const* columns, ptrdiff_t t) {
  bool real = true;
  unrolled<N>([&](int k) { real &= columns[k][t] == columns[k][t]; });
  return real;
}

#if defined(VELK_CLASSIC_LANES)
// block_real_at for lanes V of any width (lanes.hpp's comparisons, compiled for the unit of V).
template <int N, class V>
inline bool block_real_in(const double* const* columns, ptrdiff_t t) {
  if constexpr (std::is_same_v<V, Lanes>) {
    return block_real_at<N>(columns, t);
  } else {
    constexpr ptrdiff_t W = lane_width<V>;
    FlagOf<V> real = flag_of<V>(true);
    unrolled<N>([&](int k) {
      const V first = load_as<V>(columns[k] + t);
      const V second = load_as<V>(columns[k] + t + W);
      real &= equal(first, first) & equal(second, second);
    });
    return all_set(real);
  }
}
#endif

// Whether the page holding `at` is in memory already. A fresh page has just been zeroed by the
// kernel, leaving its lines in the cache, where a streaming store costs more than a plain one
// (10^6 bars into a reused output: streaming 12-16 % faster; 5 x 10^6 into fresh pages: 4-35 %
// slower). Elsewhere than Linux, taken as present.
inline bool page_present(const void* at) {
#if defined(__linux__)
  static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  unsigned char resident = 0;
  void* start = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(at) / page * page);
  return mincore(start, 1, &resident) == 0 && (resident & 1) != 0;
#else
  (void)at;
  return true;
#endif
}

// The bytes a bar of a series moves: its inputs read and its outputs written.
template <class State, class Out>
constexpr ptrdiff_t bytes_per_bar() {
  return State::inputs * static_cast<ptrdiff_t>(sizeof(double)) + State::outputs * static_cast<ptrdiff_t>(sizeof(Out));
}

#if defined(VELK_CLASSIC_LANES)
// Whether the loop below writes a state's outputs by streaming stores (`static constexpr bool
// stream_outputs = true`): float64 outputs in two-lane units, which the loop takes on series too
// long for the caches.
template <class State, class Out, class V>
constexpr bool streams_outputs() {
  if constexpr (requires { State::stream_outputs; })
    return State::stream_outputs && std::is_same_v<Out, double> && std::is_same_v<V, Lanes>;
  else
    return false;
}
#endif

// The unit-stride loop of a state with a kernel; `V`: the lanes its kernel_lanes takes (where it
// has one), two doubles unless the caller compiled the loop for a wider unit.
template <class State, class Out, class V = Lanes>
inline void run_kernel_bars(State& state, SeriesIn in, ptrdiff_t length, SeriesOut<Out> out) {
  const double* columns[State::inputs];
  Out* targets[State::outputs];
  for (int k = 0; k < State::inputs; ++k) columns[k] = in.columns[k];
  for (int k = 0; k < State::outputs; ++k) targets[k] = out.columns[k];
  const ptrdiff_t lag = static_cast<ptrdiff_t>(state.kernel_lag());
#if defined(VELK_CLASSIC_LANES)
  // Outputs that fit the cache stay there for whatever reads them next; fresh pages take plain stores.
  const bool stream = streams_outputs<State, Out, V>() && !stays_cached(length * bytes_per_bar<State, Out>()) &&
                      page_present(targets[0]) && page_present(targets[0] + length - 1);
#endif
  ptrdiff_t real_before = 0;  // real bars in a row just before t
  ptrdiff_t t = 0;
  while (t < length) {
    if (real_before >= lag) {
      ptrdiff_t end = t;
#if defined(VELK_CLASSIC_LANES)
      if constexpr (HasLaneKernel<State>) {
        constexpr ptrdiff_t W = lane_width<V>;
        const auto lanes_at = [&](ptrdiff_t at) {
          V values[State::outputs];
          state.kernel_lanes(columns, at, values);
          unrolled<State::outputs>([&](int k) {
#if defined(__SSE2__)
            // Stores that skip the caches need not read the output's lines in first: a long
            // series through a light formula is bound by memory traffic, a fifth of it that read.
            if constexpr (streams_outputs<State, Out, V>()) {
              if (stream && reinterpret_cast<uintptr_t>(targets[k] + at) % sizeof(V) == 0) {
                _mm_stream_pd(targets[k] + at, values[k]);
                return;
              }
            }
#endif
            store_as<Out>(targets[k] + at, values[k]);
          });
        };
        if constexpr (streams_outputs<State, Out, V>()) {
          // A run starting on an odd address (a lag of 1, or after a NaN bar) takes one bar alone,
          // so every pair after it streams.
          if (stream && reinterpret_cast<uintptr_t>(targets[0] + end) % sizeof(V) != 0 && end < length &&
              all_real_at<State::inputs>(columns, end)) {
            double values[State::outputs];
            state.kernel_bar(columns, end, values);
            unrolled<State::outputs>([&](int k) { targets[k][end] = values[k]; });
            ++end;
          }
        }
        for (; end + 2 * W <= length && block_real_in<State::inputs, V>(columns, end); end += 2 * W) {
          lanes_at(end);
          lanes_at(end + W);
        }
      }
#endif
#if defined(__SSE2__) && defined(VELK_CLASSIC_LANES)
      if constexpr (streams_outputs<State, Out, V>()) {
        if (stream) _mm_sfence();  // ordered before the plain stores
      }
#endif
      for (; end < length && all_real_at<State::inputs>(columns, end); ++end) {
        double values[State::outputs];
        state.kernel_bar(columns, end, values);
        unrolled<State::outputs>([&](int k) { targets[k][end] = static_cast<Out>(values[k]); });
      }
      if (end > t) {
        state.absorb(columns, t, end);
        real_before += end - t;
        t = end;
        continue;
      }
    }
    double bar[State::inputs];
    double values[State::outputs];
    unrolled<State::inputs>([&](int k) { bar[k] = columns[k][t]; });
    const bool real = all_real_at<State::inputs>(columns, t);
    step_bar(state, bar, values);
    unrolled<State::outputs>([&](int k) { targets[k][t] = static_cast<Out>(values[k]); });
    real_before = real ? real_before + 1 : 0;
    ++t;
  }
}

// A state may instead take whole runs of real bars itself, with its running values in locals
// rather than members written back every bar, and the bars still in its window read off the input:
//   template <class Out> void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to,
//                                      Out* const* out, ptrdiff_t real_before)
//   writes what `step` gives on bars from .. to - 1 (all real; NaN where it gives none) and leaves
//   the state as `step` on those bars would; the `real_before` bars just before `from` are real
//   too. Tests compare it with the live update.
template <class State>
concept HasRunKernel = requires(State& s, const double* const* in, double* const* out) {
  s.run_real(in, ptrdiff_t{0}, ptrdiff_t{0}, out, ptrdiff_t{0});
};

// A state whose run kernel applies the NaN rule itself takes spans of bars as they come, real or
// not, with no separate scan for NaN bars (a pass over every input that, on series longer than
// the caches, also pays for bringing them in before the kernel can start on them):
//   template <class Out> void run_mixed(const double* const* in, ptrdiff_t from, ptrdiff_t to,
//                                       Out* const* out)
//   writes what step_bar gives on bars from .. to - 1 (NaN outputs at a bar with a NaN input,
//   which leaves the state alone) and leaves the state as step_bar on those bars would.
template <class State>
concept HasMixedRunKernel = requires(State& s, const double* const* in, double* const* out) {
  s.run_mixed(in, ptrdiff_t{0}, ptrdiff_t{0}, out);
};

// Runs are handed over at most this many bars at a time, so the scan and the kernel read the same
// bars while they are cached; a state with scratch arrays per run bounds them by its `run_span`.
template <class State>
constexpr ptrdiff_t run_span_of() {
  if constexpr (requires { State::run_span; }) {
    return State::run_span;
  } else {
    return 2048;
  }
}

// For a run kernel whose passes over a span of cached scratch arrays leave the inputs alone: asks
// for the inputs' bars at + i .. (the next span's) from inside a late pass, a few lines per
// iteration. Bunched at a span's start, or left to the hardware, the next span's first reads
// (the driver's NaN scan) waited on memory (ultosc at 10^6 bars: 6.4 -> 5.4 ns a bar). The address
// is formed as an integer, since it may lie past an array's end (a prefetch there is dropped).
// Always inlined: GCC 12 takes a function doing nothing but prefetches for one without effects
// and drops its calls (no prefetch was left in the kernels).
template <int Inputs>
__attribute__((always_inline)) inline void prefetch_inputs(const double* const* in, ptrdiff_t at, ptrdiff_t i) {
  for (int k = 0; k < Inputs; ++k)
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(in[k] + at) + sizeof(double) * i), 0, 3);
}

// Bar t through `step`, written as the bar loop writes it (for a run kernel's warm-up bars).
template <class State, class Out>
inline void step_at(State& state, const double* const* in, ptrdiff_t t, Out* const* out) {
  double bar[State::inputs];
  double values[State::outputs];
  unrolled<State::inputs>([&](int k) { bar[k] = in[k][t]; });
  step_bar(state, bar, values);
  unrolled<State::outputs>([&](int k) { out[k][t] = static_cast<Out>(values[k]); });
}

// For run_real: `step` on bars from .. to - 1 (all real) while `warming()` holds, as the bar
// loop would run it; returns the first bar not taken.
template <class State, class Out, class Warming>
inline ptrdiff_t step_while(State& state, const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out,
                            Warming&& warming) {
  for (; from < to && warming(); ++from) step_at(state, in, from, out);
  return from;
}

// Bars from .. length - 1: spans of real bars found by a scan for NaN bars, each handed to
// run_real (a mixed run kernel's way for spans holding NaN bars).
template <class State, class Out, int Width = 2>
inline void run_real_spans(State& state, const double* const* columns, ptrdiff_t from, ptrdiff_t length,
                           Out* const* targets) {
  constexpr ptrdiff_t span = run_span_of<State>();
  ptrdiff_t real_before = 0;
  ptrdiff_t t = from;
  while (t < length) {
    const ptrdiff_t limit = length - t < span ? length : t + span;
    ptrdiff_t end = t;
#if defined(VELK_CLASSIC_LANES)
    while (end + 2 * lane_count <= limit && block_real_at<State::inputs>(columns, end)) end += 2 * lane_count;
#endif
    while (end < limit && all_real_at<State::inputs>(columns, end)) ++end;
    if (end > t) {
      if constexpr (Width != 2)
        state.template run_real<Out, Width>(columns, t, end, targets, real_before);
      else
        state.run_real(columns, t, end, targets, real_before);
      real_before += end - t;
      t = end;
      continue;
    }
    unrolled<State::outputs>([&](int k) { targets[k][t] = static_cast<Out>(std::numeric_limits<double>::quiet_NaN()); });
    real_before = 0;
    ++t;
  }
}

// The unit-stride loop of a state with a run kernel: NaN bars between the runs give NaN outputs
// and never reach the state, as in step_bar (a mixed run kernel sees them and does the same).
// Width: the lanes a kernel may run its spans in (`run_real<Out, Width>`, `run_mixed<Out, Width>`);
// 2 unless the state asks for wider ones inside the AVX2 copy (`vex_lane_width`).
template <class State, class Out, int Width = 2>
inline void run_real_bars(State& state, SeriesIn in, ptrdiff_t length, SeriesOut<Out> out) {
  const double* columns[State::inputs];
  Out* targets[State::outputs];
  for (int k = 0; k < State::inputs; ++k) columns[k] = in.columns[k];
  for (int k = 0; k < State::outputs; ++k) targets[k] = out.columns[k];
  if constexpr (HasMixedRunKernel<State>) {
    constexpr ptrdiff_t span = run_span_of<State>();
    for (ptrdiff_t t = 0; t < length; t += span) {
      const ptrdiff_t end = length - t < span ? length : t + span;
      if constexpr (Width != 2)
        state.template run_mixed<Out, Width>(columns, t, end, targets);
      else
        state.run_mixed(columns, t, end, targets);
    }
  } else {
    run_real_spans<State, Out, Width>(state, columns, 0, length, targets);
  }
}

template <class State, class Out>
inline void run_local(void* raw, SeriesIn in, ptrdiff_t length, SeriesOut<Out> out) {
  // A local state whose address never escapes: its scalars stay in registers across bars
  // instead of being stored and reloaded around every output write (which could alias them).
  State state = std::move(*static_cast<State*>(raw));
  if constexpr (HasRunKernel<State> || HasMixedRunKernel<State>) {
#if defined(__x86_64__) && !defined(__clang__)
    // A run kernel may ask for its loop compiled for AVX2 too (`static constexpr bool vex_loop =
    // true`): VEX's three-operand forms drop the register copies SSE2's two-operand ones need, a
    // large share of a kernel whose lanes run out of issue slots before their chains. The same
    // operations (no contraction), so the same bits; taken where the wide lanes are.
    if constexpr (requires { State::vex_loop; }) {
      if (in.stride == 1 && out.stride == 1 && widest_lane_unit() != LaneUnit::Two) {
        constexpr int width = [] {
          if constexpr (requires { State::vex_lane_width; })
            return State::vex_lane_width;
          else
            return 2;
        }();
        auto loop = [&] { run_real_bars<State, Out, width>(state, in, length, out); };
        // A kernel short of registers may ask for the same loop in AVX-512's encoding too
        // (`evex_loop`): its lanes as wide as before, but 32 vector registers instead of 16.
        if constexpr (requires { State::evex_loop; }) {
          if (widest_lane_unit() == LaneUnit::Eight) {
            run_with_avx512(loop);
            *static_cast<State*>(raw) = std::move(state);
            return;
          }
        }
        run_with_avx2(loop);
        *static_cast<State*>(raw) = std::move(state);
        return;
      }
    }
#endif
    if (in.stride == 1 && out.stride == 1) {
      run_real_bars<State, Out>(state, in, length, out);
      *static_cast<State*>(raw) = std::move(state);
      return;
    }
  }
  if constexpr (HasKernel<State>) {
    if (in.stride == 1 && out.stride == 1) {
#if defined(VELK_CLASSIC_LANES) && defined(__x86_64__)
      // An element-wise kernel's lanes in the widest unit (each lane the scalar operations, so
      // the same bits at every width), for series that stay cached: longer ones are bound by
      // memory, where the two-lane loop measured 3-5% faster than the AVX-512 and AVX2 ones.
      if constexpr (HasLaneKernel<State>) {
        switch (stays_cached(length * bytes_per_bar<State, Out>()) ? widest_lane_unit() : LaneUnit::Two) {
          case LaneUnit::Eight: {
            auto run = [&] { run_kernel_bars<State, Out, DoubleLanes<8>>(state, in, length, out); };
            run_with_avx512(run);
            *static_cast<State*>(raw) = std::move(state);
            return;
          }
          case LaneUnit::Four: {
            auto run = [&] { run_kernel_bars<State, Out, DoubleLanes<4>>(state, in, length, out); };
            run_with_avx2(run);
            *static_cast<State*>(raw) = std::move(state);
            return;
          }
          case LaneUnit::Two: break;
        }
      }
#endif
      run_kernel_bars<State, Out>(state, in, length, out);
      *static_cast<State*>(raw) = std::move(state);
      return;
    }
  }
  if (in.stride == 1 && out.stride == 1)
    run_bars<State, Out, true>(state, in, length, out);
  else
    run_bars<State, Out, false>(state, in, length, out);
  *static_cast<State*>(raw) = std::move(state);
}

// States with fused steps (fused_steps_of, lanes.hpp) run inside `with_fma`. Flattened: the step
// and everything it calls are inlined into the bar loop (two loop copies would otherwise exceed
// the compiler's inlining budget and leave a call per bar).
template <class State, class Out>
[[gnu::flatten]] void run_series(void* raw, SeriesIn in, ptrdiff_t length, SeriesOut<Out> out) {
  if constexpr (fused_steps_of<State>())
    with_fma([&] { run_local<State, Out>(raw, in, length, out); });
  else
    run_local<State, Out>(raw, in, length, out);
}

template <class State>
[[gnu::flatten]] bool update_bar(void* state, const double* bar, double* out) {
  if constexpr (fused_steps_of<State>()) {
    bool ready = false;
    with_fma([&] { ready = step_bar(*static_cast<State*>(state), bar, out); });
    return ready;
  } else {
    return step_bar(*static_cast<State*>(state), bar, out);
  }
}

// The listed columns of a row-major table each through a fresh state's run over the series, as
// run_many's per-series route computes them (ChunkScratch): eight columns at a time, 1,024 rows
// at a time gathered row by row into contiguous float64 (a row's line read once; each series'
// scratch a line off a multiple of 4 KB), run on, and scattered back as Out.
template <class State, class In, class Out>
void run_columns_per_series(const double* params, TableArrays<const In> in, TableArrays<Out> out, ptrdiff_t length,
                            const std::vector<ptrdiff_t>& columns) {
  constexpr size_t kTogether = 8;
  constexpr ptrdiff_t kRows = 1024, kSeriesStride = kRows + 8;
  constexpr int inputs = State::inputs, outputs = State::outputs;
  std::vector<double> scratch(kTogether * (inputs + outputs) * kSeriesStride);
  const auto series = [&](size_t s, int k) { return scratch.data() + (s * (inputs + outputs) + k) * kSeriesStride; };
  std::vector<State> states;
  states.reserve(kTogether);
  for (size_t at = 0; at < columns.size(); at += kTogether) {
    const size_t m = std::min(kTogether, columns.size() - at);
    const ptrdiff_t* these = columns.data() + at;
    states.clear();
    for (size_t s = 0; s < m; ++s) states.emplace_back(params);
    for (ptrdiff_t top = 0; top < length; top += kRows) {
      const ptrdiff_t rows = std::min(kRows, length - top);
      for (ptrdiff_t i = 0; i < rows; ++i)
        for (size_t s = 0; s < m; ++s)
          for (int k = 0; k < inputs; ++k)
            series(s, k)[i] = static_cast<double>(in.bases[k][(top + i) * in.rows[k] + these[s] * in.columns[k]]);
      for (size_t s = 0; s < m; ++s) {
        const double* from[inputs];
        double* into[outputs];
        for (int k = 0; k < inputs; ++k) from[k] = series(s, k);
        for (int k = 0; k < outputs; ++k) into[k] = series(s, inputs + k);
        run_series<State, double>(&states[s], SeriesIn{from, 1}, rows, SeriesOut<double>{into, 1});
      }
      for (ptrdiff_t i = 0; i < rows; ++i)
        for (size_t s = 0; s < m; ++s)
          for (int k = 0; k < outputs; ++k)
            out.bases[k][(top + i) * out.rows[k] + these[s] * out.columns[k]] = static_cast<Out>(series(s, inputs + k)[i]);
    }
  }
}

// run_window_columns (window_lanes.hpp) with the per-series route for the columns it hands back.
template <class State, class In, class Out>
void run_window_columns_of(const double* params, TableArrays<const In> in, TableArrays<Out> out, ptrdiff_t length,
                           ptrdiff_t first, ptrdiff_t count) {
  run_window_columns<State>(params, in, out, length, first, count, [&](const std::vector<ptrdiff_t>& columns) {
    run_columns_per_series<State>(params, in, out, length, columns);
  });
}

template <class State>
Operations operations_of() {
  Operations ops;
  ops.inputs = State::inputs;
  ops.outputs = State::outputs;
  ops.create = [](const double* params) -> void* { return new State(params); };
  ops.destroy = [](void* state) { delete static_cast<State*>(state); };
  ops.clone = [](const void* state) -> void* { return new State(*static_cast<const State*>(state)); };
  ops.run_f64 = &run_series<State, double>;
  ops.run_f32 = &run_series<State, float>;
  ops.update = &update_bar<State>;
  if constexpr (HasLanes<State>) {
    ops.columns_f64_f64 = &run_columns_in_lanes<State, double, double>;
    ops.columns_f64_f32 = &run_columns_in_lanes<State, double, float>;
    ops.columns_f32_f64 = &run_columns_in_lanes<State, float, double>;
    ops.columns_f32_f32 = &run_columns_in_lanes<State, float, float>;
  } else if constexpr (HasWindowLanes<State>) {
    ops.columns_f64_f64 = &run_window_columns_of<State, double, double>;
    ops.columns_f64_f32 = &run_window_columns_of<State, double, float>;
    ops.columns_f32_f64 = &run_window_columns_of<State, float, double>;
    ops.columns_f32_f32 = &run_window_columns_of<State, float, float>;
  }
  ops.save = [](const void* state, std::string& bytes) {
    StateWriter writer;
    const_cast<State*>(static_cast<const State*>(state))->fields(writer);
    bytes = std::move(writer.bytes);
  };
  ops.load = [](void* state, const char* bytes, size_t size) {
    State loaded = *static_cast<State*>(state);  // same parameters, so the same ring capacities
    StateReader reader{bytes, bytes + size};
    loaded.fields(reader);
    if (!reader.ok || reader.at != reader.end) return false;
    *static_cast<State*>(state) = std::move(loaded);
    return true;
  };
  return ops;
}

}  // namespace velk::classic
