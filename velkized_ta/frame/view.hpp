// Typed element views and the arithmetic helpers the indicator kernels share.
// Nothing here touches Python: kernels report failures by throwing one of the
// failure types below and the calling frame turns them into exceptions.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace velk {

// IndexError "Out of bounds on buffer access (axis 0)".
struct OutOfBounds {};
// ZeroDivisionError "float division".
struct FloatDivision {};
// A Python exception is already set; the frame only has to unwind.
struct PythonError {};

// One-dimensional strided view of 32-bit elements. Position p may be negative
// (counted from the end, -1 is the last element); anything outside -len .. len-1
// throws OutOfBounds. Elements are copied with memcpy so unaligned buffers are fine.
template <typename T>
class View {
 public:
  View() = default;
  View(char* data, int64_t length, int64_t stride) : data_(data), length_(length), stride_(stride) {}

  int64_t size() const { return length_; }

  T operator[](int64_t p) const { return load(address(p)); }
  void set(int64_t p, T value) const { store(address(p), value); }

  // For loops whose positions were proven in range beforehand.
  T get_unchecked(int64_t p) const { return load(data_ + p * stride_); }
  void set_unchecked(int64_t p, T value) const { store(data_ + p * stride_, value); }

  bool contiguous() const { return stride_ == static_cast<int64_t>(sizeof(T)); }
  char* data() const { return data_; }
  int64_t stride() const { return stride_; }

 private:
  char* address(int64_t p) const {
    if (p < 0) {
      p += length_;
      if (p < 0) throw OutOfBounds{};
    } else if (p >= length_) {
      throw OutOfBounds{};
    }
    return data_ + p * stride_;
  }
  static T load(const char* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
  }
  static void store(char* at, T value) { std::memcpy(at, &value, sizeof(T)); }

  char* data_ = nullptr;
  int64_t length_ = 0;
  int64_t stride_ = 0;
};

using FloatView = View<float>;
using IntView = View<int32_t>;

// 32-bit signed arithmetic that wraps like two's complement (no undefined behaviour).
inline int32_t add32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t sub32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t mul32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// First computed position of a trailing window: max(warm_up_end, n - n_values) in 32 bits.
inline int32_t trailing_start(int32_t warm_up_end, int32_t n, int32_t n_values) {
  const int32_t tail = sub32(n, n_values);
  return tail > warm_up_end ? tail : warm_up_end;
}

// A float division whose divisor is only known at run time: +0 and -0 raise.
inline float divide(float numerator, float denominator) {
  if (denominator == 0.0f) throw FloatDivision{};
  return numerator / denominator;
}

inline bool is_missing(float value) { return std::isnan(value); }

// What np.full(n, np.nan, dtype=np.float32) holds at every position: the quiet NaN 0x7fc00000.
inline const float kUnwritten = std::numeric_limits<float>::quiet_NaN();

// Positions begin .. end - 1 (clipped to the view) of an output a body leaves NaN.
inline void fill_unwritten(const FloatView& out, int64_t begin, int64_t end) {
  begin = std::max<int64_t>(begin, 0);
  end = std::min<int64_t>(end, out.size());
  for (int64_t i = begin; i < end; ++i) out.set_unchecked(i, kUnwritten);
}

}  // namespace velk
