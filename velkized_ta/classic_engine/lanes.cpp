// The lane count of the classic family's column lanes (classic_engine/lanes.hpp): the process-wide
// vector unit of frame/fma.hpp, so both families read VELKIZED_TA_NARROW_VECTORS and the CPU alike.
#include "classic_engine/lanes.hpp"

#include <cstdio>

namespace velk::classic {

LaneUnit widest_lane_unit() {
#if defined(__x86_64__)
  switch (widest_vector_unit()) {
    case VectorUnit::Avx512: return LaneUnit::Eight;
    case VectorUnit::Avx2: return LaneUnit::Four;
    case VectorUnit::Narrow: return LaneUnit::Two;
  }
#endif
  return LaneUnit::Two;
}

namespace {

ptrdiff_t last_level_cache_bytes() {
  ptrdiff_t largest = 0;
#if defined(__linux__)
  for (int index = 0; index < 16; ++index) {
    char path[64];
    std::snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/size", index);
    std::FILE* file = std::fopen(path, "r");
    if (!file) continue;
    long size = 0;
    char unit = 0;
    const int read = std::fscanf(file, "%ld%c", &size, &unit);
    std::fclose(file);
    if (read < 1 || size <= 0) continue;
    if (read == 2 && (unit == 'K' || unit == 'k')) size <<= 10;
    if (read == 2 && (unit == 'M' || unit == 'm')) size <<= 20;
    largest = std::max<ptrdiff_t>(largest, size);
  }
#endif
  return largest > 0 ? largest : ptrdiff_t{8} << 20;
}

}  // namespace

bool stays_cached(ptrdiff_t bytes) {
  static const ptrdiff_t cache = last_level_cache_bytes();
  return bytes <= cache;
}

}  // namespace velk::classic
