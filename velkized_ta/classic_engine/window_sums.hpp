// K guarded window sums stepped together: the numerators and denominators of a ratio indicator
// (ultosc's six, vortex's three). Each sum is GuardedWindowSum (sums.hpp) operation for operation,
// with the same pickled fields. A run of bars takes a fast loop: the sums' chains only (and the
// magnitudes' where a sum's values may be negative), with the tests the step makes every bar (a
// collapse, a window of zeros) settled for the whole run from bounds.
// Callers divide the sums in a pass of their own after push_run (cmf: run_fused). Handing each two bars' sums to
// the divisions from inside the sums' loop, so the divider would work beside the chains, measured
// slower (vortex 1.1-1.2x, ultosc 1.1x; blocks of 8 and 16 bars no faster than the pass): the
// loop's sums are spilled around each block, and the blocks' two-lane loads must read the sums a
// double at a time (a 16-byte load of two 8-byte stores just made is not forwarded from them and
// waits: 2x slower).
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__x86_64__) && !defined(__clang__)
#include <immintrin.h>
#endif

#include "classic_engine/driver.hpp"
#include "classic_engine/indicator.hpp"
#include "classic_engine/lanes.hpp"

namespace velk::classic {

#if defined(__x86_64__) && !defined(__clang__)
namespace window_sums_detail {

// The checks of GuardedWindowSums' fast runs eight lanes at a time (decisions and exact bounds
// only: no value they give depends on the width).
__attribute__((target("avx512f,avx512dq"))) inline bool scan_avx512(const double* values, size_t n, bool& negative) {
  const __m512d none = _mm512_setzero_pd(), largest = _mm512_set1_pd(std::numeric_limits<double>::max());
  // The lanes not finite (not <= the largest double, NaN included) and below zero ORed together
  // in mask registers: `every &= (<=)` compiled to a masked compare, whose latency chained the
  // iterations, and moving the masks a step to general registers cost more than the compares.
  __mmask8 beyond = 0, some = 0;
  size_t j = 0;
  for (; j + 8 <= n; j += 8) {
    const __m512d v = _mm512_loadu_pd(values + j);
    beyond = _kor_mask8(beyond, _mm512_cmp_pd_mask(_mm512_abs_pd(v), largest, _CMP_NLE_UQ));
    some = _kor_mask8(some, _mm512_cmp_pd_mask(v, none, _CMP_LT_OQ));
  }
  bool finite = beyond == 0, below = some != 0;
  for (; j < n; ++j) {
    finite &= std::fabs(values[j]) <= std::numeric_limits<double>::max();
    below |= values[j] < 0.0;
  }
  negative = below;
  return finite;
}
__attribute__((target("avx512f"))) inline void bounds_avx512(const double* values, size_t n, double& lowest_out,
                                                             double& highest_out) {
  // In locals: stores through the references each bar would wait on each other (they may alias values).
  double lowest = values[0], highest = values[0];
  size_t j = 0;
  if (n >= 16) {
    using Wide = DoubleLanes<8>;
    Wide low[2], high[2];
    std::memcpy(&low[0], values, sizeof(Wide));
    low[1] = high[0] = high[1] = low[0];
    for (; j + 16 <= n; j += 16) {
      for (int a = 0; a < 2; ++a) {
        Wide v;
        std::memcpy(&v, values + j + 8 * a, sizeof v);
        low[a] = v < low[a] ? v : low[a];
        high[a] = v > high[a] ? v : high[a];
      }
    }
    // Halving, so the reduction's chain is three comparisons long, not sixteen.
    Wide lows = low[0] < low[1] ? low[0] : low[1], highs = high[0] > high[1] ? high[0] : high[1];
    double l4[4], h4[4];
    for (int a = 0; a < 4; ++a) {
      l4[a] = std::min(lows[a], lows[a + 4]);
      h4[a] = std::max(highs[a], highs[a + 4]);
    }
    lowest = std::min({lowest, std::min(l4[0], l4[2]), std::min(l4[1], l4[3])});
    highest = std::max({highest, std::max(h4[0], h4[2]), std::max(h4[1], h4[3])});
  }
  for (; j < n; ++j) {
    lowest = std::min(lowest, values[j]);
    highest = std::max(highest, values[j]);
  }
  lowest_out = lowest;
  highest_out = highest;
}

}  // namespace window_sums_detail
#endif

template <int K>
class GuardedWindowSums {
 public:
  explicit GuardedWindowSums(const int64_t (&periods)[K]) {
    for (int k = 0; k < K; ++k) rings_[k] = Ring(periods[k]);
  }

  // GuardedWindowSum::push(values[k]) on each sum, its sum into sums[k].
  void push(const double* values, double* sums) {
    unrolled<K>([&](int k) { sums[k] = push_one(k, values[k]); });
  }
  bool full(int k) const { return rings_[k].full(); }

  // push({values[0][i], .., values[K - 1][i]}, ..) for i = 0 .. count - 1, sum k of push i into
  // sums[k][i] (which must not overlap any values array; several sums may read one array). Once
  // every ring is full: run_unchecked, else between the bars where a ring wraps or a sum is
  // re-added on schedule (which take push), the sums' state in locals and every sum taking the
  // bar in one pass. `facts`, where the caller took them while computing the values: what the
  // scan of each values array would give (scan's finite and negative), so it is not read again.
  struct RunFacts {
    bool finite[K];
    bool negative[K];
  };
  void push_run(const double* const* values, size_t count, double* const* sums, const RunFacts* facts = nullptr) {
    const size_t i = push_until_full(values, count, sums);
    if (i < count && run_unchecked(values, i, count, sums, i == 0 ? facts : nullptr)) return;
    push_between(values, i, count, sums);
  }

