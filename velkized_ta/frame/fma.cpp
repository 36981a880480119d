// The process-wide choice of the FMA unit and vector width (frame/fma.hpp). Compiled into every
// module that dispatches on them: the exact family's objects and the classic module.
#include "frame/fma.hpp"

#include <cstdlib>
#include <cstring>

namespace velk {

#if defined(__x86_64__)
bool use_fma_unit() {
  static const bool use = [] {
    const char* forced = std::getenv("VELKIZED_TA_PORTABLE_FMA");
    if (forced != nullptr && forced[0] != '\0' && forced[0] != '0') return false;
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma") != 0;
  }();
  return use;
}

VectorUnit widest_vector_unit() {
  static const VectorUnit unit = [] {
    // "avx2" stops at AVX2 (to check on an AVX-512 machine what one without it runs); any other
    // value but "0" takes the narrow build.
    const char* forced = std::getenv("VELKIZED_TA_NARROW_VECTORS");
    const bool at_most_avx2 = forced != nullptr && std::strcmp(forced, "avx2") == 0;
    if (forced != nullptr && forced[0] != '\0' && forced[0] != '0' && !at_most_avx2) return VectorUnit::Narrow;
    __builtin_cpu_init();
    if (!at_most_avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq"))
      return VectorUnit::Avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return VectorUnit::Avx2;
    return VectorUnit::Narrow;
  }();
  return unit;
}
#endif

}  // namespace velk
