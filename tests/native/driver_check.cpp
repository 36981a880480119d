// Exhaustive check of the loop driver's unchecked stretch on small cases: a split
// run must touch the same elements, in the same order, and fail at the same step
// as a run that checks every access, and its unchecked steps may only touch
// elements inside their views. Prints the number of cases and exits 0, or the
// first failing case and exits 1.
#include <cstdio>
#include <vector>

#include "driver/loop.hpp"

using velk::FloatView;

namespace {

struct Trace {
  std::vector<float> seen;
  long failed_at = -1000;
};

// Reads a[i + a_lo], a[i + a_hi], b[i + b_off]; writes a[i + a_lo] (a sum, so
// stores show up in later reads).
template <bool kSplit>
Trace run(const FloatView& a, const FloatView& b, long a_lo, long a_hi, long b_off, long begin, long end, bool& escaped) {
  Trace t;
  auto step = [&](auto at, int64_t i) {
    if constexpr (!decltype(at)::checked) {
      for (long p : {i + a_lo, i + a_hi})
        if (p < 0 || p >= a.size()) escaped = true;
      if (i + b_off < 0 || i + b_off >= b.size()) escaped = true;
      if (escaped) return false;
    }
    const float x = at.get(a, i + a_lo) + at.get(a, i + a_hi) + at.get(b, i + b_off);
    at.put(a, i + a_lo, x);
    t.seen.push_back(x);
    return true;
  };
  try {
    if constexpr (kSplit) {
      velk::run_steps(begin, end, {velk::reach(a, {a_lo, a_hi}), velk::reach(b, {b_off})}, step);
    } else {
      for (long i = begin; i < end; ++i) step(velk::Checked{}, i);
    }
  } catch (const velk::OutOfBounds&) {
    t.failed_at = static_cast<long>(t.seen.size());
  }
  return t;
}

}  // namespace

int main() {
  long cases = 0;
  for (int na = 0; na <= 4; ++na)
    for (int nb = 0; nb <= 4; ++nb)
      for (long a_lo = -3; a_lo <= 3; ++a_lo)
        for (long a_hi = a_lo; a_hi <= 3; ++a_hi)
          for (long b_off = -3; b_off <= 3; ++b_off)
            for (long begin = -6; begin <= 6; ++begin)
              for (long end = begin - 1; end <= 7; ++end) {
                std::vector<float> a1(na), b1(nb), a2, b2;
                for (int k = 0; k < na; ++k) a1[k] = 1.0f + k;
                for (int k = 0; k < nb; ++k) b1[k] = 10.0f * (k + 1);
                a2 = a1;
                b2 = b1;
                FloatView va1(reinterpret_cast<char*>(a1.data()), na, 4), vb1(reinterpret_cast<char*>(b1.data()), nb, 4);
                FloatView va2(reinterpret_cast<char*>(a2.data()), na, 4), vb2(reinterpret_cast<char*>(b2.data()), nb, 4);
                bool escaped = false, never = false;
                const Trace split = run<true>(va1, vb1, a_lo, a_hi, b_off, begin, end, escaped);
                const Trace checked = run<false>(va2, vb2, a_lo, a_hi, b_off, begin, end, never);
                ++cases;
                if (escaped || split.seen != checked.seen || split.failed_at != checked.failed_at || a1 != a2) {
                  std::printf("FAIL na=%d nb=%d a=[%ld,%ld] b=%ld range=[%ld,%ld) escaped=%d\n", na, nb, a_lo, a_hi,
                              b_off, begin, end, escaped);
                  return 1;
                }
              }
  // The stretch is the largest one: one position more on either side would escape.
  const float data[3] = {};
  FloatView v(reinterpret_cast<char*>(const_cast<float*>(data)), 3, 4);
  const velk::Stretch s = velk::unchecked_stretch(-5, 10, {velk::reach(v, {-1, 1})});
  if (s.begin != 1 || s.end != 2) {
    std::printf("FAIL stretch [%ld, %ld)\n", static_cast<long>(s.begin), static_cast<long>(s.end));
    return 1;
  }
  std::printf("%ld\n", cases);
  return 0;
}