  // push_run for an even K with each pair of sums p and p + K / 2 (p < K / 2) stored interleaved:
  // pair_values[p][2 i] is sum p's value of push i and pair_values[p][2 i + 1] sum p + K / 2's,
  // and their sums go into pair_sums[p] the same way (which must not overlap any values array;
  // several pairs may read one array). A caller whose passes around the sums work in pairs (ultosc:
  // buying pressure and true range over one period) saves the sums' loop half its loads and
  // stores: one 16-byte load of the values, one of the leaving values and one store a pair and
  // bar. Where the pairs' run would not take run_paired (a ring not full or longer than
  // kLongestCopied, values not finite, a sum adding its magnitudes, pairs on different schedules,
  // a collapse), the run takes push_run's steps between ring wraps and re-addings (run_between)
  // on separated copies.
  void push_run_pairs(const double* const* pair_values, size_t count, double* const* pair_sums) {
    static_assert(K % 2 == 0, "push_run_pairs: an even number of sums");
    constexpr int H = K / 2;
    if (count == 0) return;
#if defined(VELK_CLASSIC_LANES)
    if (run_pairs_unchecked(pair_values, count, pair_sums)) return;
#endif
    std::vector<double> apart(2 * K * count);
    const double* values[K];
    double* sums[K];
    unrolled<K>([&](int k) {
      double* value = apart.data() + k * count;
      const int p = k % H, lane = k / H;
      for (size_t i = 0; i < count; ++i) value[i] = pair_values[p][2 * i + lane];
      values[k] = value;
      sums[k] = apart.data() + (K + k) * count;
    });
    // Without run_unchecked, which would decline these runs too (and compiling it beside
    // run_pairs_unchecked lengthened ultosc's sanitizer build by 80 %).
    push_between(values, push_until_full(values, count, sums), count, sums);
    unrolled<K>([&](int k) {
      const int p = k % H, lane = k / H;
      for (size_t i = 0; i < count; ++i) pair_sums[p][2 * i + lane] = sums[k][i];
    });
  }

  // Sum k's fields, as GuardedWindowSum::fields.
  template <class Archive>
  void fields(int k, Archive& a) {
    rings_[k].fields(a);
    a(sum_[k]);
    a(magnitude_[k]);
    a(peak_[k]);
    a(nonzero_[k]);
    a(since_resum_[k]);
    if (Archive::loading) {
      fresh_sum_[k] = fresh_magnitude_[k] = 0.0;
      rings_[k].each_newest(since_resum_[k], [&](double value) {
        fresh_sum_[k] += value;
        fresh_magnitude_[k] += std::fabs(value);
      });
    }
  }

 private:
  static constexpr double kCollapse = 1.0 / 16384.0;  // as GuardedWindowSum's

  // push at bar `at` of push_run's arrays.
  void push_at(const double* const* values, size_t at, double* const* sums) {
    double bar[K], out[K];
    unrolled<K>([&](int k) { bar[k] = values[k][at]; });
    push(bar, out);
    unrolled<K>([&](int k) { sums[k][at] = out[k]; });
  }
  // push_run's bars from 0 while a ring is not full; returns the first bar left.
  size_t push_until_full(const double* const* values, size_t count, double* const* sums) {
    const auto all_full = [&] {
      bool full = true;
      unrolled<K>([&](int k) { full &= rings_[k].full(); });
      return full;
    };
    size_t i = 0;
    for (; i < count && !all_full(); ++i) push_at(values, i, sums);
    return i;
  }
  // push_run's bars from i .. count - 1 (every ring full) with each step's tests: run_between up
  // to the next scheduled re-adding or ring wrap of any sum, push at it.
  void push_between(const double* const* values, size_t i, size_t count, double* const* sums) {
    while (i < count) {
      size_t stop = count;
      unrolled<K>([&](int k) {
        const size_t capacity = rings_[k].capacity();
        stop = std::min(stop, i + (capacity - 1 - static_cast<size_t>(since_resum_[k])));
        stop = std::min(stop, i + (capacity - rings_[k].position()));
      });
      if (stop == i) {
        push_at(values, i++, sums);
        continue;
      }
      i += run_between(values, i, stop, sums);
    }
  }

  double sum_of(int k) const { return nonzero_[k] == 0 ? 0.0 : sum_[k]; }

  double push_one(int k, double value) {
    Ring& ring = rings_[k];
    const bool was_full = ring.full();
    const double pushed_out = ring.push(value);
    const double leaving = was_full ? pushed_out : 0.0;
    nonzero_[k] += (value != 0.0) - (leaving != 0.0);
    fresh_sum_[k] += value;
    fresh_magnitude_[k] += std::fabs(value);
    if (++since_resum_[k] >= static_cast<int64_t>(ring.capacity())) {
      since_resum_[k] = 0;
      sum_[k] = fresh_sum_[k];
      magnitude_[k] = fresh_magnitude_[k];
      peak_[k] = magnitude_[k];
      fresh_sum_[k] = fresh_magnitude_[k] = 0.0;
    } else {
      sum_[k] += value;
      magnitude_[k] += std::fabs(value);
      sum_[k] -= leaving;
      magnitude_[k] -= std::fabs(leaving);
      peak_[k] = select_greater(magnitude_[k], peak_[k]);
      if (magnitude_[k] < peak_[k] * kCollapse) resum(k);
    }
    return sum_of(k);
  }

  // After a collapse (rare): a pass over the ring.
  void resum(int k) {
    since_resum_[k] = 0;
    double sum = 0.0, magnitude = 0.0;
    rings_[k].each_oldest([&](double value) {
      sum += value;
      magnitude += std::fabs(value);
    });
    sum_[k] = sum;
    magnitude_[k] = magnitude;
    peak_[k] = magnitude;
    fresh_sum_[k] = fresh_magnitude_[k] = 0.0;
  }

