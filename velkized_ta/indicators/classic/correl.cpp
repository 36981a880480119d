// Pearson's correlation coefficient of two series over a window.
#include "classic_engine/window_moments.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velk::classic {
namespace {

// sqrt(a) * sqrt(b), the two roots in one instruction where there are lanes.
inline double root_product(double a, double b) {
#if defined(__SSE2__)
  const __m128d roots = _mm_sqrt_pd(_mm_set_pd(b, a));
  return _mm_cvtsd_f64(roots) * _mm_cvtsd_f64(_mm_unpackhi_pd(roots, roots));
#else
  return std::sqrt(a) * std::sqrt(b);
#endif
}

// The coefficient from the centred sums: 0 where either series does not vary.
inline double correlation(double xx, double yy, double xy) {
  double r = 0.0;
  if (xx > 0.0 && yy > 0.0) r = xy / root_product(xx, yy);
  return std::clamp(r, -1.0, 1.0);  // rounding may step past +-1
}
#if defined(VELK_CLASSIC_LANES)
// The same in each lane.
inline Lanes correlation(Lanes xx, Lanes yy, Lanes xy) {
  const Lanes zero = {0.0, 0.0}, low = {-1.0, -1.0}, high = {1.0, 1.0};
  const Lanes quotient = xy / (square_root(xx) * square_root(yy));
  const Lanes r = (xx > zero) & (yy > zero) ? quotient : zero;
  return r < low ? low : (high < r ? high : r);
}
#if defined(__x86_64__) && !defined(__clang__)
// In four lanes, for the AVX2 copy: the same selections as blends (r, not a NaN, is kept unless
// beyond a bound).
__attribute__((target("avx2,fma"))) inline DoubleLanes<4> correlation(DoubleLanes<4> xx, DoubleLanes<4> yy, DoubleLanes<4> xy) {
  const __m256d zero = _mm256_setzero_pd(), low = _mm256_set1_pd(-1.0), high = _mm256_set1_pd(1.0);
  const __m256d quotient = _mm256_div_pd((__m256d)xy, _mm256_mul_pd(_mm256_sqrt_pd((__m256d)xx), _mm256_sqrt_pd((__m256d)yy)));
  const __m256d varies = _mm256_and_pd(_mm256_cmp_pd((__m256d)xx, zero, _CMP_GT_OQ), _mm256_cmp_pd((__m256d)yy, zero, _CMP_GT_OQ));
  const __m256d r = _mm256_and_pd(quotient, varies);  // +0 where either does not vary
  const __m256d capped = _mm256_blendv_pd(r, high, _mm256_cmp_pd(high, r, _CMP_LT_OQ));
  return (DoubleLanes<4>)_mm256_blendv_pd(capped, low, _mm256_cmp_pd(r, low, _CMP_LT_OQ));
}
#endif
#endif

struct State {
  static constexpr int inputs = 2, outputs = 1;
  static constexpr bool vex_loop = true;
  static constexpr int vex_lane_width = 4;
  explicit State(const double* params) : moments(int_param(params, 0)) {}
  bool step(const double* bar, double* out) {
    const bool ready = moments.push(bar[0], bar[1]);
    out[0] = correlation(moments.centred_xx(), moments.centred_yy(), moments.centred_xy());
    return ready;
  }
  // Once the window's pairs are also in the inputs before the run: WindowCoMoments::run_full.
  template <class Out, int Width = 2>
  void run_real(const double* const* in, ptrdiff_t from, ptrdiff_t to, Out* const* out, ptrdiff_t real_before) {
    const ptrdiff_t start = from, reach = static_cast<ptrdiff_t>(moments.period());
    for (; from < to && !(moments.full() && real_before + (from - start) >= reach); ++from) step_at(*this, in, from, out);
    if (from == to) return;
    Out* target = out[0] + from;
    moments.run_full<Width>(in[0] + from, in[1] + from, to - from, [&](ptrdiff_t i, auto xx, auto yy, auto xy) {
      store_across_spans(target, i, reach, correlation(xx, yy, xy));
    });
  }
  template <class Archive>
  void fields(Archive& a) {
    moments.fields(a);
  }
  WindowCoMoments moments;
};

const Registrar<State> registered{Descriptor{
    "correl", "statistic", "Pearson's correlation coefficient of real0 and real1 over the last timeperiod bars.",
    R"(correl = sum((x - mean(x)) * (y - mean(y))) / sqrt(sum((x - mean(x))^2) * sum((y - mean(y))^2))
over the last timeperiod pairs, kept within -1...1.

First value at timeperiod - 1. A series that does not vary in the window (flat prices) gives 0.
The sums are kept as deviations from the window means and re-added every timeperiod bars (and at
once after a level change), so they neither drift nor cancel at high price levels.
TA-Lib CORREL: same first value and flat result; measured on 3000-bar random walks at level 1000, up
to 1e-11 relative. This one is kept within -1...1, which rounding could step past by a unit in the
last place.)",
    {"real0", "real1"},
    {{"timeperiod", ParamKind::integer, 30, 1, 100000, "Bars in the window."}},
    {"correl"},
    [](const double* p) { return int_param(p, 0) - 1; }}};

}  // namespace
}  // namespace velk::classic
