// The lane count of the classic family's column lanes (classic_engine/lanes.hpp).
#include "classic_engine/lanes.hpp"

#include <cstdlib>

namespace velk::classic {

LaneUnit widest_lane_unit() {
#if defined(__x86_64__)
  static const LaneUnit unit = [] {
    const char* forced = std::getenv("VELKIZED_TA_NARROW_VECTORS");
    if (forced != nullptr && forced[0] != '\0' && forced[0] != '0') return LaneUnit::Two;
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq"))
      return LaneUnit::Eight;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return LaneUnit::Four;
    return LaneUnit::Two;
  }();
  return unit;
#else
  return LaneUnit::Two;
#endif
}

}  // namespace velk::classic
