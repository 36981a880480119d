// Exponential smoothing: EMA and the indicators composed from it by calls.
//
// velk_ema is the only place that smooths. Every other function here obtains
// its stages from the module's current `velk_ema` (so rebinding it on the module
// changes what they compute). While that is the module's own function and no stage
// call could fail or run Python code, a composite carries all its stages in one
// native pass (OnePass) instead of calling it; otherwise it calls it stage by stage
// and combines the returned arrays.

#include "indicators/combination_steps.hpp"
#include "indicators/declarations/dema.hpp"
#include "indicators/declarations/ema.hpp"
#include "indicators/declarations/ema2.hpp"
#include "indicators/declarations/ema3.hpp"
#include "indicators/declarations/macd.hpp"
#include "indicators/declarations/tema.hpp"
#include "indicators/declarations/trix.hpp"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "driver/lanes.hpp"
#include "driver/loop.hpp"
#include "indicators/ema.hpp"
#include "indicators/route.hpp"

namespace velk::indicators {

namespace {

// First position whose element is not NaN, or -1.
int32_t first_present(const FloatView& x, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (!is_missing(x[i])) return i;
  return -1;
}

// Position 0 .. first_written - 1 stay NaN; everything from there on is written.
template <bool kNormalize>
void ema_run(const FloatView x, const FloatView out, EmaState ema, int32_t seed, int32_t n, int32_t first_written) {
  const auto reaches = {reach(x), reach(out)};
  // The seed itself is not stepped here; positions before the first written one
  // are smoothed but not written.
  run_steps(int64_t{seed} + 1, first_written, {reach(x)}, [&](auto at, int64_t i) { ema.step(at.get(x, i)); });
  run_steps(first_written, n, reaches, [&](auto at, int64_t i) {
    const float v = at.get(x, i);
    ema.step(v);
    at.put(out, i, kNormalize ? ema.normalized(v) : ema.value);
  });
}

void ema_kernel(const FloatView x, const FloatView out, float alpha, int32_t n, int32_t n_values, bool normalize) {
  const int32_t seed = first_present(x, n);
  const EmaState ema{alpha, seed >= 0 ? x[seed] : 0.0f};
  const int32_t d = sub32(n, n_values);
  // Stepping the seed again can move it by the last bit; callers rely on that.
  // Without a seed this starts at -1, the last element, whose NaN poisons the run.
  const int32_t first_written = seed < d ? d : seed;
  fill_unwritten(out, 0, first_written);
  if (normalize) {
    ema_run<true>(x, out, ema, seed, n, first_written);
  } else {
    ema_run<false>(x, out, ema, seed, n, first_written);
  }
}

// One stage of the chain: velk_ema(source, timeperiod, normalize=...[, n_values=...]) through
// the module global, looked up now (natively on the many-series route). Without `limited` the
// stage covers the whole series.
template <class Route>
Series ema_stage(Route& route, const Series& source, int32_t n, int32_t timeperiod, bool normalize, bool limited,
                 int32_t n_values) {
  const Ema::Args stage{source, timeperiod, normalize, limited ? n_values : kWholeSeries};
  return route.template sibling<Ema>(stage, n, [&](Call& call) {
    Ref period = py_int(timeperiod);
    if (!limited) return call.call_global("velk_ema", {source.object, period.get()}, {{"normalize", py_bool(normalize)}});
    Ref limit = py_int(n_values);
    return call.call_global("velk_ema", {source.object, period.get()},
                            {{"normalize", py_bool(normalize)}, {"n_values", limit.get()}});
  });
}

template <class Route>
Series whole_stage(Route& route, const Series& source, int32_t n, int32_t timeperiod, bool normalize) {
  return ema_stage(route, source, n, timeperiod, normalize, false, 0);
}

// The last stage, velk_ema(source, timeperiod, normalize=False, n_values=n_values), as the result
// (`viewed`: after its float32 view was taken, as for a stage the body reads).
template <class Route>
void last_stage_as_result(Route& route, const Series& source, int32_t timeperiod, int32_t n_values,
                          bool viewed = false) {
  const Ema::Args stage{source, timeperiod, false, n_values};
  route.template sibling_as_result<Ema>(stage, viewed, [&](Call& call) {
    Ref period = py_int(timeperiod);
    Ref limit = py_int(n_values);
    return call.call_global("velk_ema", {source.object, period.get()},
                            {{"normalize", py_bool(false)}, {"n_values", limit.get()}});
  });
}

// The combination passes: each reads its stages at the position it writes (the
// rate of change also one before) and combines them in double where it says so.

// dema_of, tema_of and trix_ratio (the relative change) come from
// indicators/combination_steps.hpp; TRIX's relative change also in wide lanes,
// each lane the scalar computation.
inline float trix_of(float a, float b) { return trix_ratio(a, b); }
inline Wide trix_of(Wide a, Wide b) {
  const Wide numerator = a - b;
  const WideDoubles divisor = __builtin_convertvector(b, WideDoubles);
  const WideDoubles guard = divisor != 0.0 ? WideDoubles{} : WideDoubles{} + 1e-9;
  return __builtin_convertvector(__builtin_convertvector(numerator, WideDoubles) / (divisor + guard), Wide);
}

// out[i] = trix_of(out[i], out[i - 1]) for i = start .. n - 1 over stage 3 held in
// `out` from start - 1 on; from the end, so each position still reads the stage before it.
void trix_in_place(const FloatView out, int64_t start, int64_t n) {
  int64_t i = n;
  if (out.contiguous()) {
    for (; i - kWide >= start; i -= kWide)
      store_wide(out, i - kWide, trix_of(load_wide(out, i - kWide), load_wide(out, i - kWide - 1)));
  }
  while (--i >= start) out.set_unchecked(i, trix_of(out.get_unchecked(i), out.get_unchecked(i - 1)));
}

void dema_kernel(const FloatView ema1, const FloatView ema2, const FloatView out, int32_t k, int32_t n) {
  run_steps(k, n, {reach(ema1), reach(ema2), reach(out)}, [&](auto at, int64_t i) {
    const float a = at.get(ema1, i);
    at.put(out, i, dema_of(a, at.get(ema2, i)));
  });
}

void tema_kernel(const FloatView ema1, const FloatView ema2, const FloatView ema3, const FloatView out, int32_t k,
                 int32_t n) {
  run_steps(k, n, {reach(ema1), reach(ema2), reach(ema3), reach(out)}, [&](auto at, int64_t i) {
    const float a = at.get(ema1, i);
    const float b = at.get(ema2, i);
    at.put(out, i, tema_of(a, b, at.get(ema3, i)));
  });
}

// Starts at 1 or later, so the previous position is never negative.
void trix_kernel(const FloatView ema3, const FloatView out, int32_t start, int32_t n) {
  run_steps(start, n, {reach(ema3, {-1, 0}), reach(out)}, [&](auto at, int64_t k) {
    const float a = at.get(ema3, k);
    at.put(out, k, trix_of(a, at.get(ema3, k - 1)));
  });
}

// A negative start writes its first positions through the end of the arrays.
void macd_kernel(const FloatView fast_ema, const FloatView slow_ema, const FloatView out, int32_t k, int32_t n) {
  run_steps(k, n, {reach(fast_ema), reach(slow_ema), reach(out)}, [&](auto at, int64_t i) {
    const float a = at.get(fast_ema, i);
    const float b = at.get(slow_ema, i);
    at.put(out, i, a - b);
  });
}

// velk_ema fed one position at a time: seeded at the first present value, written
// from `first_written` on; the seed is stepped again only when it is written.
struct StreamedEma {
  EmaState ema;
  int32_t first_written;
  bool normalize;
  bool seeded = false;