  // Bars from .. stop - 1 of a run (all rings full) where every value entering or leaving is
  // finite. Where a sum's values are also all >= 0 and its magnitudes equal it bit for bit, |x| is x and
  // the magnitude chains would repeat the sum chains: only the sum is added. The step's other
  // operations are kept as they are; a bar leaving the ring is read from a copy of it (oldest
  // first), later ones from the run's values. If a sum collapses, nothing is committed and false
  // is returned (the bars then take run_between).
  bool run_unchecked(const double* const* values, size_t from, size_t stop, double* const* sums,
                     const RunFacts* facts) {
    const size_t n = stop - from;
    bool fast = true;
    bool negative[K];        // among the values the run adds
    bool own_magnitude[K];   // the magnitudes are added apart from the sum
    unrolled<K>([&](int k) {
      fast &= rings_[k].capacity() <= kLongestCopied;
      int read_by = k;  // the first sum reading this input array
      for (int e = k - 1; e >= 0; --e) read_by = values[e] == values[k] ? e : read_by;
      if (facts) {
        fast &= facts->finite[k];
        negative[k] = facts->negative[k];
      } else if (read_by == k) {
        fast &= scan(values[k] + from, n, negative[k]);
      } else {
        negative[k] = negative[read_by];
      }
    });
    if (!fast) return false;
    const double* ring_copy[K];
    unrolled<K>([&](int k) {
      std::vector<double>& copy = history_[k];
      copy.resize(rings_[k].capacity());
      size_t at = 0;
      rings_[k].each_oldest([&](double value) { copy[at++] = value; });
      bool ring_negative;
      fast &= scan(copy.data(), copy.size(), ring_negative);
      own_magnitude[k] = negative[k] | ring_negative | !bits_equal(sum_[k], magnitude_[k]) |
                         !bits_equal(fresh_sum_[k], fresh_magnitude_[k]);
      ring_copy[k] = copy.data();
      if (own_magnitude[k]) magnitudes_[k].resize(n);
    });
    if (!fast) return false;
    double sum[K], fresh_sum[K], magnitude[K], fresh_magnitude[K];
    int64_t until_resum[K];  // bars up to and including the next scheduled re-adding
    size_t last_resum[K];    // the run's bar of the last one (n: none)
    unrolled<K>([&](int k) {
      sum[k] = sum_[k];
      fresh_sum[k] = fresh_sum_[k];
      magnitude[k] = magnitude_[k];
      fresh_magnitude[k] = fresh_magnitude_[k];
      until_resum[k] = static_cast<int64_t>(rings_[k].capacity()) - since_resum_[k];
      last_resum[k] = n;
    });
    // Stretches of the run within which each sum's leaving values come from one array: the
    // copy of its ring for its first `capacity` bars, the run's values after. What the loop
    // reads of the members is in locals: its stores could alias them, so it would reload them.
    const auto run = [&](auto magnitudes) {
      // Bit k of Mask: sum k adds its magnitudes; -1: own_magnitude says, read every bar.
      constexpr int Mask = decltype(magnitudes)::value;
      const auto adds_magnitude = [&](int k) {
        if constexpr (Mask < 0)
          return own_magnitude[k];
        else
          return ((Mask >> k) & 1) != 0;
      };
      double* magnitude_out[K];
      int64_t capacity[K];
      unrolled<K>([&](int k) {
        magnitude_out[k] = own_magnitude[k] ? magnitudes_[k].data() : nullptr;
        capacity[k] = static_cast<int64_t>(rings_[k].capacity());
      });
      for (size_t lo = 0; lo < n;) {
        const double* leaving[K];
        const size_t hi = leaving_stretch(lo, n, capacity, ring_copy, values, from, leaving);
        for (size_t i = lo; i < hi; ++i) {
          unrolled<K>([&](int k) {
            const double value = values[k][from + i];
            fresh_sum[k] += value;
            if (adds_magnitude(k)) fresh_magnitude[k] += std::fabs(value);
            if (--until_resum[k] == 0) {
              until_resum[k] = capacity[k];
              last_resum[k] = i;
              sum[k] = fresh_sum[k];
              fresh_sum[k] = 0.0;
              if (adds_magnitude(k)) {
                magnitude[k] = fresh_magnitude[k];
                fresh_magnitude[k] = 0.0;
              }
            } else {
              sum[k] += value;
              sum[k] -= leaving[k][i];
              if (adds_magnitude(k)) {
                magnitude[k] += std::fabs(value);
                magnitude[k] -= std::fabs(leaving[k][i]);
              }
            }
            sums[k][from + i] = sum[k];
            if (adds_magnitude(k)) magnitude_out[k][i] = magnitude[k];
          });
        }
        lo = hi;
      }
    };
    // A loop for each choice of the sums adding magnitudes (few sums), so that it tests none of
    // them per bar.
    int mask = 0;
    unrolled<K>([&](int k) { mask |= static_cast<int>(own_magnitude[k]) << k; });
    if (mask == 0) {
      bool paired = false;
#if defined(VELK_CLASSIC_LANES)
      paired = run_paired(values, from, n, sums, ring_copy, sum, fresh_sum, until_resum, last_resum);
#endif
      if (!paired) run(std::integral_constant<int, 0>{});
    } else if constexpr (K <= 3) {
      [&]<int... Masks>(std::integer_sequence<int, Masks...>) {
        ((mask == Masks ? run(std::integral_constant<int, Masks>{}) : void()), ...);
      }(std::make_integer_sequence<int, 1 << K>{});
    } else {
      run(std::integral_constant<int, -1>{});
    }
    const double* tracked[K];
    const double* run_values[K];
    unrolled<K>([&](int k) {
      tracked[k] = own_magnitude[k] ? magnitudes_[k].data() : sums[k] + from;
      run_values[k] = values[k] + from;
    });
    return finish_run(run_values, n, tracked, own_magnitude, sum, fresh_sum, magnitude, fresh_magnitude, until_resum,
                      last_resum);
  }
#if defined(VELK_CLASSIC_LANES)
 public:
  // A fast run of two sums of one length and schedule, the first's values signed (cmf's money
  // flows and volumes), whose values are computed inside the loop stepping the sums and whose
  // sums are handed on as each block of four bars has them: the caller's divisions then run in
  // the shadow of the sums' chains (two dependent additions a bar), where passes of their own
  // before and after the chains would add to the chains' time. The chains step as the four lanes
  // of one vector: the two sums, the first's magnitude and the second's (which is its sum, so
  // never read), each lane the step's scalar operations in its order.
  //   produce(i, values): values[k] of bars i .. i + 3 (lanes of V); false if the caller refuses
  //     them (the run is then declined when it ends);
  //   consume(i, sums): sums[k] of those bars.
  // n is a multiple of four. False where the values, the state or a bound refuse the run: nothing
  // is committed (consume may have been called for any of its bars).
  template <class V, class Produce, class Consume>
  bool run_fused(size_t n, Produce&& produce, Consume&& consume) {
    static_assert(K == 2 && lane_width<V> == 4);
    using Mask = LaneVectors<4>::Mask;
    const size_t capacity = rings_[0].capacity();
    if (n == 0 || n % 4 != 0 || !rings_[0].full() || !rings_[1].full() || rings_[1].capacity() != capacity ||
        capacity > kLongestCopied || since_resum_[0] != since_resum_[1])
      return false;
    // Each bar's lanes, the rings' bars oldest first and then the run's: bar i's leaving ones are
    // quad i.
    std::vector<double>& quad_history = history_[0];
    quad_history.resize(4 * (capacity + n));
    double* const quads = quad_history.data();
    bool ring_finite = true, ring_negative = false;
    unrolled<2>([&](int k) {
      size_t at = 0;
      rings_[k].each_oldest([&](double value) {
        quads[4 * at + k] = value;
        quads[4 * at + 2 + k] = std::fabs(value);
        ++at;
        ring_finite &= std::fabs(value) <= std::numeric_limits<double>::max();
        ring_negative |= k == 1 && value < 0.0;
      });
    });
    if (!ring_finite || ring_negative || !bits_equal(sum_[1], magnitude_[1]) ||
        !bits_equal(fresh_sum_[1], fresh_magnitude_[1]))
      return false;
    std::vector<double>& values_kept = history_[1];  // each sum's run values, for its ring
    values_kept.resize(2 * n);
    double* const values_of[2] = {values_kept.data(), values_kept.data() + n};
    V sum = {sum_[0], sum_[1], magnitude_[0], magnitude_[1]};
    V fresh = {fresh_sum_[0], fresh_sum_[1], fresh_magnitude_[0], fresh_magnitude_[1]};
    // The bounds finish_run takes from the magnitudes (lane 2: the first sum's; lane 1: the
    // second's, its sum), as the run goes: the smallest, the peak (the largest since the last
    // re-adding, or with the peak before the run) and the largest of the peaks.
    V lowest = splat<V>(std::numeric_limits<double>::infinity()), most = {0.0, peak_[1], peak_[0], 0.0}, peak = most;
    const Mask sizes = {-1, -1, std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::max()};
    int64_t until = static_cast<int64_t>(capacity) - since_resum_[0];
    bool accepted = true;
    // The values a block ahead: their divisions' latency, were they on the chains' way, would add
    // to the chains' (the out-of-order window does not reach that far on its own).
    V ahead[2], behind[2];
    accepted &= produce(0, ahead);
    for (size_t i = 0; i < n; i += 4) {
      const V values[2] = {ahead[0], ahead[1]};
      if (i + 4 < n) accepted &= produce(i + 4, ahead);
      if (!accepted) [[unlikely]] return false;  // the rest of the run would be thrown away
      std::memcpy(values_of[0] + i, &values[0], sizeof(V));
      std::memcpy(values_of[1] + i, &values[1], sizeof(V));
      // Bar j's value of each sum in lanes 0 and 1, again in lanes 2 and 3 for their sizes.
      const V both[4] = {__builtin_shufflevector(values[0], values[1], 0, 4, 0, 4),
                         __builtin_shufflevector(values[0], values[1], 1, 5, 1, 5),
                         __builtin_shufflevector(values[0], values[1], 2, 6, 2, 6),
                         __builtin_shufflevector(values[0], values[1], 3, 7, 3, 7)};
      V windows[4];
      unrolled<4>([&](int j) {
        const V value = (V)((Mask)both[j] & sizes);
        std::memcpy(quads + 4 * (capacity + i + j), &value, sizeof(V));
        V leaving;
        std::memcpy(&leaving, quads + 4 * (i + j), sizeof(V));
        fresh += value;
        if (--until == 0) [[unlikely]] {
          until = static_cast<int64_t>(capacity);
          sum = fresh;
          fresh = V{};
          most = peak > most ? peak : most;
          peak = sum;
        } else {
          sum += value;
          sum -= leaving;
          peak = sum > peak ? sum : peak;
        }
        lowest = sum < lowest ? sum : lowest;
        windows[j] = sum;
      });
      // The block before this one handed on only now, so that its divisions start behind this
      // block's chains rather than hold back what comes after them.
      if (i > 0) consume(i - 4, behind);
      const V low = __builtin_shufflevector(windows[0], windows[1], 0, 4, 1, 5);
      const V high = __builtin_shufflevector(windows[2], windows[3], 0, 4, 1, 5);
      behind[0] = __builtin_shufflevector(low, high, 0, 1, 4, 5);
      behind[1] = __builtin_shufflevector(low, high, 2, 3, 6, 7);
    }
    consume(n - 4, behind);
    most = peak > most ? peak : most;
    if (!accepted) return false;
    bool fast = true;
    unrolled<2>([&](int k) {
      bool negative;
      fast &= scan(values_of[k], n, negative);
      if (k == 1) fast &= !negative;
    });
    if (!fast) return false;
    const double* const run_values[2] = {values_of[0], values_of[1]};
    const bool own_magnitude[2] = {true, false};
    const double sums[2] = {sum[0], sum[1]}, fresh_sums[2] = {fresh[0], fresh[1]};
    const double magnitudes[2] = {sum[2], sum[3]}, fresh_magnitudes[2] = {fresh[2], fresh[3]};
    const double lowests[2] = {lowest[2], lowest[1]}, mosts[2] = {most[2], most[1]}, peaks[2] = {peak[2], peak[1]};
    const int64_t untils[2] = {until, until};
    return commit_run(run_values, n, lowests, mosts, peaks, own_magnitude, sums, fresh_sums, magnitudes,
                      fresh_magnitudes, untils);
  }

