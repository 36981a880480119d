// What a body needs from the route it runs on, so that one body serves both the exported
// function and its many-series entry: scratch positions and the way into native work. The
// exported function's route takes them from its Call (numpy allocations, `native` with the GIL
// hand-over); the many-series entry's from the worker's Workspace (`native_unlocked`, already
// without the GIL). A body is `template <class Route> void foo_body(Route&, args, out, n)`.
#pragma once

#include <cstdint>
#include <utility>

#include "driver/loop.hpp"
#include "frame/call.hpp"
#include "frame/ref.hpp"
#include "indicators/many.hpp"

namespace velk::indicators {

class ExactRoute {
 public:
  explicit ExactRoute(Call& call) : call_(call) {}

  // np.zeros(n, dtype=np.int32), held until the body's call returns.
  IntView positions(int32_t n) {
    Call::Allocated<int32_t> slots = call_.new_positions(n);
    held_[held_count_++] = std::move(slots.object);
    return slots.view;
  }
  template <class Loop>
  void run(int64_t positions, Loop&& loop) {
    native(positions, std::forward<Loop>(loop));
  }
  // An element-wise pass, from the build for the widest vector unit.
  template <class Loop>
  void run_wide(int64_t positions, Loop&& loop) {
    native_wide(positions, std::forward<Loop>(loop));
  }

 private:
  static constexpr int kMaxHeld = 2;  // the most position arrays a body takes (window extremes)
  Call& call_;
  Ref held_[kMaxHeld];
  int held_count_ = 0;
};

class SeriesRoute {
 public:
  explicit SeriesRoute(Workspace& work) : work_(work) {}

  IntView positions(int32_t n) { return work_.zero_positions(n); }
  template <class Loop>
  void run(int64_t, Loop&& loop) {
    native_unlocked(std::forward<Loop>(loop));
  }
  template <class Loop>
  void run_wide(int64_t, Loop&& loop) {
    native_unlocked(std::forward<Loop>(loop));
  }

 private:
  Workspace& work_;
};

}  // namespace velk::indicators