  // The element velk_ema returns at i for input v (kUnwritten where it writes
  // nothing); false where velk_ema raises.
  bool feed(int64_t i, float v, float& element) {
    if (!seeded) {
      if (is_missing(v)) {
        element = kUnwritten;
        return true;
      }
      seeded = true;
      ema.value = v;
      if (i < first_written) {
        element = kUnwritten;
        return true;
      }
    }
    ema.step(v);
    if (i < first_written) {
      element = kUnwritten;
    } else if (!normalize) {
      element = ema.value;
    } else {
      if (v == 0.0f) return false;
      element = (ema.value - v) / v;
    }
    return true;
  }
};

// A composite's series in one pass: level 0 is the prices, higher levels are its
// stages, each either handed in or velk_ema of a lower level. The pass computes
// what the calls of velk_ema would return, element for element, without
// allocating them; it declines (and the body takes the calls) wherever a call
// could fail, warn or run Python code.
class OnePass {
 public:
  static constexpr int kLevels = 4;
  // What a level is, two bits per level in a pass's shape.
  enum Kind : unsigned { kUnused = 0, kHanded = 1, kFromBelow = 2, kFromPrices = 3 };
  static constexpr unsigned shape(Kind l0, Kind l1, Kind l2 = kUnused, Kind l3 = kUnused) {
    return l0 | l1 << 2 | l2 << 4 | l3 << 6;
  }

