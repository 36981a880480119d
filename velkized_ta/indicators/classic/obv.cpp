// On-balance volume.
#include "classic_engine/indicator.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velk::classic {
namespace {

template <class T>
struct State {
  static constexpr int inputs = 2, outputs = 1;
  template <class V>
  using OnLanes = State<V>;
  explicit State(const double*) {}
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    const T close = bar[0], volume = bar[1];
    if (all_set(started)) {
      total = moved_total(close, volume);
    } else {
      total = choose(started, moved_total(close, volume), volume);
      started = flag_of<T>(true);
    }
    previous_close = close;
    out[0] = total;
    return flag_of<T>(true);
  }
  // total + volume on a higher close, total - volume on a lower one, else total unchanged. The
  // close's direction picks the move by masks (a coin toss on price data: as branches it
  // mispredicted every other bar), and only the addition is on the total's chain: x - v is
  // x + (-v), and x + (-0.0) is x for every x, signed zeros included, so the bits are the select's.
  VELK_LANE_INLINE T moved_total(T close, T volume) const {
    if constexpr (LaneValues<T>) {  // -0.0 in lanes as -splat(0.0): splat(-0.0) is +0.0 + -0.0
      return total + choose(greater(close, previous_close), volume,
                            choose(less(close, previous_close), -volume, -splat<T>(0.0)));
    } else {
#if defined(__SSE2__)
      const __m128d now = _mm_set_sd(close), before = _mm_set_sd(previous_close), moved = _mm_set_sd(volume);
      const __m128d higher = _mm_cmpgt_sd(now, before), lower = _mm_cmplt_sd(now, before);
      const __m128d sign = _mm_set_sd(-0.0);
      // -volume where lower, -0.0 where unchanged, volume where higher: the sign bit flipped
      // unless higher, the magnitude kept where the close moved.
      const __m128d magnitude = _mm_and_pd(_mm_or_pd(higher, lower), moved);
      const __m128d flip = _mm_andnot_pd(higher, sign);
      return total + _mm_cvtsd_f64(_mm_xor_pd(magnitude, flip));
#else
      return total + (close > previous_close ? volume : close < previous_close ? -volume : -0.0);
#endif
    }
  }
  static constexpr bool vex_loop = true;
  static constexpr ptrdiff_t run_span = 512;
  // Once started: the moves two bars at a time (the masks of moved_total in lanes), the total's
  // additions in order in a local, the NaN test riding along; a span holding a NaN bar is then
  // stepped from the members, which the pass leaves alone.
  template <class Out>
  void run_mixed(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out) {
    for (; from < to && !all_set(started); ++from) step_at(*this, in, from, out);
    if (from >= to) return;
    const double *close = in[0], *volume = in[1];
    Out* const target = out[0];
    ptrdiff_t t = from;
#if defined(VELK_CLASSIC_LANES) && defined(__SSE2__)
    if constexpr (std::is_same_v<T, double>) {
      T sum = total;
      const __m128d sign = _mm_set1_pd(-0.0);
      __m128d missing = _mm_setzero_pd(), before = _mm_set1_pd(previous_close);
      for (; t + lane_count <= to; t += lane_count) {
        const __m128d now = _mm_loadu_pd(close + t), moved = _mm_loadu_pd(volume + t);
        missing = _mm_or_pd(missing, _mm_cmpunord_pd(now, moved));
        const __m128d earlier = _mm_shuffle_pd(before, now, 1);  // {close[t - 1], close[t]}
        const __m128d higher = _mm_cmpgt_pd(now, earlier), lower = _mm_cmplt_pd(now, earlier);
        const __m128d moves = _mm_xor_pd(_mm_and_pd(_mm_or_pd(higher, lower), moved), _mm_andnot_pd(higher, sign));
        sum += _mm_cvtsd_f64(moves);
        target[t] = static_cast<Out>(sum);
        sum += _mm_cvtsd_f64(_mm_unpackhi_pd(moves, moves));
        target[t + 1] = static_cast<Out>(sum);
        before = now;
      }
      if (_mm_movemask_pd(missing) != 0) {  // the members are as the span found them
        for (t = from; t < to; ++t) step_at(*this, in, t, out);
        return;
      }
      total = sum;
      if (t > from) previous_close = close[t - 1];
    }
#endif
    for (; t < to; ++t) step_at(*this, in, t, out);
  }
  template <class Archive>
  void fields(Archive& a) {
    a(total);
    a(previous_close);
    a(started);
  }
  T total = splat<T>(0.0);
  T previous_close = splat<T>(0.0);
  FlagOf<T> started = flag_of<T>(false);
};

const Registrar<State<double>> registered{Descriptor{
    "obv", "volume", "On-balance volume: volume added on up closes, subtracted on down closes.",
    R"(obv[first] = volume[first]
obv[t] = obv[t-1] + volume[t] if close[t] > close[t-1], - volume[t] if below, unchanged if equal

First value at 0. Zero volume leaves the total unchanged.
TA-Lib OBV: same first value, identical values.
Measured with the defaults (10^6-bar random walk; level drop 1e5 -> 1): identical values.)",
    {"close", "volume"},
    {},
    {"obv"},
    [](const double*) { return int64_t{0}; }}};

}  // namespace
}  // namespace velk::classic
