// Fused multiply-adds: evaluated by the CPU's FMA unit where it has one and by the
// C library's exactly rounded fma elsewhere. Both round once, so the bits agree.
#pragma once

namespace velk {

inline double fused(double a, double b, double c) { return __builtin_fma(a, b, c); }
inline float fused(float a, float b, float c) { return __builtin_fmaf(a, b, c); }

// a * b - c, rounded once. The FMA unit's fused subtract passes a NaN `c` on with its sign, where
// negating `c` first (as the library's fma needs) would flip it: a NaN `c` is returned as it is.
inline float fused_minus(float a, float b, float c) { return c != c ? c : __builtin_fmaf(a, b, -c); }

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

// The widest vector unit element-wise passes may use, decided once per process:
// AVX-512 or AVX2 where the CPU has them and VELKIZED_TA_NARROW_VECTORS is unset
// (setting it forces the build `with_fma` runs, for testing). Every lane is the
// scalar IEEE operation, so the width never changes a bit.
enum class VectorUnit { Narrow, Avx2, Avx512 };
VectorUnit widest_vector_unit();

template <class Loop>
__attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,avx2,fma"), flatten, noinline)) void run_with_avx512(
    Loop& loop) {
  loop();
}
template <class Loop>
__attribute__((target("avx2,fma"), flatten, noinline)) void run_with_avx2(Loop& loop) {
  loop();
}

// Runs an element-wise loop compiled for the widest vector unit there is.
template <class Loop>
inline void with_wide_vectors(Loop&& loop) {
  switch (widest_vector_unit()) {
    case VectorUnit::Avx512: run_with_avx512(loop); break;
    case VectorUnit::Avx2: run_with_avx2(loop); break;
    case VectorUnit::Narrow: with_fma(loop); break;
  }
}

#else

// Elsewhere the baseline instruction set decides: the compiler emits the fused
// instruction where the target has one and calls the library otherwise, and
// lowers wide vectors to the NEON or other units it has.
template <class Loop>
inline void with_fma(Loop&& loop) {
  loop();
}
template <class Loop>
inline void with_wide_vectors(Loop&& loop) {
  loop();
}

#endif

}  // namespace velk