  explicit OnePass(int32_t n) : n_(n) {}

  void hand_in(int level, const Series& series) {
    shape_ |= kHanded << (2 * level);
    views_[level] = series.view;
    objects_[level] = series.object;
  }
  // velk_ema(level `from`, period, normalize=...), with n_values only when `limited`.
  // A stage of the prices is normalized, a stage of a stage is not.
  void compute(int level, int from, int32_t period, bool limited, int32_t n_values) {
    shape_ |= (from == 0 ? kFromPrices : kFromBelow) << (2 * level);
    float alpha = 0.0f;
    periods_ok_ = ema_alpha(period, alpha) && periods_ok_;
    limits_ok_ = limits_ok_ && (!limited || n_values >= 0);
    const int32_t d = sub32(n_, limited ? n_values : kWholeSeries);
    stages_[level] = StreamedEma{EmaState{alpha, 0.0f}, d, from == 0};
  }

  // Whether every velk_ema call the body would make is certain to succeed without running Python code.
  template <class Route>
  bool decidable(Route& route) const {
    if (n_ < 1 || !periods_ok_ || !limits_ok_) return false;
    if (!route.allocation_native() || !route.sibling_native("velk_ema", 1)) return false;
    for (int j = 0; j < kLevels; ++j) {
      if (kind(shape_, j) != kHanded) continue;
      bool feeds_stage = j + 1 < kLevels && kind(shape_, j + 1) == kFromBelow;
      for (int above = 1; j == 0 && above < kLevels; ++above) feeds_stage |= kind(shape_, above) == kFromPrices;
      // A stage call takes len() of its source, which must be numpy's own and the composite's length.
      if (feeds_stage && !route.plain_array(objects_[j], views_[j].size(), n_)) return false;
      if (views_[j].size() < n_) return false;
    }
    return true;
  }

  // Runs every level over all positions and emit(at, i, levels) at each; false
  // where a call would raise or a stage finds no seed (the calls decide then).
  // kShapes lists the shapes the caller can build.
  template <unsigned... kShapes, class Emit>
  bool run(const FloatView out, Emit&& emit) {
    bool done = false;
    ((shape_ == kShapes && (done = run_shape<kShapes>(out, emit), true)) || ...);
    return done;
  }

 private:
  static constexpr Kind kind(unsigned shape, int level) { return static_cast<Kind>((shape >> (2 * level)) & 3u); }
  bool computed(int level) const { return kind(shape_, level) >= kFromBelow; }

  // Levels read from no view reach nothing.
  Reach level_reach(int level) const {
    return kind(shape_, level) == kHanded ? reach(views_[level]) : Reach{INT64_MAX, 0, 0, true};
  }

