// The window extremes of scan_extremes (doubling for short windows, block folds for
// long ones, ring queues for stretches holding a NaN) against the slot queues of the
// plain loop, bit for bit, on series built to catch a wrong pick: ties (equal values
// and +0 against -0, where only the newest may win), NaN runs (in the history, at a
// chunk's edge, longer than the window), monotone runs (the extreme at either end),
// windows of 1 and 2, windows around powers of two, contiguous and strided views.
// Prints the number of compared windows and exits 0, or the first difference and exits 1.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "indicators/position_queue.hpp"

namespace vi = velk::indicators;
using velk::FloatView;
using velk::IntView;

namespace {

uint32_t bits(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// A counter-based generator: the same series on every machine.
uint64_t mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  return x ^ (x >> 33);
}

enum Pattern { kTies, kSignedZeros, kRising, kFalling, kSawtooth, kNaNRuns, kLoneNaNs, kInfinities, kPatterns };

float value(Pattern pattern, uint64_t seed, int64_t i, int64_t n) {
  const uint64_t r = mix(seed * 1000003ULL + static_cast<uint64_t>(i));
  const float tie = static_cast<float>(r % 4);  // few distinct values: ties everywhere
  switch (pattern) {
    case kTies: return tie;
    case kSignedZeros: return (r & 1) ? 0.0f : -0.0f;
    case kRising: return static_cast<float>(i / 3);
    case kFalling: return static_cast<float>((n - i) / 3);
    case kSawtooth: return static_cast<float>(i % 7) - ((r >> 8) % 2 ? 0.0f : 3.0f);
    case kNaNRuns: return ((i / 37) % 3 == 1 && (r % 5) != 0) ? NAN : tie;
    case kLoneNaNs: return (r % 211) == 0 ? NAN : tie - 1.5f;
    case kInfinities: return (r % 17) == 0 ? INFINITY : (r % 19) == 0 ? -INFINITY : tie;
    default: return 0.0f;
  }
}

struct Series {
  std::vector<float> storage;
  FloatView view;
  Series(Pattern pattern, uint64_t seed, int64_t n, int64_t stride) : storage(static_cast<size_t>(n * stride + 1)) {
    for (int64_t i = 0; i < n; ++i) storage[static_cast<size_t>(i * stride)] = value(pattern, seed, i, n);
    view = FloatView(reinterpret_cast<char*>(storage.data()), n, stride * static_cast<int64_t>(sizeof(float)));
  }
};

// The plain loop's slot queues: what every window's extremes were before the scans.
void slot_queues(const FloatView& high, const FloatView& low, int32_t period, int32_t start, int32_t n,
                 std::vector<float>& hh, std::vector<float>& ll) {
  std::vector<int32_t> high_slots(static_cast<size_t>(n) + 1), low_slots(static_cast<size_t>(n) + 1);
  vi::HighQueue highs(IntView(reinterpret_cast<char*>(high_slots.data()), n + 1, 4), high);
  vi::LowQueue lows(IntView(reinterpret_cast<char*>(low_slots.data()), n + 1, 4), low);
  for (int64_t i = int64_t{start} - period + 1; i < start; ++i) {
    highs.push(static_cast<int32_t>(i));
    lows.push(static_cast<int32_t>(i));
  }
  for (int64_t i = start; i < n; ++i) {
    highs.expire(i - period);
    lows.expire(i - period);
    highs.push(static_cast<int32_t>(i));
    lows.push(static_cast<int32_t>(i));
    hh.push_back(highs.front_value());
    ll.push_back(lows.front_value());
  }
}

}  // namespace

int main() {
  const int32_t periods[] = {1, 2, 3, 4, 5, 7, 8, 9, 14, 15, 16, 17, 31, 32, 33, 100, 2047, 2048, 2049, 3000};
  const int32_t lengths[] = {1, 2, 3, 9, 40, 300, 4100, 9001};
  long compared = 0;
  for (int32_t period : periods)
    for (int32_t n : lengths)
      for (int p = 0; p < kPatterns; ++p)
        for (int64_t stride : {1, 3})
          for (int32_t late : {0, 5}) {
            const int32_t start = period - 1 + late;
            if (start >= n || (n > 300 && stride == 3 && p % 2)) continue;
            const Pattern pattern = static_cast<Pattern>(p);
            const Series high(pattern, 2 * n + period, n, stride);
            const Series low(pattern == kRising ? kFalling : pattern, 2 * n + period + 1, n, stride);
            std::vector<float> want_hh, want_ll;
            slot_queues(high.view, low.view, period, start, n, want_hh, want_ll);
            std::vector<float> got_hh(want_hh.size(), -1.0f), got_ll(want_ll.size(), -1.0f);
            float* gh = got_hh.data();
            float* gl = got_ll.data();
            const bool done = vi::scan_extremes(high.view, low.view, period, start, n, [gh, gl, start](int64_t i, float h, float l) {
              gh[i - start] = h;
              gl[i - start] = l;
            });
            for (size_t k = 0; done && k < want_hh.size(); ++k, ++compared) {
              if (bits(got_hh[k]) != bits(want_hh[k]) || bits(got_ll[k]) != bits(want_ll[k])) {
                std::printf("period %d n %d pattern %d stride %lld start %d position %lld: %a %a, queue %a %a\n", period,
                            n, p, static_cast<long long>(stride), start, static_cast<long long>(start + k),
                            got_hh[k], got_ll[k], want_hh[k], want_ll[k]);
                return 1;
              }
            }
            if (!done) {
              std::printf("period %d n %d: no scratch memory\n", period, n);
              return 1;
            }
          }
  std::printf("%ld\n", compared);
  return 0;
}
