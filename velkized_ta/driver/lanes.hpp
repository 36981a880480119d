// The one lane type for work done several positions at a time. Each lane's
// arithmetic is the scalar IEEE operation, so a lane rounds exactly as the
// scalar step does; only what is independent between positions goes in lanes.
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/fma.hpp"
#include "frame/view.hpp"

namespace velk {

constexpr int kLanes = 4;
using Lanes = float __attribute__((vector_size(kLanes * sizeof(float))));
// Lane-wise comparisons give -1 (true) or 0.
using Mask = int32_t __attribute__((vector_size(kLanes * sizeof(int32_t))));

inline Mask bits_of(Lanes v) {
  Mask bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}
inline Lanes from_bits(Mask bits) {
  Lanes v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}
inline bool any(Mask m) {
  int32_t folded = 0;
  for (int k = 0; k < kLanes; ++k) folded |= m[k];
  return folded != 0;
}
inline Lanes splat(float v) { return Lanes{} + v; }

// Elements p .. p + count - 1 of a view whose positions are proven in range;
// lanes past `count` hold zeros, which raise nothing.
template <bool kContiguous>
inline Lanes load_lanes(const FloatView& v, int64_t p, int64_t count = kLanes) {
  Lanes lanes{};
  if (kContiguous && count == kLanes) {
    std::memcpy(&lanes, v.data() + p * int64_t{sizeof(float)}, sizeof lanes);
  } else {
    for (int64_t k = 0; k < count; ++k) lanes[k] = v.get_unchecked(p + k);
  }
  return lanes;
}

template <bool kContiguous>
inline void store_lanes(const FloatView& v, int64_t p, Lanes lanes, int64_t count = kLanes) {
  if (kContiguous && count == kLanes) {
    std::memcpy(v.data() + p * int64_t{sizeof(float)}, &lanes, sizeof lanes);
  } else {
    for (int64_t k = 0; k < count; ++k) v.set_unchecked(p + k, lanes[k]);
  }
}

// Lane by lane, so each lane rounds exactly as the scalar fused step does.
inline Lanes fused(Lanes a, Lanes b, Lanes c) {
  Lanes r;
  for (int k = 0; k < kLanes; ++k) r[k] = fused(a[k], b[k], c[k]);
  return r;
}

// Element-wise passes take sixteen positions at a time: one AVX-512 instruction,
// two AVX2 or four SSE ones, as `native_wide` chose the build (driver/loop.hpp).
constexpr int kWide = 16;
using Wide = float __attribute__((vector_size(kWide * sizeof(float))));
using WideMask = int32_t __attribute__((vector_size(kWide * sizeof(int32_t))));
using WideDoubles = double __attribute__((vector_size(kWide * sizeof(double))));

inline bool any(WideMask m) {
  uint64_t words[kWide / 2];
  std::memcpy(words, &m, sizeof words);
  uint64_t folded = 0;
  for (uint64_t w : words) folded |= w;
  return folded != 0;
}
// Positions p .. p + kWide - 1 of a contiguous view, proven in range.
inline Wide load_wide(const FloatView& v, int64_t p) {
  Wide lanes;
  std::memcpy(&lanes, v.data() + p * int64_t{sizeof(float)}, sizeof lanes);
  return lanes;
}
inline void store_wide(const FloatView& v, int64_t p, Wide lanes) {
  std::memcpy(v.data() + p * int64_t{sizeof(float)}, &lanes, sizeof lanes);
}

}  // namespace velk