  template <unsigned kShape, class Emit>
  bool run_shape(const FloatView out, Emit& emit) {
    const auto reaches = {level_reach(0), level_reach(1), level_reach(2), level_reach(3), reach(out)};
    // Until every stage has its seed, each is fed the general way.
    bool raises = false;
    int64_t seeded_at = -1;
    auto all_seeded = [&] {
      for (int j = 0; j < kLevels; ++j)
        if (computed(j) && !stages_[j].seeded) return false;
      return true;
    };
    if (!all_seeded()) {
      seeded_at = run_steps(0, n_, reaches, [&](auto at, int64_t i) {
        float level[kLevels];
        for (int j = 0; j < kLevels; ++j) {
          const Kind k = kind(kShape, j);
          if (k == kHanded) {
            level[j] = at.get(views_[j], i);
          } else if (k != kUnused && !stages_[j].feed(i, level[k == kFromPrices ? 0 : j - 1], level[j])) {
            raises = true;
            return false;
          }
        }
        emit(at, i, level);
        return !all_seeded();
      });
      if (raises || seeded_at == n_) return false;
    }
    // Then each stage's state lives in registers, with its value also held widened
    // (the next step and a combination in double both use it), and past every
    // stage's first written position the steps test nothing.
    Registers state;
    int64_t all_written = seeded_at + 1;
    for (int j = 0; j < kLevels; ++j) {
      state.ema[j] = stages_[j].ema;
      state.widened[j] = stages_[j].ema.value;
      state.first_written[j] = stages_[j].first_written;
      if (computed(j)) all_written = std::max<int64_t>(all_written, stages_[j].first_written);
    }
    all_written = std::min<int64_t>(all_written, n_);
    auto steps = [&](auto all_stages_written) {
      return [&](auto at, int64_t i) {
        constexpr bool kWritten = decltype(all_stages_written)::value;
        float level[kLevels];
        if (!(advance<kShape, 0, kWritten>(at, i, state, level) && advance<kShape, 1, kWritten>(at, i, state, level) &&
              advance<kShape, 2, kWritten>(at, i, state, level) && advance<kShape, 3, kWritten>(at, i, state, level))) {
          raises = true;
          return false;
        }
        emit(at, i, level);
        return true;
      };
    };
    run_steps(seeded_at + 1, all_written, reaches, steps(std::false_type{}));
    if (!raises) run_steps(all_written, n_, reaches, steps(std::true_type{}));
    return !raises;
  }

  struct Registers {
    EmaState ema[kLevels];
    double widened[kLevels];
    int32_t first_written[kLevels];
  };

  template <unsigned kShape, int J, bool kWritten, class A>
  bool advance(A, int64_t i, Registers& state, float* level) const {
    constexpr Kind k = kind(kShape, J);
    EmaState* ema = state.ema;
    if constexpr (k == kHanded) {
      level[J] = A::get(views_[J], i);
    } else if constexpr (k != kUnused) {
      const float v = level[k == kFromPrices ? 0 : J - 1];
      ema[J].step(v, state.widened[J]);
      state.widened[J] = ema[J].value;
      if (!kWritten && i < state.first_written[J]) {
        level[J] = kUnwritten;
      } else if constexpr (k == kFromPrices) {
        if (v == 0.0f) return false;
        level[J] = (ema[J].value - v) / v;
      } else {
        level[J] = ema[J].value;
      }
    }
    return true;
  }

