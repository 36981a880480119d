// Lanes across series for the indicators over a window's highest and lowest bars (willr, stochf,
// midpoint, midprice, donchian): the columns of a row-major table, one series per lane of a
// vector of doubles, as lanes.hpp steps recursions, with a window of `period` rows per lane.
//
// A state opts in with `template <class V> struct WindowLanes` (V a DoubleLanes<W>):
//   static constexpr int high, low: the inputs whose highest and lowest the window gives (one
//     input may be both);
//   static int64_t period(const double* params): the window's bars;
//   static bool covers(const double* params): whether the lanes give these parameters' values
//     (false: every column takes the per-series route);
//   explicit WindowLanes(const double* params);
//   FlagOf<V> finish(FlagOf<V> full, V highest, V lowest, const V* bar, V* out): the outputs from
//     the window's extremes where `full` holds (the window holds `period` real bars), each lane
//     the scalar state's operations in the same order; returns where `out` holds values.
//
// The window's extremes are those of run_window_extremes (indicator.hpp), in lanes: the rows are
// cut into blocks of `period` from row 0; a window is a suffix of one block (computed once per
// block, in place of that block's bars) and a prefix of the next (running along), and the newest
// of equal extremes wins, so every lane's extremes are its series' bits (+0 and -0 included)
// wherever its blocks start. A window inside the rows a lane has had since its first real bar
// reads only those rows, so a leading NaN run of any length is followed lane by lane. A NaN bar
// after a column's first real bar would take the bar out of that column's window (the classic NaN
// rule), which rows cannot follow: such a column is handed back, and the per-series route computes
// it whole (its lanes' values are overwritten); a group whose columns are all handed back stops.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "classic_engine/lanes.hpp"

namespace velk::classic {

// Longest window the lanes take: a block of columns keeps two windows of rows per column (about
// 16 MB at this length), and longer ones measured no faster than the per-series route.
constexpr int64_t kWindowLanesMaxPeriod = 4096;
// Most columns a block of window lanes takes at once (a worker's share goes in several).
constexpr ptrdiff_t kWindowBlockColumns = 256;

template <class State>
concept HasWindowLanes = requires { typename State::template WindowLanes<DoubleLanes<2>>; };

// The common part of a WindowLanes: the window of the first parameter's bars over inputs High
// and Low, for every parameter.
template <int High, int Low>
struct WindowOfFirstParam {
  static constexpr int high = High, low = Low;
  static int64_t period(const double* params) { return static_cast<int64_t>(params[0]); }
  static bool covers(const double*) { return true; }
  explicit WindowOfFirstParam(const double*) {}
};

// The WindowLanes of the window's midpoint, (highest + lowest) / 2 (midpoint, midprice).
template <class V, int High, int Low>
struct WindowMidpointLanes : WindowOfFirstParam<High, Low> {
  using WindowOfFirstParam<High, Low>::WindowOfFirstParam;
  VELK_LANE_INLINE FlagOf<V> finish(FlagOf<V> full, V highest, V lowest, const V*, V* out) {
    out[0] = (highest + lowest) / splat<V>(2.0);
    return full;
  }
};

namespace window_lanes_detail {

template <class V>
VELK_LANE_INLINE inline V load(const double* at) {
  V v;
  std::memcpy(&v, at, sizeof v);
  return v;
}
template <class V>
VELK_LANE_INLINE inline void save(double* at, V v) {
  std::memcpy(at, &v, sizeof v);
}

// older > newer ? older : newer per lane (maxsd's rule, as window_extremes_along takes them): the
// newer of equal values wins.
template <class V>
VELK_LANE_INLINE inline V higher(V older, V newer) {
  return choose(greater(older, newer), older, newer);
}
template <class V>
VELK_LANE_INLINE inline V lower(V older, V newer) {
  return choose(less(older, newer), older, newer);
}

// One group of W columns: real bars since its first, the lanes handed back, and the prefix of
// the current block.
template <class V>
struct Track {
  V seen = splat<V>(0.0);
  FlagOf<V> broken = flag_of<V>(false);
  V high_prefix = splat<V>(-std::numeric_limits<double>::infinity());
  V low_prefix = splat<V>(std::numeric_limits<double>::infinity());
};

}  // namespace window_lanes_detail

// SimpleAverage (indicator.hpp) in lanes, for a WindowLanes that averages its values: each lane
// pushed on every row from its first push on (the lanes hand back columns with later gaps), so one
// ring position serves all lanes and a lane's slots hold 0 until it starts, as a filling Ring
// gives. The same operations as WindowSum's push per lane, in the same order. Its ring (period
// slots of W doubles, zeroed) is the driver's (`attach`): a member owning memory would give the
// formula a constructor and destructor that clang leaves out of line, compiled for the baseline.
template <class V>
class SimpleAverageLanes {
 public:
  explicit SimpleAverageLanes(int64_t period)
      : capacity_(static_cast<size_t>(period)), period_(splat<V>(static_cast<double>(period))) {}
  static int64_t slots(int64_t period) { return period; }
  void attach(double* ring) { ring_ = ring; }

