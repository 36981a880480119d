// Work arrays of the native many-series path (indicators/many.hpp).

#include "indicators/many.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace velk::indicators {

namespace {

template <typename T>
View<T> filled(std::vector<std::vector<T>>& pool, size_t& used, int32_t n, T value) {
  if (used == pool.size()) pool.emplace_back();
  std::vector<T>& storage = pool[used++];
  const size_t count = static_cast<size_t>(n < 0 ? 0 : n);
  if (storage.size() < count) storage.resize(count);  // kept longer: the next series reuses it
  // By doubling copies: vector::assign fills one element at a time.
  if (count > 0) storage[0] = value;
  for (size_t done = 1; done < count; done *= 2)
    std::memcpy(storage.data() + done, storage.data(), std::min(done, count - done) * sizeof(T));
  return View<T>(reinterpret_cast<char*>(storage.data()), static_cast<int64_t>(count), sizeof(T));
}

float quiet_nan() {
  // The bits np.full(n, np.nan, dtype=np.float32) stores.
  const uint32_t bits = 0x7fc00000u;
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

void fill_nan(const FloatView& out, int64_t begin, int64_t end) {
  begin = std::max<int64_t>(begin, 0);
  end = std::min<int64_t>(end, out.size());
  if (begin >= end) return;
  // Locals: a store through the view's memory could otherwise change where it points.
  char* const at = out.data() + begin * out.stride();
  const int64_t stride = out.stride();
  const int64_t count = end - begin;
  const float nan = quiet_nan();
  if (!out.contiguous()) {
    for (int64_t i = 0; i < count; ++i) std::memcpy(at + i * stride, &nan, sizeof nan);
    return;
  }
  // Whole blocks by memcpy, at any alignment.
  constexpr int64_t kBlock = 1024;
  static const std::array<float, kBlock> nans = [nan] {
    std::array<float, kBlock> block;
    block.fill(nan);
    return block;
  }();
  for (int64_t i = 0; i < count; i += kBlock)
    std::memcpy(at + i * int64_t{sizeof(float)}, nans.data(), std::min(kBlock, count - i) * sizeof(float));
}

FloatView Workspace::nan_series(int32_t n) { return filled(floats_, floats_used_, n, quiet_nan()); }
FloatView Workspace::zero_series(int32_t n) { return filled(floats_, floats_used_, n, 0.0f); }
IntView Workspace::zero_positions(int32_t n) { return filled(ints_, ints_used_, n, int32_t{0}); }

}  // namespace velk::indicators