  int32_t n_;
  unsigned shape_ = 0;
  FloatView views_[kLevels];
  PyObject* objects_[kLevels] = {};
  StreamedEma stages_[kLevels] = {};
  bool periods_ok_ = true;
  bool limits_ok_ = true;
};

constexpr auto kU = OnePass::kUnused, kH = OnePass::kHanded, kB = OnePass::kFromBelow, kP = OnePass::kFromPrices;
using Shape = OnePass;

// The composites' one-pass forms. Each states the levels its calls would produce
// and returns false where it leaves the work to the calls; the positions before
// the first written one are filled in before the pass, which writes the rest.

// velk_ema2 and velk_ema3 return their last stage as velk_ema writes it.
template <unsigned... kShapes, class Route>
bool last_stage_in_one_pass(Route& route, OnePass& pass, int top, int32_t n, int32_t n_values) {
  if (!pass.decidable(route)) return false;
  const FloatView out = route.output_written_whole(n);
  const int32_t k = std::max(sub32(n, n_values), 0);
  bool done = false;
  route.run(n, [&] {
    fill_unwritten(out, 0, k);
    done = pass.run<kShapes...>(out, [&](auto at, int64_t i, const float* level) {
      if (i >= k) at.put(out, i, level[top]);
    });
  });
  return done;
}

// Stage 3 from stage 2, stage 1 or the prices.
constexpr unsigned kChainOfThree[] = {Shape::shape(kU, kU, kH, kB), Shape::shape(kU, kH, kB, kB),
                                      Shape::shape(kH, kP, kB, kB)};

// Stage 3 of `series`, which is the stage `level` (0: the prices): the stages
// between cover the whole series, stage 3 the trailing `n_values`.
void plan_stage_three(OnePass& pass, const Series& series, int level, int32_t period, int32_t n_values) {
  pass.hand_in(level, series);
  for (int j = level + 1; j <= 3; ++j) pass.compute(j, j - 1, period, j == 3, n_values);
}

// The stages of velk_dema and velk_tema: stage j is its argument where its flag is
// set, else velk_ema of the stage below (stage 1 of the prices, which the first
// argument then holds). A computed stage is limited to the trailing window exactly
// when no computed stage is derived from it.
struct Flagged {
  bool handed;
  const Series* series;
};
void plan_chain(OnePass& pass, std::initializer_list<Flagged> stages, int32_t period, int32_t n_values) {
  const Flagged* level = stages.begin();
  for (int j = 1; j <= static_cast<int>(stages.size()); ++j, ++level) {
    if (level->handed) {
      pass.hand_in(j, *level->series);
      continue;
    }
    if (j == 1) pass.hand_in(0, *level->series);
    const bool last_computed = j == static_cast<int>(stages.size()) || level[1].handed;
    pass.compute(j, j - 1, period, last_computed, n_values);
  }
}

// Runs the pass into the result after filling positions 0 .. k - 1; false where the calls must decide.
template <unsigned... kShapes, class Route, class Combine>
bool combine_in_one_pass(Route& route, OnePass& pass, int32_t k, int32_t n, Combine combine) {
  if (!pass.decidable(route)) return false;
  const FloatView out = route.output_written_whole(n);
  bool done = false;
  route.run(n, [&] {
    fill_unwritten(out, 0, k);
    done = pass.run<kShapes...>(out, [&](auto at, int64_t i, const float* level) {
      if (i >= k) at.put(out, i, combine(level));
    });
  });
  return done;
}

// The bodies, one per function for both routes (indicators/route.hpp).

template <class Route>
void ema_body(Route& route, const Ema::Args& args) {
  const FloatView& x = args.input_array.view;
  const int32_t n = route.length(args.input_array);
  float alpha;
  if (!ema_alpha(args.timeperiod, alpha)) throw FloatDivision{};
  const FloatView out = route.output_written_whole(n);
  route.run(n, [&] { ema_kernel(x, out, alpha, n, args.n_values, args.normalize); });
}

template <class Route>
void ema2_body(Route& route, const Ema2::Args& args) {
  const int32_t n = route.length(args.input_array);
  OnePass pass(n);
  if (args.input_is_ema1) {
    pass.hand_in(1, args.input_array);
  } else {
    pass.hand_in(0, args.input_array);
    pass.compute(1, 0, args.timeperiod, false, 0);
  }
  pass.compute(2, 1, args.timeperiod, true, args.n_values);
  if (last_stage_in_one_pass<Shape::shape(kH, kP, kB), Shape::shape(kU, kH, kB)>(route, pass, 2, n, args.n_values))
    return;
  if (args.input_is_ema1) return last_stage_as_result(route, args.input_array, args.timeperiod, args.n_values);
  const Series ema1 = whole_stage(route, args.input_array, n, args.timeperiod, true);
  last_stage_as_result(route, ema1, args.timeperiod, args.n_values, true);
}

template <class Route>
void ema3_body(Route& route, const Ema3::Args& args) {
  // Only looked at when stage 2 was not handed in.
  const bool input_is_ema1 = !args.input_is_ema2 && route.truth(args.input_is_ema1);
  const int32_t n = route.length(args.input_array);
  OnePass pass(n);
  plan_stage_three(pass, args.input_array, args.input_is_ema2 ? 2 : input_is_ema1 ? 1 : 0, args.timeperiod,
                   args.n_values);
  if (last_stage_in_one_pass<kChainOfThree[0], kChainOfThree[1], kChainOfThree[2]>(route, pass, 3, n, args.n_values))
    return;
  if (args.input_is_ema2) return last_stage_as_result(route, args.input_array, args.timeperiod, args.n_values);
  if (input_is_ema1) {
    const Series ema2 = whole_stage(route, args.input_array, n, args.timeperiod, false);
    return last_stage_as_result(route, ema2, args.timeperiod, args.n_values);
  }
  const Series ema1 = whole_stage(route, args.input_array, n, args.timeperiod, true);
  const Series ema2 = whole_stage(route, ema1, n, args.timeperiod, false);
  last_stage_as_result(route, ema2, args.timeperiod, args.n_values);
}

// A stage that feeds a later computed stage covers the whole series; the last
// computed stage is limited to the trailing window.
template <class Route>
void dema_body(Route& route, const Dema::Args& args) {
  const int32_t n = route.length(args.input1);
  const int32_t k = trailing_start(0, n, args.n_values);

  if (!(args.input1_is_ema1 && args.input2_is_ema2)) {
    OnePass pass(n);
    plan_chain(pass, {{args.input1_is_ema1, &args.input1}, {args.input2_is_ema2, &args.input2}}, args.timeperiod,
               args.n_values);
    constexpr unsigned kShapes[] = {Shape::shape(kH, kP, kB), Shape::shape(kU, kH, kB), Shape::shape(kH, kP, kH)};
    if (combine_in_one_pass<kShapes[0], kShapes[1], kShapes[2]>(
            route, pass, k, n, [](const float* level) { return dema_of(level[1], level[2]); }))
      return;
  }

  const FloatView out = route.output_written_whole(n);
  // Limited only when no computed stage is derived from it.
  const Series ema1 = args.input1_is_ema1
                          ? args.input1
                          : ema_stage(route, args.input1, n, args.timeperiod, true, args.input2_is_ema2, args.n_values);
  const Series ema2 =
      args.input2_is_ema2 ? args.input2 : ema_stage(route, ema1, n, args.timeperiod, false, true, args.n_values);

  route.run(int64_t{n} - k, [&] {
    fill_unwritten(out, 0, k);
    dema_kernel(ema1.view, ema2.view, out, k, n);
  });
}

template <class Route>
void tema_body(Route& route, const Tema::Args& args) {
  const int32_t n = route.length(args.input1);
  const int32_t k = trailing_start(0, n, args.n_values);

  if (!(args.input1_is_ema1 && args.input2_is_ema2 && args.input3_is_ema3)) {
    OnePass pass(n);
    plan_chain(pass,
               {{args.input1_is_ema1, &args.input1}, {args.input2_is_ema2, &args.input2},
                {args.input3_is_ema3, &args.input3}},
               args.timeperiod, args.n_values);
    if (combine_in_one_pass<Shape::shape(kH, kP, kB, kB), Shape::shape(kH, kP, kB, kH), Shape::shape(kH, kP, kH, kB),
                            Shape::shape(kH, kP, kH, kH), Shape::shape(kU, kH, kB, kB), Shape::shape(kU, kH, kB, kH),
                            Shape::shape(kU, kH, kH, kB)>(
            route, pass, k, n, [](const float* level) { return tema_of(level[1], level[2], level[3]); }))
      return;
  }

  const FloatView out = route.output_written_whole(n);
  const Series ema1 = args.input1_is_ema1
                          ? args.input1
                          : ema_stage(route, args.input1, n, args.timeperiod, true, args.input2_is_ema2, args.n_values);
  const Series ema2 = args.input2_is_ema2
                          ? args.input2
                          : ema_stage(route, ema1, n, args.timeperiod, false, args.input3_is_ema3, args.n_values);
  const Series ema3 =
      args.input3_is_ema3 ? args.input3 : ema_stage(route, ema2, n, args.timeperiod, false, true, args.n_values);

  route.run(int64_t{n} - k, [&] {
    fill_unwritten(out, 0, k);
    tema_kernel(ema1.view, ema2.view, ema3.view, out, k, n);
  });
}

// The series' length from its view: velk_trix never takes len() of its argument.
template <class Route>
int32_t trix_length(Route& route, const Series& arr) {
  if constexpr (!Route::kExact) {
    return route.length(arr);
  } else {
    if (arr.object == Py_None) {
      PyErr_SetString(PyExc_TypeError, "velk_trix() argument 'args.arr.object' must be a numpy array, not None");
      throw PythonError{};
    }
    const int64_t size = arr.view.size();
    if (size > INT32_MAX) {
      PyErr_Format(PyExc_OverflowError, "velk_trix() supports series of at most 2147483647 elements, got %lld",
                   static_cast<long long>(size));
      throw PythonError{};
    }
    return static_cast<int32_t>(size);
  }
}

template <class Route>
void trix_body(Route& route, const Trix::Args& args) {
  const int32_t n = trix_length(route, args.arr);
  const int32_t start = trailing_start(1, n, args.n_values);
  // One position more than is written: each output reads the previous stage 3 value.
  const int32_t m = add32(args.n_values, 1);

  if (!args.input_is_ema3) {
    OnePass pass(n);
    plan_stage_three(pass, args.arr, args.input_is_ema2 ? 2 : args.input_is_ema1 ? 1 : 0, args.timeperiod, m);
    if (pass.decidable(route)) {
      const FloatView out = route.output_written_whole(n);
      bool done = false;
      // Stage 3 goes into the output from the position before the first written one,
      // and the relative changes are taken in place afterwards, in wide lanes.
      route.run(n, [&] {
        done = pass.run<kChainOfThree[0], kChainOfThree[1], kChainOfThree[2]>(out, [&](auto at, int64_t i,
                                                                                      const float* level) {
          if (i >= start - 1) at.put(out, i, level[3]);
        });
      });
      if (done) {
        route.run_wide(int64_t{n} - start, [&] {
          trix_in_place(out, start, n);
          fill_unwritten(out, 0, start);
        });
        return;
      }
    }
  }

  const FloatView out = route.output_written_whole(n);
  Series ema3 = args.arr;
  if (args.input_is_ema3) {
    // handed in
  } else if (args.input_is_ema2) {
    ema3 = ema_stage(route, args.arr, n, args.timeperiod, false, true, m);
  } else if (args.input_is_ema1) {
    const Series ema2 = whole_stage(route, args.arr, n, args.timeperiod, false);
    ema3 = ema_stage(route, ema2, n, args.timeperiod, false, true, m);
  } else {
    const Series ema1 = whole_stage(route, args.arr, n, args.timeperiod, true);
    const Series ema2 = whole_stage(route, ema1, n, args.timeperiod, false);
    ema3 = ema_stage(route, ema2, n, args.timeperiod, false, true, m);
  }

  route.run(int64_t{n} - start, [&] {
    fill_unwritten(out, 0, start);
    trix_kernel(ema3.view, out, start, n);
  });
}

template <class Route>
void macd_body(Route& route, const Macd::Args& args) {
  const int32_t n = route.length(args.input0);
  const int32_t k = trailing_start(args.long_period, n, args.n_values);

  // A negative start writes through the end of the arrays: the calls handle it.
  if (!(args.input1_is_fast_ema && args.input2_is_slow_ema) && k >= 0) {
    OnePass pass(n);
    pass.hand_in(0, args.input0);
    if (args.input1_is_fast_ema) {
      pass.hand_in(1, args.input1);
    } else {
      pass.compute(1, 0, args.short_period, true, args.n_values);
    }
    if (args.input2_is_slow_ema) {
      pass.hand_in(2, args.input2);
    } else {
      pass.compute(2, 0, args.long_period, true, args.n_values);
    }
    if (combine_in_one_pass<Shape::shape(kH, kP, kP), Shape::shape(kH, kH, kP), Shape::shape(kH, kP, kH)>(
            route, pass, k, n, [](const float* level) { return level[1] - level[2]; }))
      return;
  }

  const FloatView out = route.output_written_whole(n);
  // Each computed average takes the prices as its only positional argument and
  // keeps velk_ema's default normalization.
  auto average = [&](int32_t period) {
    const Ema::Args stage{args.input0, period, true, args.n_values};
    return route.template sibling<Ema>(stage, n, [&](Call& call) {
      Ref p = py_int(period);
      Ref limit = py_int(args.n_values);
      return call.call_global("velk_ema", {args.input0.object}, {{"timeperiod", p.get()}, {"n_values", limit.get()}});
    });
  };
  Series fast_ema, slow_ema;
  if (args.input1_is_fast_ema && args.input2_is_slow_ema) {
    fast_ema = args.input1;
    slow_ema = args.input2;
  } else if (args.input1_is_fast_ema) {
    slow_ema = average(args.long_period);
    fast_ema = args.input1;
  } else if (args.input2_is_slow_ema) {
    fast_ema = average(args.short_period);
    slow_ema = args.input2;
  } else {
    fast_ema = average(args.short_period);
    slow_ema = average(args.long_period);
  }

  route.run(int64_t{n} - k, [&] {
    fill_unwritten(out, 0, k);
    macd_kernel(fast_ema.view, slow_ema.view, out, k, n);
  });
}

}  // namespace

PyObject* Ema::run(Call& call, const Args& args) { return exact_entry(call, args, ema_body<ExactRoute>); }
PyObject* Ema2::run(Call& call, const Args& args) { return exact_entry(call, args, ema2_body<ExactRoute>); }
PyObject* Ema3::run(Call& call, const Args& args) { return exact_entry(call, args, ema3_body<ExactRoute>); }
PyObject* Dema::run(Call& call, const Args& args) { return exact_entry(call, args, dema_body<ExactRoute>); }
PyObject* Tema::run(Call& call, const Args& args) { return exact_entry(call, args, tema_body<ExactRoute>); }
PyObject* Trix::run(Call& call, const Args& args) { return exact_entry(call, args, trix_body<ExactRoute>); }
PyObject* Macd::run(Call& call, const Args& args) { return exact_entry(call, args, macd_body<ExactRoute>); }

template <>
void compute_series<Ema>(const Ema::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, ema_body<SeriesRoute>);
}
template <>
void compute_series<Ema2>(const Ema2::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, ema2_body<SeriesRoute>);
}
template <>
void compute_series<Ema3>(const Ema3::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, ema3_body<SeriesRoute>);
}
template <>
void compute_series<Dema>(const Dema::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, dema_body<SeriesRoute>);
}
template <>
void compute_series<Tema>(const Tema::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, tema_body<SeriesRoute>);
}
template <>
void compute_series<Trix>(const Trix::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, trix_body<SeriesRoute>);
}
template <>
void compute_series<Macd>(const Macd::Args& args, const FloatView& out, Workspace& work, const BatchContext& context) {
  series_entry(args, out, work, context, macd_body<SeriesRoute>);
}

}  // namespace velk::indicators