  // push(x) in the lanes where `active` holds; returns where the average is full (and pushed).
  VELK_LANE_INLINE FlagOf<V> push_where(FlagOf<V> active, V x) {
    using Flag = FlagOf<V>;
    const V zero = splat<V>(0.0);
    double* slot = ring_ + position_ * lane_width<V>;
    const V leaving = window_lanes_detail::load<V>(slot);
    window_lanes_detail::save(slot, choose(active, x, zero));
    position_ = position_ + 1 == capacity_ ? 0 : position_ + 1;
    const V fresh = fresh_ + x;
    const V since = since_ + splat<V>(1.0);
    const Flag resum = not_less(since, period_);
    sum_ = choose(active, choose(resum, fresh, (sum_ + x) - leaving), sum_);
    fresh_ = choose(active, choose(resum, zero, fresh), fresh_);
    since_ = choose(active, choose(resum, zero, since), since_);
    pushed_ = choose(active, pushed_ + splat<V>(1.0), pushed_);
    average_ = sum_ / period_;
    return not_less(pushed_, period_) & active;
  }
  VELK_LANE_INLINE V value() const { return average_; }

 private:
  double* ring_ = nullptr;
  size_t capacity_;
  size_t position_ = 0;
  V period_;
  V sum_ = splat<V>(0.0), fresh_ = splat<V>(0.0), since_ = splat<V>(0.0), pushed_ = splat<V>(0.0);
  V average_ = splat<V>(0.0);
};

namespace window_lanes_detail {

// Columns [first, first + count) of the table over `length` rows; appends the columns the lanes
// hand back to `handed_back` (their outputs are left to be overwritten).
template <class State, class V, class In, class Out>
VELK_LANE_INLINE inline void run_block(const double* params, TableArrays<const In> in, TableArrays<Out> out,
                                       ptrdiff_t length, ptrdiff_t first, ptrdiff_t count,
                                       std::vector<ptrdiff_t>& handed_back) {
  using Formula = typename State::template WindowLanes<V>;
  using Flag = FlagOf<V>;
  constexpr int W = lane_width<V>;
  constexpr int inputs = State::inputs, outputs = State::outputs;
  const ptrdiff_t n = static_cast<ptrdiff_t>(Formula::period(params));
  const int groups = static_cast<int>((count + W - 1) / W);
  // Per group and side, n + 1 vectors: the current block's bars (slots 0 .. pos) and the older
  // block's suffixes (pos + 1 .. n - 1), slot n the empty suffix.
  const ptrdiff_t side = (n + 1) * W;
  std::vector<double> slots(static_cast<size_t>(2 * side * groups));
  for (int g = 0; g < groups; ++g) {
    std::fill_n(slots.data() + 2 * side * g, side, -std::numeric_limits<double>::infinity());
    std::fill_n(slots.data() + 2 * side * g + side, side, std::numeric_limits<double>::infinity());
  }
  AlignedStates<Formula> formulas(groups, params);
  AlignedStates<Track<V>> tracks(groups);
  // A formula's own window of past values (`lane_history(params)` slots of W doubles, zeroed).
  std::vector<double> history;
  if constexpr (requires { Formula::lane_history(params); }) {
    const size_t each = static_cast<size_t>(Formula::lane_history(params)) * W;
    history.assign(each * static_cast<size_t>(groups), 0.0);
    for (int g = 0; g < groups; ++g) formulas[g].attach(history.data() + static_cast<size_t>(g) * each);
  }
  const V missing = splat<V>(std::numeric_limits<double>::quiet_NaN());
  const V full_count = splat<V>(static_cast<double>(n));
  // Groups walked together hold their windows within about half of L2; a stripe of rows at a
  // time, as lanes.hpp walks its larger states.
  const ptrdiff_t group_bytes = 2 * side * static_cast<ptrdiff_t>(sizeof(double)) + static_cast<ptrdiff_t>(sizeof(Formula));
  const int together = static_cast<int>(std::clamp<ptrdiff_t>((ptrdiff_t{1} << 17) / group_bytes, 1, groups));
  const ptrdiff_t row_bytes = count * (inputs * static_cast<ptrdiff_t>(sizeof(In)) + outputs * static_cast<ptrdiff_t>(sizeof(Out)));
  const ptrdiff_t stripe = groups > together ? std::max<ptrdiff_t>((ptrdiff_t{1} << 18) / row_bytes, 8) : length;
  constexpr ptrdiff_t kAhead = 4;
  for (ptrdiff_t top = 0; top < length; top += stripe) {
    const ptrdiff_t bottom = std::min(length, top + stripe);
    for (int from = 0; from < groups; from += together) {
      const int to = std::min(groups, from + together);
      ptrdiff_t pos = top % n;
      for (ptrdiff_t i = top; i < bottom; ++i, pos = pos + 1 == n ? 0 : pos + 1) {
        for (int g = from; g < to; ++g) {
          Track<V>& track = tracks[g];
          if (all_set(track.broken)) continue;
          const ptrdiff_t column = first + static_cast<ptrdiff_t>(g) * W;
          for (int k = 0; k < inputs; ++k)
            __builtin_prefetch(in.bases[k] + (i + kAhead) * in.rows[k] + column * in.columns[k]);
          for (int k = 0; k < outputs; ++k)
            __builtin_prefetch(out.bases[k] + (i + kAhead) * out.rows[k] + column * out.columns[k], 1);
          const int lanes = static_cast<int>(std::min<ptrdiff_t>(W, first + count - column));
          V bar[inputs];
          Flag real = flag_of<V>(true);
          for (int k = 0; k < inputs; ++k) {
            bar[k] = lanes_detail::load_row<V>(in.bases[k] + i * in.rows[k] + column * in.columns[k], in.columns[k],
                                               lanes);
            real &= equal(bar[k], bar[k]);
          }
          if (!all_set(real)) track.broken |= flag_not(real) & greater(track.seen, splat<V>(0.0));
          track.seen = choose(real, track.seen + splat<V>(1.0), track.seen);
          double* high_slots = slots.data() + 2 * side * g;
          double* low_slots = high_slots + side;
          const V high = bar[Formula::high], low = bar[Formula::low];
          track.high_prefix = higher(track.high_prefix, high);
          track.low_prefix = lower(track.low_prefix, low);
          save(high_slots + pos * W, high);
          save(low_slots + pos * W, low);
          const V highest = higher(load<V>(high_slots + (pos + 1) * W), track.high_prefix);
          const V lowest = lower(load<V>(low_slots + (pos + 1) * W), track.low_prefix);
          V values[outputs] = {};
          const Flag ready = formulas[g].finish(not_less(track.seen, full_count), highest, lowest, bar, values) & real;
          for (int k = 0; k < outputs; ++k)
            lanes_detail::store_row(out.bases[k] + i * out.rows[k] + column * out.columns[k], out.columns[k], lanes,
                                    choose(ready, values[k], missing));
          if (pos + 1 == n) {
            // The block just finished becomes the older one: its suffixes in place, newest first.
            V high_best = load<V>(high_slots + (n - 1) * W), low_best = load<V>(low_slots + (n - 1) * W);
            for (ptrdiff_t j = n - 1; j-- > 1;) {
              high_best = higher(load<V>(high_slots + j * W), high_best);
              low_best = lower(load<V>(low_slots + j * W), low_best);
              save(high_slots + j * W, high_best);
              save(low_slots + j * W, low_best);
            }
            track.high_prefix = splat<V>(-std::numeric_limits<double>::infinity());
            track.low_prefix = splat<V>(std::numeric_limits<double>::infinity());
          }
        }
      }
    }
  }
  for (int g = 0; g < groups; ++g) {
    const ptrdiff_t column = first + static_cast<ptrdiff_t>(g) * W;
    for (int k = 0; k < W && column + k < first + count; ++k)
      if (tracks[g].broken[k]) handed_back.push_back(column + k);
  }
}

}  // namespace window_lanes_detail

// Columns [first, first + count) of a row-major table: in lanes where the parameters allow,
// otherwise (and for the columns the lanes hand back) through `per_series(columns)`.
template <class State, class In, class Out, class PerSeries>
void run_window_columns(const double* params, TableArrays<const In> in, TableArrays<Out> out, ptrdiff_t length,
                        ptrdiff_t first, ptrdiff_t count, PerSeries&& per_series) {
  using Description = typename State::template WindowLanes<DoubleLanes<2>>;
  std::vector<ptrdiff_t> handed_back;
  if (Description::covers(params) && Description::period(params) <= kWindowLanesMaxPeriod) {
    // Each group's windows take (period + 1) vectors a side: blocks of kWindowBlockColumns keep
    // a worker's allocation bounded whatever its share.
    for (ptrdiff_t from = first; from < first + count; from += kWindowBlockColumns) {
      const ptrdiff_t columns = std::min(kWindowBlockColumns, first + count - from);
      with_widest_lanes<false>([&](auto lanes) VELK_LANE_INLINE {
        using V = DoubleLanes<decltype(lanes)::value>;
        window_lanes_detail::run_block<State, V, In, Out>(params, in, out, length, from, columns, handed_back);
      });
    }
  } else {
    for (ptrdiff_t j = first; j < first + count; ++j) handed_back.push_back(j);
  }
  if (!handed_back.empty()) per_series(handed_back);
}

}  // namespace velk::classic