 private:
#endif
  // The end of a fast run of n bars: the bounds of each sum's magnitude at each bar (`tracked`:
  // the magnitudes, or the sums where they are the magnitudes), for commit_run.
  bool finish_run(const double* const* run_values, size_t n, const double* const* tracked, const bool* own_magnitude,
                  const double* sum, const double* fresh_sum, const double* magnitude, const double* fresh_magnitude,
                  const int64_t* until_resum, const size_t* last_resum) {
    double lowest[K], most[K], peak[K];
    unrolled<K>([&](int k) {
      const double* run = tracked[k];
      double highest;
      bounds(run, n, lowest[k], highest);
      most[k] = std::max(highest, peak_[k]);
      if (last_resum[k] == n) {
        peak[k] = most[k];
      } else {
        double ignored;
        bounds(run + last_resum[k], n - last_resum[k], ignored, peak[k]);
      }
    });
    return commit_run(run_values, n, lowest, most, peak, own_magnitude, sum, fresh_sum, magnitude, fresh_magnitude,
                      until_resum);
  }
  // The step's peak (the largest magnitude since the last re-adding) never exceeds the larger of
  // the peak before the run and the run's largest magnitude (`most`): where the run's smallest
  // magnitude is at least kCollapse times that, no bar collapses, and the state after the run is
  // committed (`peak`: the peak after it). False where a bar may collapse: nothing committed.
  // The same test settles the step's other one, a window all zeros (whose sum the step gives as
  // 0, not as its running sum): such a window's magnitude is only the rounding left by the
  // additions since the last re-adding, each off by at most 2^-53 of a magnitude at most twice
  // `most`, so at most 3 * 1024 * 2 * 2^-53 * most (rings longer than 1,024 never get here), far
  // below kCollapse * most. Where `most` is 0 every value was +-0, and the chains' sums are +0 as
  // the step's 0.
  bool commit_run(const double* const* run_values, size_t n, const double* lowest, const double* most,
                  const double* peak, const bool* own_magnitude, const double* sum, const double* fresh_sum,
                  const double* magnitude, const double* fresh_magnitude, const int64_t* until_resum) {
    bool fast = true;
    unrolled<K>([&](int k) { fast &= !(lowest[k] < most[k] * kCollapse); });
    if (!fast) return false;
    unrolled<K>([&](int k) {
      rings_[k].push_many(run_values[k], n);
      sum_[k] = sum[k];
      fresh_sum_[k] = fresh_sum[k];
      magnitude_[k] = own_magnitude[k] ? magnitude[k] : sum[k];
      fresh_magnitude_[k] = own_magnitude[k] ? fresh_magnitude[k] : fresh_sum[k];
      peak_[k] = peak[k];
      int64_t nonzero = 0;
      rings_[k].each_oldest([&](double value) { nonzero += value != 0.0; });
      nonzero_[k] = nonzero;
      since_resum_[k] = static_cast<int64_t>(rings_[k].capacity()) - until_resum[k];
    });
    return true;
  }
  // The end of the stretch of run_unchecked's bars from `lo` (of n) within which each sum's
  // leaving values come from one array: the copy of its ring for its first `capacity` bars, the
  // run's values after (into `leaving`). N sums, or N pairs of sums interleaved (Stride 2).
  template <int N = K, size_t Stride = 1>
  static size_t leaving_stretch(size_t lo, size_t n, const int64_t* capacity, const double* const* ring_copy,
                                const double* const* values, size_t from, const double** leaving) {
    size_t hi = n;
    unrolled<N>([&](int k) {
      const size_t length = static_cast<size_t>(capacity[k]);
      if (lo < length) {
        hi = std::min(hi, length);
        leaving[k] = ring_copy[k];
      } else {
        leaving[k] = values[k] + Stride * from - Stride * length;
      }
    });
    return hi;
  }
#if defined(VELK_CLASSIC_LANES)
  // run_unchecked's loop where no sum adds its magnitudes and sums k and k + K / 2 have one
  // length and one schedule of re-addings (ultosc's buying pressure and true range over a
  // period; vortex's two movements, its true range alone): each such pair as the two lanes of a
  // vector, each lane the loop's scalar operations in their order, so half the additions.
  // Returns false (nothing done) where the pairs differ.
  bool run_paired(const double* const* values, size_t from, size_t n, double* const* sums,
                  const double* const* ring_copy, double* sum, double* fresh_sum, int64_t* until_resum,
                  size_t* last_resum) const {
    constexpr int H = K / 2;
    // Not for fewer than three sums: cmf's two, whose money flows are signed (so its fast runs
    // add magnitudes and never reach here), would only lengthen its compile.
    if constexpr (K < 3) {
      return false;
    } else {
      bool paired = true;
      unrolled<H>([&](int p) {
        paired &= rings_[p].capacity() == rings_[p + H].capacity() && until_resum[p] == until_resum[p + H];
      });
      if (!paired) return false;
      Lanes pair_sum[H], pair_fresh[H];
      int64_t until[K], capacity[K];
      unrolled<K>([&](int k) {
        until[k] = until_resum[k];
        capacity[k] = static_cast<int64_t>(rings_[k].capacity());
      });
      unrolled<H>([&](int p) {
        pair_sum[p] = Lanes{sum[p], sum[p + H]};
        pair_fresh[p] = Lanes{fresh_sum[p], fresh_sum[p + H]};
      });
      constexpr int S = K - 1;  // the sum left alone when K is odd
      double single_sum = sum[S], single_fresh = fresh_sum[S];
      for (size_t lo = 0; lo < n;) {
        const double* leaving[K];
        const size_t hi = leaving_stretch(lo, n, capacity, ring_copy, values, from, leaving);
        for (size_t i = lo; i < hi; ++i) {
          unrolled<H>([&](int p) {
            const Lanes value = {values[p][from + i], values[p + H][from + i]};
            pair_fresh[p] += value;
            if (--until[p] == 0) {
              until[p] = capacity[p];
              last_resum[p] = last_resum[p + H] = i;
              pair_sum[p] = pair_fresh[p];
              pair_fresh[p] = Lanes{};
            } else {
              pair_sum[p] += value;
              pair_sum[p] -= Lanes{leaving[p][i], leaving[p + H][i]};
            }
            sums[p][from + i] = pair_sum[p][0];
            sums[p + H][from + i] = pair_sum[p][1];
          });
          if constexpr (K % 2 == 1) {
            const double value = values[S][from + i];
            single_fresh += value;
            if (--until[S] == 0) {
              until[S] = capacity[S];
              last_resum[S] = i;
              single_sum = single_fresh;
              single_fresh = 0.0;
            } else {
              single_sum += value;
              single_sum -= leaving[S][i];
            }
            sums[S][from + i] = single_sum;
          }
        }
        lo = hi;
      }
      unrolled<H>([&](int p) {
        sum[p] = pair_sum[p][0], sum[p + H] = pair_sum[p][1];
        fresh_sum[p] = pair_fresh[p][0], fresh_sum[p + H] = pair_fresh[p][1];
        until_resum[p] = until[p], until_resum[p + H] = until[p];
      });
      if constexpr (K % 2 == 1) {
        sum[S] = single_sum, fresh_sum[S] = single_fresh;
        until_resum[S] = until[S];
      }
      return true;
    }
  }
#endif
#if defined(VELK_CLASSIC_LANES)
  // push_run_pairs' fast run: run_unchecked's checks and run_paired's loop on interleaved pairs,
  // each lane the scalar operations in their order (so the bits of push_run). Returns false with
  // nothing changed where the steps must be taken. A largest sum of zero (either sign) is left to
  // them too, whose bounds choose between +0 and -0 as they always have.
  bool run_pairs_unchecked(const double* const* pair_values, size_t n, double* const* pair_sums) {
    constexpr int H = K / 2;
    bool fast = true;
    unrolled<K>([&](int k) {
      fast &= rings_[k].full() && rings_[k].capacity() <= kLongestCopied && bits_equal(sum_[k], magnitude_[k]) &&
              bits_equal(fresh_sum_[k], fresh_magnitude_[k]);
    });
    unrolled<H>([&](int p) {
      fast &= rings_[p].capacity() == rings_[p + H].capacity() && since_resum_[p] == since_resum_[p + H];
    });
    if (!fast) return false;
    bool negative[H];
    unrolled<H>([&](int p) {
      int read_by = p;  // the first pair reading this array
      for (int e = p - 1; e >= 0; --e) read_by = pair_values[e] == pair_values[p] ? e : read_by;
      if (read_by == p) {
        fast &= scan(pair_values[p], 2 * n, negative[p]);
      } else {
        negative[p] = negative[read_by];
      }
      fast &= !negative[p];
    });
    if (!fast) return false;
    // Each pair's rings interleaved, oldest first: the leaving values of its first `capacity` bars.
    const double* ring_copy[H];
    int64_t capacity[H], until[H];
    size_t last_resum[H];  // the run's bar of the last scheduled re-adding (n: none)
    unrolled<H>([&](int p) {
      const size_t length = rings_[p].capacity();
      std::vector<double>& copy = history_[p];
      copy.resize(2 * length);
      size_t at = 0;
      rings_[p].each_oldest([&](double value) { copy[at++ * 2] = value; });
      at = 0;
      rings_[p + H].each_oldest([&](double value) { copy[at++ * 2 + 1] = value; });
      bool ring_negative;
      fast &= scan(copy.data(), copy.size(), ring_negative);
      fast &= !ring_negative;  // a window all zeros is refused by the bounds (its sums collapse)
      ring_copy[p] = copy.data();
      capacity[p] = static_cast<int64_t>(length);
      until[p] = capacity[p] - since_resum_[p];
      last_resum[p] = n;
    });
    if (!fast) return false;
    Lanes pair_sum[H], pair_fresh[H];
    unrolled<H>([&](int p) {
      pair_sum[p] = Lanes{sum_[p], sum_[p + H]};
      pair_fresh[p] = Lanes{fresh_sum_[p], fresh_sum_[p + H]};
    });
    for (size_t lo = 0; lo < n;) {
      const double* leaving[H];
      const size_t hi = leaving_stretch<H, 2>(lo, n, capacity, ring_copy, pair_values, 0, leaving);
      for (size_t i = lo; i < hi; ++i) {
        unrolled<H>([&](int p) {
          const Lanes value = load_as<Lanes>(pair_values[p] + 2 * i);
          pair_fresh[p] += value;
          if (--until[p] == 0) {
            until[p] = capacity[p];
            last_resum[p] = i;
            pair_sum[p] = pair_fresh[p];
            pair_fresh[p] = Lanes{};
          } else {
            pair_sum[p] += value;
            pair_sum[p] -= load_as<Lanes>(leaving[p] + 2 * i);
          }
          store_as(pair_sums[p] + 2 * i, pair_sum[p]);
        });
      }
      lo = hi;
    }
    // As run_unchecked: no collapse where each sum's smallest is at least kCollapse times the
    // larger of its peak and its largest.
    double peak[K];
    unrolled<H>([&](int p) {
      Lanes lowest, highest;
      pair_bounds(pair_sums[p], n, lowest, highest);
      Lanes suffix_lowest, suffix_highest = highest;
      if (last_resum[p] != n) pair_bounds(pair_sums[p] + 2 * last_resum[p], n - last_resum[p], suffix_lowest, suffix_highest);
      for (int lane = 0; lane < 2; ++lane) {
        const int k = p + lane * H;
        fast &= highest[lane] != 0.0 && !(lowest[lane] < std::max(highest[lane], peak_[k]) * kCollapse);
        peak[k] = last_resum[p] == n ? std::max(highest[lane], peak_[k]) : suffix_highest[lane];
      }
    });
    if (!fast) return false;
    unrolled<K>([&](int k) {
      const int p = k % H, lane = k / H;
      const size_t length = rings_[k].capacity(), kept = std::min(n, length);
      magnitudes_[k].resize(kept);
      double* newest = magnitudes_[k].data();  // scratch: the values kept, sum k's lane apart
      for (size_t i = 0; i < kept; ++i) newest[i] = pair_values[p][2 * (n - kept + i) + lane];
      rings_[k].pass_over(n - kept);
      rings_[k].push_many(newest, kept);
      sum_[k] = magnitude_[k] = pair_sum[p][lane];
      fresh_sum_[k] = fresh_magnitude_[k] = pair_fresh[p][lane];
      peak_[k] = peak[k];
      int64_t nonzero = 0;
      rings_[k].each_oldest([&](double value) { nonzero += value != 0.0; });
      nonzero_[k] = nonzero;
      since_resum_[k] = capacity[p] - until[p];
    });
    return true;
  }
  // The smallest and largest of each lane of interleaved pairs values[0 .. 2 n - 1] (n >= 1, none
  // NaN): two bars at a time in four lanes, two such apart.
  static void pair_bounds(const double* values, size_t n, Lanes& lowest_out, Lanes& highest_out) {
    using Quad = DoubleLanes<4>;
    const Lanes first = load_as<Lanes>(values);
    Lanes lowest = first, highest = first;
    size_t i = 0;
    if (n >= 4) {
      const Quad seed = {first[0], first[1], first[0], first[1]};
      Quad low[2] = {seed, seed}, high[2] = {seed, seed};
      for (; i + 4 <= n; i += 4) {
        for (int a = 0; a < 2; ++a) {
          const Quad v = load_as<Quad>(values + 2 * i + 4 * a);
          low[a] = v < low[a] ? v : low[a];
          high[a] = v > high[a] ? v : high[a];
        }
      }
      const Quad lows = low[1] < low[0] ? low[1] : low[0], highs = high[1] > high[0] ? high[1] : high[0];
      const Lanes low_half = {lows[2], lows[3]}, high_half = {highs[2], highs[3]};
      lowest = Lanes{lows[0], lows[1]};
      highest = Lanes{highs[0], highs[1]};
      lowest = low_half < lowest ? low_half : lowest;
      highest = high_half > highest ? high_half : highest;
    }
    for (; i < n; ++i) {
      const Lanes v = load_as<Lanes>(values + 2 * i);
      lowest = v < lowest ? v : lowest;
      highest = v > highest ? v : highest;
    }
    lowest_out = lowest;
    highest_out = highest;
  }
#endif
  // The smallest and largest of values[0 .. n - 1] (n >= 1, none NaN), four pairs of lanes
  // apart so that the comparisons' latencies overlap.
  static void bounds(const double* values, size_t n, double& lowest_out, double& highest_out) {
#if defined(__x86_64__) && !defined(__clang__)
    if (widest_lane_unit() == LaneUnit::Eight) return window_sums_detail::bounds_avx512(values, n, lowest_out, highest_out);
#endif
    double lowest = values[0], highest = values[0];  // in locals, as bounds_avx512's
    size_t j = 0;
#if defined(VELK_CLASSIC_LANES)
    constexpr size_t kApart = 4;
    if (n >= kApart * lane_count) {
      Lanes low[kApart], high[kApart];
      for (size_t a = 0; a < kApart; ++a) low[a] = high[a] = load_as<Lanes>(values);
      for (; j + kApart * lane_count <= n; j += kApart * lane_count) {
        for (size_t a = 0; a < kApart; ++a) {
          const Lanes v = load_as<Lanes>(values + j + a * lane_count);
          low[a] = v < low[a] ? v : low[a];
          high[a] = v > high[a] ? v : high[a];
        }
      }
      const Lanes lows = (low[0] < low[1] ? low[0] : low[1]) < (low[2] < low[3] ? low[2] : low[3])
                             ? (low[0] < low[1] ? low[0] : low[1])
                             : (low[2] < low[3] ? low[2] : low[3]);
      const Lanes highs = (high[0] > high[1] ? high[0] : high[1]) > (high[2] > high[3] ? high[2] : high[3])
                              ? (high[0] > high[1] ? high[0] : high[1])
                              : (high[2] > high[3] ? high[2] : high[3]);
      lowest = std::min({lowest, lows[0], lows[1]});
      highest = std::max({highest, highs[0], highs[1]});
    }
#endif
    for (; j < n; ++j) {
      lowest = std::min(lowest, values[j]);
      highest = std::max(highest, values[j]);
    }
    lowest_out = lowest;
    highest_out = highest;
  }
  // Rings longer than this take run_between (a copy per run would cost more than it saves).
  static constexpr size_t kLongestCopied = 1024;

