// The lane count of the classic family's column lanes (classic_engine/lanes.hpp): the process-wide
// vector unit of frame/fma.hpp, so both families read VELKIZED_TA_NARROW_VECTORS and the CPU alike.
#include "classic_engine/lanes.hpp"

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

}  // namespace velk::classic
