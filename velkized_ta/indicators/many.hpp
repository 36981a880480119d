// One series of a many-series call, computed natively: the same kernels as the
// exported function's body, over strided views, without Python and without the
// GIL. Every path the body would hand to Python (an error to raise, a numpy
// warning, numpy's own root) throws instead, and the series is then recomputed by
// the exported function itself.
#pragma once

#include <cstdint>
#include <vector>

#include "frame/declaration.hpp"

namespace velk::indicators {

// Thrown where the body would need Python: the series takes the exported function.
struct HandToPython {};

// What the batch layer established for the whole call, with the GIL.
struct BatchContext {
  // ndarray `+` and `/` are numpy's own (the typical price may be computed natively).
  bool numpy_arithmetic_own = false;
};

// Work arrays of one worker thread, reused from series to series: stage arrays,
// work series and position queues, filled as numpy would allocate them.
class Workspace {
 public:
  void reset() { floats_used_ = ints_used_ = 0; }
  FloatView nan_series(int32_t n);   // np.full(n, np.nan, dtype=np.float32)
  FloatView zero_series(int32_t n);  // np.zeros(n, dtype=np.float32)
  IntView zero_positions(int32_t n); // np.zeros(n, dtype=np.int32)

 private:
  std::vector<std::vector<float>> floats_;
  std::vector<std::vector<int32_t>> ints_;
  size_t floats_used_ = 0;
  size_t ints_used_ = 0;
};

// The exported function I's values for one series, written into every position of
// `out` (the route puts NaN where the exported function's new output would hold it).
// Throws HandToPython, or a failure type, when the exported function must decide.
template <class I>
void compute_series(const typename I::Args& args, const FloatView& out, Workspace& work,
                    const BatchContext& context);

// NaN (np.full's bits) in positions begin .. end - 1 of `out`, clamped to its length.
void fill_nan(const FloatView& out, int64_t begin, int64_t end);

// The length the body takes of a series argument: len(None) raises.
inline int32_t length_of(const Series& series) {
  if (series.object == Py_None) throw HandToPython{};
  return static_cast<int32_t>(series.view.size());
}

// A present series argument natively: its object is only ever compared with None.
inline Series present_series(const FloatView& view) { return {Py_Ellipsis, view}; }

}  // namespace velk::indicators
