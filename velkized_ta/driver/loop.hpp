// The loop driver: every indicator loop over positions runs through here.
//
// A step states what it touches relative to its position i (which views, at
// which offsets). The driver derives from that the stretch of positions at which
// every such access lies inside its view, runs the step there with unchecked
// access and everywhere else with checked access. Inside the stretch the unchecked
// access reads exactly the element the checked one would, so which error is raised,
// and when, never depends on the split.
//
// `native` is the only way into a loop that runs without the GIL: it decides
// whether to release the GIL and dispatches the fused multiply-adds (frame/fma.hpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "frame/call.hpp"
#include "frame/fma.hpp"
#include "frame/view.hpp"

namespace velk {

// Below this many positions a loop finishes faster than a GIL hand-over.
constexpr int64_t kGilReleaseThreshold = 20000;

// Runs a native loop over `positions` positions: without the GIL when that pays,
// compiled for the FMA unit where there is one. `loop` may touch no Python object.
template <class Loop>
inline void native(int64_t positions, Loop&& loop) {
  GilRelease unlocked(positions >= kGilReleaseThreshold);
  with_fma(loop);
}

// A native loop on a worker thread that already runs without the GIL (the
// many-series path): only the FMA build is dispatched.
template <class Loop>
inline void native_unlocked(Loop&& loop) {
  with_fma(loop);
}

// `native` for element-wise passes written in wide lanes (driver/lanes.hpp): compiled
// for the widest vector unit there is.
template <class Loop>
inline void native_wide(int64_t positions, Loop&& loop) {
  GilRelease unlocked(positions >= kGilReleaseThreshold);
  with_wide_vectors(loop);
}

// A step's accesses of one view: view[i + lowest] .. view[i + highest].
struct Reach {
  int64_t size;
  int64_t lowest;
  int64_t highest;
  bool contiguous;
};

// view[i + offset] for each of the offsets, given in any order.
template <typename T>
inline Reach reach(const View<T>& view, std::initializer_list<int64_t> offsets = {0}) {
  return {view.size(), std::min(offsets), std::max(offsets), view.contiguous()};
}

// The positions of [begin, end) at which every reach lies within 0 .. size - 1;
// empty (begin == end == the caller's end) when there is none.
struct Stretch {
  int64_t begin;
  int64_t end;
};

inline Stretch unchecked_stretch(int64_t begin, int64_t end, std::initializer_list<Reach> reaches) {
  int64_t lo = begin, hi = end;
  for (const Reach& r : reaches) {
    lo = std::max(lo, -r.lowest);
    hi = std::min(hi, r.size - r.highest);
  }
  if (lo >= hi) return {end, end};
  return {lo, hi};
}

// How a step reaches its views. Checked access raises as View does; unchecked
// access is for proven positions; the contiguous form lets one index address
// every view when all of them have the element size as stride.
template <bool kChecked, bool kContiguous = false>
struct Access {
  static constexpr bool checked = kChecked;

  template <typename T>
  static T get(const View<T>& view, int64_t p) {
    if constexpr (kChecked) {
      return view[p];
    } else if constexpr (kContiguous) {
      T value;
      std::memcpy(&value, view.data() + p * int64_t{sizeof(T)}, sizeof value);
      return value;
    } else {
      return view.get_unchecked(p);
    }
  }
  template <typename T>
  static void put(const View<T>& view, int64_t p, T value) {
    if constexpr (kChecked) {
      view.set(p, value);
    } else if constexpr (kContiguous) {
      std::memcpy(view.data() + p * int64_t{sizeof(T)}, &value, sizeof value);
    } else {
      view.set_unchecked(p, value);
    }
  }
};

using Checked = Access<true>;

namespace detail {

// Calls step(access, i); a step returning false stops the run.
template <class A, class Step>
inline bool take(Step& step, int64_t i) {
  if constexpr (std::is_same_v<decltype(step(A{}, i)), bool>) {
    return step(A{}, i);
  } else {
    step(A{}, i);
    return true;
  }
}

template <class A, class Step>
inline int64_t take_all(Step& step, int64_t begin, int64_t end) {
  for (int64_t i = begin; i < end; ++i)
    if (!take<A>(step, i)) return i;
  return end;
}

}  // namespace detail

// Runs step(access, i) for i = begin .. end - 1 and returns end, or the position
// at which a step returned false.
template <class Step>
inline int64_t run_steps(int64_t begin, int64_t end, std::initializer_list<Reach> reaches, Step&& step) {
  const Stretch fast = unchecked_stretch(begin, end, reaches);
  const bool contiguous = std::all_of(reaches.begin(), reaches.end(), [](const Reach& r) { return r.contiguous; });
  int64_t at = detail::take_all<Checked>(step, begin, fast.begin);
  if (at < fast.begin) return at;
  at = contiguous ? detail::take_all<Access<false, true>>(step, fast.begin, fast.end)
                  : detail::take_all<Access<false>>(step, fast.begin, fast.end);
  if (at < fast.end) return at;
  return detail::take_all<Checked>(step, fast.end, end);
}

}  // namespace velk
