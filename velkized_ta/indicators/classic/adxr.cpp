// Average directional movement index rating.
#include "classic_engine/directional_states.hpp"

namespace velk::classic {
namespace {

// The last `capacity` ADX values: push_where(where, value, full) pushes where `where` holds and
// returns the oldest value held (capacity - 1 pushes back), `full` where capacity are held.
// One series: a Ring (its pickled fields). Lanes: one slot of W doubles per value, outside the
// block (the driver hands it storage, `attach`), each lane at its own position, since lanes reach
// their first ADX and skip NaN bars at different rows; where every lane is at one position the
// slot moves as one vector. A lane that does not push (or whose bar the NaN rule undoes) writes
// only the slot its next push writes again, holding a value no push reads any more.
template <class T>
class LaggedValuesOf;

template <>
class LaggedValuesOf<double> {
 public:
  explicit LaggedValuesOf(int64_t capacity) : ring_(capacity) {}
  double push_where(bool where, double value, bool& full) {
    if (where) ring_.push(value);
    full = where && ring_.full();
    return ring_.oldest(0);
  }
  template <class Archive>
  void fields(Archive& a) {
    ring_.fields(a);
  }

 private:
  Ring ring_;
};

template <LaneValues T>
class LaggedValuesOf<T> {
 public:
  explicit LaggedValuesOf(int64_t capacity) : capacity_(count_of<T>(capacity)) {}
  void attach(double* slots) { slots_ = slots; }
  VELK_LANE_INLINE T push_where(FlagOf<T> where, T value, FlagOf<T>& full) {
    constexpr int W = lane_width<T>;
    const CountOf<T> one = count_of<T>(1);
    const CountOf<T> after = position_ + one;
    const CountOf<T> next = choose(equal(after, capacity_), count_of<T>(0), after);
    T oldest;
    // Every lane writes its slot: where a lane does not push, that slot is the one its next push
    // writes, and the value there is read by no push any more.
    if (all_set(equal(position_, splat<T>(position_[0])))) {
      std::memcpy(slots_ + static_cast<ptrdiff_t>(position_[0]) * W, &value, sizeof value);
      std::memcpy(&oldest, slots_ + static_cast<ptrdiff_t>(next[0]) * W, sizeof oldest);
    } else {
      for (int k = 0; k < W; ++k) {
        slots_[static_cast<ptrdiff_t>(position_[k]) * W + k] = value[k];
        oldest[k] = slots_[static_cast<ptrdiff_t>(next[k]) * W + k];
      }
    }
    position_ = choose(where, next, position_);
    filled_ = choose(where & less(filled_, capacity_), filled_ + one, filled_);
    full = not_less(filled_, capacity_);
    return oldest;
  }

 private:
  CountOf<T> capacity_ = count_of<T>(1);
  CountOf<T> position_ = count_of<T>(0);  // the slot the next push writes
  CountOf<T> filled_ = count_of<T>(0);
  double* slots_ = nullptr;  // the same in every copy of the block: the NaN rule's blend keeps it
};

template <class T>
struct State {
  static constexpr int inputs = 3, outputs = 1;
  static constexpr bool fused_steps = true;  // its averages step by fused multiply-adds
  template <class V>
  using OnLanes = State<V>;
  explicit State(const double* params) : adx(int_param(params, 0)), recent(int_param(params, 0)) {}
  // Lanes: the slots of past ADX values each group's block needs (lanes.hpp's run_block).
  static int64_t lane_history(const double* params) { return int_param(params, 0); }
  void attach(double* slots) { recent.attach(slots); }
  VELK_LANE_INLINE FlagOf<T> step(const T* bar, T* out) {
    const FlagOf<T> ready = adx.push(bar[0], bar[1], bar[2]);
    if (!any_set(ready)) return ready;
    FlagOf<T> full;
    const T lagged = recent.push_where(ready, adx.value(), full);
    out[0] = (adx.value() + lagged) / 2.0;
    return ready & full;
  }
  template <class Archive>
  void fields(Archive& a) {
    adx.fields(a);
    recent.fields(a);
  }
  AverageDirectionalOf<T> adx;
  LaggedValuesOf<T> recent;  // the last timeperiod ADX values
};

const Registrar<State<double>> registered{Descriptor{
    "adxr", "directional", "Average directional movement rating: the mean of ADX and ADX timeperiod - 1 bars back.",
    R"(adxr = (adx[t] + adx[t - (timeperiod - 1)]) / 2, adx as in adx(high, low, close, timeperiod)

First value at 3 * timeperiod - 2 (40 with the defaults). Bars without direction leave ADX as it
was (see adx); flat prices give 0.
TA-Lib ADXR: same first value and the same ADX; values agree within 1e-12 relative.
Measured with the defaults, largest difference relative to the value (or to the output's median
size near zero): 2.1e-15 on a 10^6-bar random walk, 3.9e-15 on a level drop 1e5 -> 1.)",
    {"high", "low", "close"},
    {{"timeperiod", ParamKind::integer, 14, 2, 100000, "Wilder's smoothing period and the ADX lag + 1."}},
    {"adxr"},
    [](const double* p) { return 3 * int_param(p, 0) - 2; }}};

}  // namespace
}  // namespace velk::classic
