// Fused multiply-adds: evaluated by the CPU's FMA unit where it has one and by the
// C library's exactly rounded fma elsewhere. Both round once, so the bits agree.
#pragma once

namespace velk {

inline double fused(double a, double b, double c) { return __builtin_fma(a, b, c); }
inline float fused(float a, float b, float c) { return __builtin_fmaf(a, b, c); }

#if defined(__x86_64__)

// Decided once per process: the CPU has an FMA unit and the environment variable
// VELKIZED_TA_PORTABLE_FMA is unset (setting it forces the library path, for testing).
bool use_fma_unit();

template <class Loop>
__attribute__((target("fma"), flatten, noinline)) void run_with_fma_unit(Loop& loop) {
  loop();
}
template <class Loop>
__attribute__((flatten, noinline)) void run_portable(Loop& loop) {
  loop();
}

// Runs a loop that may call `fused`, compiled once for the FMA unit and once
// portably. Called by the loop driver (driver/loop.hpp, `native`) and the live handles.
template <class Loop>
inline void with_fma(Loop&& loop) {
  if (use_fma_unit()) {
    run_with_fma_unit(loop);
  } else {
    run_portable(loop);
  }
}

#else

// Elsewhere the baseline instruction set decides: the compiler emits the fused
// instruction where the target has one and calls the library otherwise.
template <class Loop>
inline void with_fma(Loop&& loop) {
  loop();
}

#endif

}  // namespace velk