  static bool bits_equal(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }
  // Whether all of values[0 .. n - 1] are finite, and whether any is negative (-0 is not).
  static bool scan(const double* values, size_t n, bool& negative) {
#if defined(__x86_64__) && !defined(__clang__)
    if (widest_lane_unit() == LaneUnit::Eight) return window_sums_detail::scan_avx512(values, n, negative);
#endif
    constexpr double kLargest = std::numeric_limits<double>::max();
    size_t j = 0;
    bool finite = true, below = false;
#if defined(__SSE2__)
    // Masks in SSE registers (GCC lowers a vector-extension mask's `&` to a select per lane).
    __m128d every = _mm_castsi128_pd(_mm_set1_epi64x(-1)), some = _mm_setzero_pd();
    const __m128d none = _mm_setzero_pd(), largest = _mm_set1_pd(kLargest);
    for (; j + 2 <= n; j += 2) {
      const __m128d v = _mm_loadu_pd(values + j);
      const __m128d size = _mm_andnot_pd(_mm_set1_pd(-0.0), v);
      every = _mm_and_pd(every, _mm_cmple_pd(size, largest));
      some = _mm_or_pd(some, _mm_cmplt_pd(v, none));
    }
    finite = _mm_movemask_pd(every) == 0x3;
    below = _mm_movemask_pd(some) != 0;
#endif
    for (; j < n; ++j) {
      finite &= std::fabs(values[j]) <= kLargest;
      below |= values[j] < 0.0;
    }
    negative = below;
    return finite;
  }
  // Bars from .. stop - 1 (no ring wraps and no sum is re-added on schedule within them) with
  // the state in locals, all sums a bar at a time; stops after a bar where a sum collapses
  // (re-added from its ring). Returns the bars taken.
  size_t run_between(const double* const* values, size_t from, size_t stop, double* const* sums) {
    double sum[K], magnitude[K], peak[K], fresh_sum[K], fresh_magnitude[K];
    int64_t nonzero[K];
    double* slots[K];
    unrolled<K>([&](int k) {
      sum[k] = sum_[k];
      magnitude[k] = magnitude_[k];
      peak[k] = peak_[k];
      fresh_sum[k] = fresh_sum_[k];
      fresh_magnitude[k] = fresh_magnitude_[k];
      nonzero[k] = nonzero_[k];
      slots[k] = rings_[k].slots() + rings_[k].position() - from;
    });
    size_t t = from;
    bool collapsed = false;
    bool collapses[K] = {};
    for (; t < stop; ++t) {
      unrolled<K>([&](int k) {
        const double value = values[k][t];
        const double leaving = slots[k][t];
        slots[k][t] = value;
        nonzero[k] += (value != 0.0) - (leaving != 0.0);
        fresh_sum[k] += value;
        sum[k] += value;
        sum[k] -= leaving;
        fresh_magnitude[k] += std::fabs(value);
        magnitude[k] += std::fabs(value);
        magnitude[k] -= std::fabs(leaving);
        peak[k] = select_greater(magnitude[k], peak[k]);
        collapses[k] = magnitude[k] < peak[k] * kCollapse;
      });
      bool any = false;
      unrolled<K>([&](int k) { any |= collapses[k]; });
      if (any) [[unlikely]] {
        collapsed = true;
        break;
      }
      unrolled<K>([&](int k) { sums[k][t] = nonzero[k] == 0 ? 0.0 : sum[k]; });
    }
    const size_t taken = (collapsed ? t + 1 : t) - from;
    unrolled<K>([&](int k) {
      sum_[k] = sum[k];
      magnitude_[k] = magnitude[k];
      peak_[k] = peak[k];
      fresh_sum_[k] = fresh_sum[k];
      fresh_magnitude_[k] = fresh_magnitude[k];
      nonzero_[k] = nonzero[k];
      since_resum_[k] += static_cast<int64_t>(taken);
      rings_[k].advance_full(taken);
    });
    if (collapsed) {
      unrolled<K>([&](int k) {
        if (collapses[k]) resum(k);
        sums[k][t] = sum_of(k);
      });
    }
    return taken;
  }

  Ring rings_[K];
  double sum_[K] = {};
  double magnitude_[K] = {};
  double peak_[K] = {};
  double fresh_sum_[K] = {};  // sums of the values since the last re-adding
  double fresh_magnitude_[K] = {};
  int64_t nonzero_[K] = {};
  int64_t since_resum_[K] = {};
  std::vector<double> history_[K];     // scratch of run_unchecked: the rings oldest first,
  std::vector<double> magnitudes_[K];  // and the magnitudes it adds apart (not state)
};

}  // namespace velk::classic
