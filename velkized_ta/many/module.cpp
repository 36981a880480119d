// velkized_ta._many: many series per call on native worker threads.
//
// run(index, params, out, offsets, axis, threads, numpy_arithmetic_own[, lanes_only[, live]])
// computes every series of a batch call with the native entry of declaration `index`
// (indicators/many.hpp) and returns one status byte per series: 0 done, 1 left to
// the exported function. With lanes_only, only the columns the lanes across series
// compute (many/columns.hpp) are written; every other series is left (status 1)
// without running the per-series entry: the live route takes those. With live as well,
// the lanes write what a handle opened on an empty series gives (live_columns_in_lanes
// for the functions whose handles follow the call with n_values=1). The Python layer (velkized_ta/batch.py) has validated
// the arrays and scalars and recomputes the series marked 1 with the GIL, in order.
// Work is split by series only, so no bit depends on the thread count.

#include <Python.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "driver/loop.hpp"
#include "indicators/declarations.hpp"
#include "indicators/many.hpp"
#include "many/columns.hpp"

namespace velk {
namespace {

using indicators::BatchContext;
using indicators::Workspace;

enum Status : uint8_t { kDone = 0, kExportedFunction = 1 };

// Below this many elements per thread, another thread costs more than it saves.
constexpr int64_t kElementsPerThread = 1 << 16;

// The arrays of one batch call, pinned for the whole call: each is referenced and
// exported through the buffer protocol until the frame ends, so a resize from
// another thread is refused while the workers read or write it.
class BatchFrame {
 public:
  BatchFrame() = default;
  BatchFrame(const BatchFrame&) = delete;
  BatchFrame& operator=(const BatchFrame&) = delete;
  ~BatchFrame() {
    for (int i = count_ - 1; i >= 0; --i) PyBuffer_Release(&buffers_[i]);
  }

  // The buffer of a float32 (or, for offsets, int64) array; NULL with an exception set.
  const Py_buffer* pin(PyObject* array, bool writable, bool offsets) {
    Py_buffer* buffer = &buffers_[count_];
    const int flags = PyBUF_FORMAT | PyBUF_STRIDES | (writable ? PyBUF_WRITABLE : 0);
    if (PyObject_GetBuffer(array, buffer, flags) != 0) return nullptr;
    ++count_;
    const char* format = buffer->format ? buffer->format : "B";
    if (*format == '=' || *format == '<' || *format == '@') ++format;
    const bool element_ok = offsets ? (buffer->itemsize == 8 && (std::strcmp(format, "q") == 0 || std::strcmp(format, "l") == 0))
                                    : (buffer->itemsize == 4 && std::strcmp(format, "f") == 0);
    if (!element_ok || buffer->ndim < 1 || buffer->ndim > 2) {
      PyErr_SetString(PyExc_TypeError, offsets ? "_many.run: offsets must be int64" : "_many.run: series must be float32");
      return nullptr;
    }
    return buffer;
  }

 private:
  Py_buffer buffers_[kMaxParams + 2];
  int count_ = 0;
};

// Where series j lies in an array of the call.
struct Layout {
  const int64_t* offsets = nullptr;  // segment starts of 1-D arrays, or NULL
  int axis = 0;                      // for 2-D arrays: 0 one series per column, 1 per row
  int64_t count = 0;

  FloatView series(const Py_buffer& b, int64_t j) const {
    char* base = static_cast<char*>(b.buf);
    if (offsets != nullptr) return FloatView(base + offsets[j] * b.strides[0], offsets[j + 1] - offsets[j], b.strides[0]);
    const int along = axis;       // time runs along this dimension
    const int across = 1 - axis;  // series are laid side by side along this one
    return FloatView(base + j * b.strides[across], b.shape[along], b.strides[along]);
  }
};

// One batch call's arguments, per parameter position of the declaration.
struct Arguments {
  const Py_buffer* arrays[kMaxParams] = {};  // NULL for None
  int32_t integers[kMaxParams] = {};
  bool flags[kMaxParams] = {};
  const Py_buffer* out = nullptr;
  Layout layout;
  bool lanes_only = false;
  bool live = false;
  BatchContext context;
};

// The views of one series: per parameter position, and the output.
struct SeriesViews {
  FloatView arrays[kMaxParams];
  FloatView out;
};

template <class T>
T argument_of(const Arguments& a, const SeriesViews& views, int position) {
  if constexpr (std::is_same_v<T, Series>) {
    if (a.arrays[position] == nullptr) return {Py_None, FloatView()};
    return indicators::present_series(views.arrays[position]);
  } else if constexpr (std::is_same_v<T, int32_t>) {
    return a.integers[position];
  } else if constexpr (std::is_same_v<T, bool>) {
    return a.flags[position];
  } else {
    return py_bool(a.flags[position]);  // an object parameter the layer passed as a truth value
  }
}

template <class I>
uint8_t run_series(const Arguments& a, const SeriesViews& views, Workspace& work) {
  const FloatView& out = views.out;
  // Positions are 32-bit in the exported function, which reports longer series.
  if (out.size() > INT32_MAX) return kExportedFunction;
  work.reset();
  try {
    typename I::Args args{};
    std::apply(
        [&](const auto&... fields) {
          int position = 0;
          ((args.*(fields.member) =
                argument_of<std::remove_cvref_t<decltype(args.*(fields.member))>>(a, views, position++)),
           ...);
        },
        I::params);
    indicators::compute_series<I>(args, out, work, a.context);
    return kDone;
  } catch (...) {
    return kExportedFunction;
  }
}

using SeriesEntry = uint8_t (*)(const Arguments&, const SeriesViews&, Workspace&);

template <class... I>
std::vector<SeriesEntry> entries_of(std::tuple<I...>*) {
  return {run_series<I>...};
}
const std::vector<SeriesEntry> kEntries = entries_of(static_cast<indicators::Exported*>(nullptr));

// Columns of a row-major table in lanes (many/columns.hpp): the group's arguments
// with each series' view on the group's first column, as the per-series entry takes them.
using LanesEntry = bool (*)(const Arguments&, const SeriesViews&, const indicators::GroupTables&, const ColumnGroup&,
                            int32_t, uint8_t*);

template <class I>
typename I::Args arguments_of_group(const Arguments& a, const SeriesViews& first_column) {
  typename I::Args args{};
  std::apply(
      [&](const auto&... fields) {
        int position = 0;
        ((args.*(fields.member) =
              argument_of<std::remove_cvref_t<decltype(args.*(fields.member))>>(a, first_column, position++)),
         ...);
      },
      I::params);
  return args;
}

template <class I>
bool run_lanes(const Arguments& a, const SeriesViews& first_column, const indicators::GroupTables& tables,
               const ColumnGroup& out, int32_t n, uint8_t* failed) {
  // CCI's typical price is native only while ndarray `+` and `/` are numpy's own.
  if constexpr (std::is_same_v<I, indicators::Cci>)
    if (!a.context.numpy_arithmetic_own) return false;
  return indicators::columns_in_lanes<I>(arguments_of_group<I>(a, first_column), tables, out, n, failed);
}

// A handle forms CCI's typical price natively whatever numpy's arithmetic is.
template <class I>
bool run_live_lanes(const Arguments& a, const SeriesViews& first_column, const indicators::GroupTables& tables,
                    const ColumnGroup& out, int32_t n, uint8_t* failed) {
  return indicators::live_columns_in_lanes<I>(arguments_of_group<I>(a, first_column), tables, out, n, failed);
}

template <class... I>
std::vector<LanesEntry> lanes_entries_of(std::tuple<I...>*) {
  return {(indicators::kHasColumnLanes<I> ? run_lanes<I> : nullptr)...};
}
const std::vector<LanesEntry> kLanesEntries = lanes_entries_of(static_cast<indicators::Exported*>(nullptr));

// With `live`: the live lanes where the handles follow the call with n_values=1, else the same lanes.
template <class... I>
std::vector<LanesEntry> live_lanes_entries_of(std::tuple<I...>*) {
  return {(indicators::kLiveFollowsTrailingCall<I> ? run_live_lanes<I>
           : indicators::kHasColumnLanes<I>        ? run_lanes<I>
                                                   : nullptr)...};
}
const std::vector<LanesEntry> kLiveLanesEntries = live_lanes_entries_of(static_cast<indicators::Exported*>(nullptr));

template <class... I>
std::vector<bool> whole_rows_of(std::tuple<I...>*) {
  return {indicators::kColumnLanesTakeWholeRows<I>...};
}
const std::vector<bool> kLanesTakeWholeRows = whole_rows_of(static_cast<indicators::Exported*>(nullptr));

template <class... I>
std::vector<std::vector<Kind>> kinds_of(std::tuple<I...>*) {
  std::vector<std::vector<Kind>> all;
  (all.push_back(std::apply([](const auto&... f) { return std::vector<Kind>{f.kind()...}; }, I::params)), ...);
  return all;
}
const std::vector<std::vector<Kind>> kKinds = kinds_of(static_cast<indicators::Exported*>(nullptr));

// One registry row: the declaration of I as Python data (see `registry` below).
template <class I>
PyObject* registry_row() {
  PyObject* params = PyTuple_New(std::tuple_size_v<decltype(I::params)>);
  if (params == nullptr) return nullptr;
  bool failed = false;
  std::apply(
      [&](const auto&... fields) {
        Py_ssize_t position = 0;
        auto add = [&](const Param& p) {
          static const char* const kKindNames[] = {"series", "int", "flag", "flag"};
          PyObject* row = nullptr;
          switch (p.fallback.type) {
            case Default::Type::Required: row = Py_BuildValue("{s:s,s:s}", "name", p.name, "kind", kKindNames[static_cast<int>(p.kind)]); break;
            case Default::Type::None: row = Py_BuildValue("{s:s,s:s,s:O}", "name", p.name, "kind", kKindNames[static_cast<int>(p.kind)], "default", Py_None); break;
            case Default::Type::Int: row = Py_BuildValue("{s:s,s:s,s:i}", "name", p.name, "kind", kKindNames[static_cast<int>(p.kind)], "default", p.fallback.value); break;
            case Default::Type::Bool: row = Py_BuildValue("{s:s,s:s,s:O}", "name", p.name, "kind", kKindNames[static_cast<int>(p.kind)], "default", p.fallback.value ? Py_True : Py_False); break;
          }
          if (row == nullptr) failed = true;
          else PyTuple_SET_ITEM(params, position, row);
          ++position;
        };
        (add(fields.param()), ...);
      },
      I::params);
  if (failed) {
    Py_DECREF(params);
    return nullptr;
  }
  PyObject* warm_up = I::warm_up.period == nullptr ? Py_BuildValue("(Oii)", Py_None, 0, I::warm_up.offset)
                                                   : Py_BuildValue("(sii)", I::warm_up.period, I::warm_up.scale, I::warm_up.offset);
  if (warm_up == nullptr) {
    Py_DECREF(params);
    return nullptr;
  }
  constexpr Output out = I::output;
  PyObject* bounds = out.bounded ? Py_BuildValue("(dd)", out.low, out.high) : Py_NewRef(Py_None);
  PyObject* output = bounds == nullptr ? nullptr
                                       : Py_BuildValue("{s:i,s:s,s:s,s:O,s:N,s:O}", "family", out.family, "title",
                                                       out.title, "unit", out.unit, "percent",
                                                       out.percent ? Py_True : Py_False, "bounds", bounds,
                                                       "in_price_units", out.in_price_units ? Py_True : Py_False);
  if (output == nullptr) {
    Py_DECREF(params);
    Py_DECREF(warm_up);
    return nullptr;
  }
  return Py_BuildValue("{s:s,s:N,s:N,s:s,s:N}", "name", I::name, "params", params, "warm_up", warm_up, "summary",
                       I::summary, "output", output);
}

template <class... I>
PyObject* registry_of(std::tuple<I...>*) {
  PyObject* rows[] = {registry_row<I>()...};
  PyObject* table = PyTuple_New(sizeof...(I));
  bool failed = table == nullptr;
  for (size_t i = 0; i < sizeof...(I); ++i) {
    if (rows[i] == nullptr || failed) {
      failed = true;
      Py_XDECREF(rows[i]);
    } else {
      PyTuple_SET_ITEM(table, static_cast<Py_ssize_t>(i), rows[i]);
    }
  }
  if (failed) {
    Py_XDECREF(table);
    if (!PyErr_Occurred()) PyErr_NoMemory();
    return nullptr;
  }
  return table;
}

PyObject* registry(PyObject*, PyObject*) { return registry_of(static_cast<indicators::Exported*>(nullptr)); }

// Series side by side in a 2-D array whose time axis is strided (one series per
// column of a row-major table) are copied a block at a time into contiguous work
// arrays, reading whole rows of the block, and their results copied back the same
// way; elsewhere the workers read and write the arrays in place.
constexpr int64_t kBlock = 64;

class Worker {
 public:
  Worker(const Arguments& a, SeriesEntry entry, LanesEntry lanes, int64_t most_columns, uint8_t* statuses)
      : a_(a), entry_(entry), lanes_(lanes), most_columns_(most_columns), statuses_(statuses) {}

  void run_block(int64_t first, int64_t last) {
    if (lanes_ != nullptr && a_.layout.offsets == nullptr && a_.layout.axis == 0 && strided(*a_.out) &&
        run_block_in_lanes(first, last))
      return;
    if (a_.lanes_only) {
      std::fill(statuses_ + first, statuses_ + last, kExportedFunction);
      return;
    }
    for (int64_t part = first; part < last; part += kBlock) run_series_block(part, std::min(part + kBlock, last));
  }

 private:
  void run_series_block(int64_t first, int64_t last) {
    SeriesViews views;
    if (a_.layout.offsets != nullptr || !strided(*a_.out)) {
      for (int64_t j = first; j < last; ++j) {
        for (int p = 0; p < kMaxParams; ++p)
          if (a_.arrays[p] != nullptr) views.arrays[p] = a_.layout.series(*a_.arrays[p], j);
        views.out = a_.layout.series(*a_.out, j);
        statuses_[j] = entry_(a_, views, work_);
      }
      return;
    }
    const int64_t n = a_.out->shape[a_.layout.axis];
    for (int p = 0; p < kMaxParams; ++p)
      if (a_.arrays[p] != nullptr && strided(*a_.arrays[p])) copy_block(*a_.arrays[p], first, last, n, copies_[p], true);
    out_.resize(static_cast<size_t>((last - first) * n));
    for (int64_t j = first; j < last; ++j) {
      const int64_t b = j - first;
      for (int p = 0; p < kMaxParams; ++p) {
        if (a_.arrays[p] == nullptr) continue;
        views.arrays[p] = strided(*a_.arrays[p]) ? contiguous(copies_[p], b, n) : a_.layout.series(*a_.arrays[p], j);
      }
      views.out = contiguous(out_, b, n);
      statuses_[j] = entry_(a_, views, work_);
    }
    copy_block(*a_.out, first, last, n, out_, false);
  }

  bool strided(const Py_buffer& b) const { return b.strides[a_.layout.axis] != sizeof(float); }

  // Columns first .. last-1 in lanes (many/columns.hpp), reading and writing the table's
  // rows in place; columns the lanes leave take the per-series entry on their strided
  // views (or, marked so, go straight to the exported function). False (nothing written) when
  // the parameters take the per-series path.
  bool run_block_in_lanes(int64_t first, int64_t last) {
    const int64_t n = a_.out->shape[0];
    if (n > INT32_MAX || last - first > most_columns_) return false;
    const int count = static_cast<int>(last - first);
    SeriesViews first_column;
    indicators::GroupTables tables;
    for (int p = 0; p < kMaxParams; ++p) {
      if (a_.arrays[p] == nullptr) continue;
      first_column.arrays[p] = a_.layout.series(*a_.arrays[p], first);
      // Two arguments starting at one address but laid out apart would be told apart by nothing.
      for (int q = 0; q < p; ++q)
        if (a_.arrays[q] != nullptr && first_column.arrays[q].data() == first_column.arrays[p].data() &&
            (a_.arrays[q]->strides[0] != a_.arrays[p]->strides[0] ||
             a_.arrays[q]->strides[1] != a_.arrays[p]->strides[1]))
          return false;
      tables.add(first_column.arrays[p], group_of(*a_.arrays[p], first, count));
    }
    failed_.assign(static_cast<size_t>(count), 0);
    if (!lanes_(a_, first_column, tables, group_of(*a_.out, first, count), static_cast<int32_t>(n), failed_.data()))
      return false;
    for (int k = 0; k < count; ++k) {
      statuses_[first + k] = kDone;
      if (!failed_[k]) continue;
      if (a_.lanes_only || (failed_[k] & 2)) {
        statuses_[first + k] = kExportedFunction;
      } else {
        run_series_in_place(first + k, first + k + 1);
      }
    }
    return true;
  }

  ColumnGroup group_of(const Py_buffer& b, int64_t j0, int count) const {
    return {Rows{static_cast<char*>(b.buf) + j0 * b.strides[1], b.strides[0], b.strides[1]}, count};
  }

  void run_series_in_place(int64_t first, int64_t last) {
    SeriesViews views;
    for (int64_t j = first; j < last; ++j) {
      for (int p = 0; p < kMaxParams; ++p)
        if (a_.arrays[p] != nullptr) views.arrays[p] = a_.layout.series(*a_.arrays[p], j);
      views.out = a_.layout.series(*a_.out, j);
      statuses_[j] = entry_(a_, views, work_);
    }
  }

  static FloatView contiguous(std::vector<float>& storage, int64_t b, int64_t n) {
    return FloatView(reinterpret_cast<char*>(storage.data() + b * n), n, sizeof(float));
  }

  // Series first .. last-1 of `array` to (or from) `storage`, one series after another.
  void copy_block(const Py_buffer& array, int64_t first, int64_t last, int64_t n, std::vector<float>& storage,
                  bool in) const {
    const int64_t width = last - first;
    storage.resize(static_cast<size_t>(width * n));
    const int64_t along = array.strides[a_.layout.axis];
    const int64_t across = array.strides[1 - a_.layout.axis];
    char* base = static_cast<char*>(array.buf) + first * across;
    float* data = storage.data();
    // Tiles of a few rows: whole rows of the block are read, runs of each series written.
    constexpr int64_t kRows = 8;
    for (int64_t i0 = 0; i0 < n; i0 += kRows) {
      const int64_t rows = std::min(kRows, n - i0);
      for (int64_t b = 0; b < width; ++b) {
        char* column = base + i0 * along + b * across;
        float* run = data + b * n + i0;
        for (int64_t r = 0; r < rows; ++r) {
          if (in) {
            std::memcpy(run + r, column + r * along, sizeof(float));
          } else {
            std::memcpy(column + r * along, run + r, sizeof(float));
          }
        }
      }
    }
  }

  const Arguments& a_;
  SeriesEntry entry_;
  LanesEntry lanes_;
  int64_t most_columns_;
  uint8_t* statuses_;
  std::vector<uint8_t> failed_;
  Workspace work_;
  std::vector<float> copies_[kMaxParams];
  std::vector<float> out_;
};

// Columns in lanes go a block at a time too: each thread's share of the columns, up to
// `most` (kMostColumns, or any number for element-wise functions, which then read whole
// rows of a table as they lie in memory), so that one row of a block spans as many
// vectors as it can.
int64_t lanes_block(int64_t count, int threads, int64_t most) {
  const int64_t share = (count + threads - 1) / threads;
  return std::clamp<int64_t>((share + 15) / 16 * 16, 16, most);
}

void run_all(const Arguments& a, SeriesEntry entry, LanesEntry lanes, bool whole_rows, int threads,
             uint8_t* statuses) {
  std::atomic<int64_t> next{0};
  const bool columns = a.layout.offsets == nullptr && a.layout.axis == 0;
  // Column counts stay within ColumnGroup's int.
  const int64_t most_columns = whole_rows ? int64_t{1} << 30 : kMostColumns;
  const int64_t block = lanes != nullptr && columns ? lanes_block(a.layout.count, threads, most_columns) : kBlock;
  auto work = [&] {
    Worker worker(a, entry, lanes, most_columns, statuses);
    for (int64_t first; (first = next.fetch_add(block, std::memory_order_relaxed)) < a.layout.count;)
      worker.run_block(first, std::min(first + block, a.layout.count));
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(work);
    } catch (...) {
      break;  // fewer threads: the same results
    }
  }
  work();
  for (std::thread& t : pool) t.join();
}

PyObject* run(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs < 7 || nargs > 9) {
    PyErr_SetString(PyExc_TypeError, "_many.run takes 7 to 9 arguments");
    return nullptr;
  }
  const long index = PyLong_AsLong(args[0]);
  if (index == -1 && PyErr_Occurred()) return nullptr;
  if (index < 0 || index >= static_cast<long>(kEntries.size()) || !PyTuple_Check(args[1])) {
    PyErr_SetString(PyExc_ValueError, "_many.run: unknown declaration or parameters not a tuple");
    return nullptr;
  }
  const std::vector<Kind>& kinds = kKinds[index];
  PyObject* params = args[1];
  if (PyTuple_GET_SIZE(params) != static_cast<Py_ssize_t>(kinds.size())) {
    PyErr_SetString(PyExc_ValueError, "_many.run: wrong number of parameters");
    return nullptr;
  }
  BatchFrame frame;
  Arguments a;
  for (size_t p = 0; p < kinds.size(); ++p) {
    PyObject* value = PyTuple_GET_ITEM(params, p);
    switch (kinds[p]) {
      case Kind::Array:
        if (value != Py_None && (a.arrays[p] = frame.pin(value, false, false)) == nullptr) return nullptr;
        break;
      case Kind::Int: {
        const long v = PyLong_AsLong(value);
        if (v == -1 && PyErr_Occurred()) return nullptr;
        if (v < INT32_MIN || v > INT32_MAX) {
          PyErr_SetString(PyExc_OverflowError, "_many.run: integer parameter out of range");
          return nullptr;
        }
        a.integers[p] = static_cast<int32_t>(v);
        break;
      }
      case Kind::Bool:
      case Kind::Object: {
        const int truth = PyObject_IsTrue(value);
        if (truth < 0) return nullptr;
        a.flags[p] = truth != 0;
        break;
      }
    }
  }
  if ((a.out = frame.pin(args[2], true, false)) == nullptr) return nullptr;
  const int expected_ndim = args[3] == Py_None ? 2 : 1;
  if (args[3] != Py_None) {
    const Py_buffer* offsets = frame.pin(args[3], false, true);
    if (offsets == nullptr) return nullptr;
    if (offsets->ndim != 1 || offsets->strides[0] != 8 || offsets->shape[0] < 1) {
      PyErr_SetString(PyExc_ValueError, "_many.run: offsets must be a contiguous 1-D array");
      return nullptr;
    }
    a.layout.offsets = static_cast<const int64_t*>(offsets->buf);
    a.layout.count = offsets->shape[0] - 1;
  } else {
    const long axis = PyLong_AsLong(args[4]);
    if (axis == -1 && PyErr_Occurred()) return nullptr;
    a.layout.axis = axis == 1 ? 1 : 0;
    a.layout.count = a.out->ndim == 2 ? a.out->shape[1 - a.layout.axis] : 0;
  }
  for (size_t p = 0; p < kinds.size(); ++p) {
    const Py_buffer* b = a.arrays[p];
    bool same = b == nullptr || b->ndim == a.out->ndim;
    for (int d = 0; same && b != nullptr && d < b->ndim; ++d) same = b->shape[d] == a.out->shape[d];
    if (!same || a.out->ndim != expected_ndim) {
      PyErr_SetString(PyExc_ValueError, "_many.run: series shapes disagree with the output");
      return nullptr;
    }
  }
  if (a.layout.offsets != nullptr) {
    for (int64_t j = 0; j < a.layout.count; ++j) {
      if (a.layout.offsets[j] < 0 || a.layout.offsets[j] > a.layout.offsets[j + 1] ||
          a.layout.offsets[a.layout.count] > a.out->shape[0]) {
        PyErr_SetString(PyExc_ValueError, "_many.run: offsets must be ascending within the series");
        return nullptr;
      }
    }
  }
  const long requested = PyLong_AsLong(args[5]);
  if (requested == -1 && PyErr_Occurred()) return nullptr;
  const int truth = PyObject_IsTrue(args[6]);
  if (truth < 0) return nullptr;
  a.context.numpy_arithmetic_own = truth != 0;
  if (nargs >= 8) {
    const int lanes_only = PyObject_IsTrue(args[7]);
    if (lanes_only < 0) return nullptr;
    a.lanes_only = lanes_only != 0;
  }
  if (nargs == 9) {
    const int live = PyObject_IsTrue(args[8]);
    if (live < 0) return nullptr;
    // Live values come from the lanes or from the handles, never from the per-series entry.
    if (live != 0 && !a.lanes_only) {
      PyErr_SetString(PyExc_ValueError, "_many.run: live values take lanes_only");
      return nullptr;
    }
    a.live = live != 0;
  }

  PyObject* result = PyBytes_FromStringAndSize(nullptr, a.layout.count);
  if (result == nullptr) return nullptr;
  auto* statuses = reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(result));
  const int64_t elements = a.out->len / 4;
  const int64_t useful = std::max<int64_t>(1, elements / kElementsPerThread);
  const int threads = static_cast<int>(std::clamp<int64_t>(requested, 1, std::min<int64_t>(useful, std::max<int64_t>(a.layout.count, 1))));
  {
    GilRelease unlocked(true);
    const LanesEntry lanes = a.live ? kLiveLanesEntries[index] : kLanesEntries[index];
    run_all(a, kEntries[index], lanes, kLanesTakeWholeRows[index], std::min(threads, 256), statuses);
  }
  return result;
}

// The positions i (0 < i < n) where element i of a 1-D buffer of fixed-size elements differs
// from element i - 1 in its bytes.
template <class Word>
void collect_run_starts(const char* base, Py_ssize_t n, Py_ssize_t stride, std::vector<int64_t>& starts) {
  auto at = [&](Py_ssize_t i) {
    Word w;
    std::memcpy(&w, base + i * stride, sizeof w);
    return w;
  };
  Py_ssize_t i = 1;
  if (stride == static_cast<Py_ssize_t>(sizeof(Word)) && reinterpret_cast<uintptr_t>(base) % sizeof(Word) == 0) {
    // Runs are long: a block without a change is passed over in one vectorised test.
    const Word* words = reinterpret_cast<const Word*>(base);
    constexpr Py_ssize_t kBlock = 64;
    for (; i + kBlock <= n; i += kBlock) {
      Word changed = 0;  // bitwise, which the baseline build vectorises for every width
      for (Py_ssize_t k = 0; k < kBlock; ++k) changed |= static_cast<Word>(words[i + k] ^ words[i + k - 1]);
      if (changed == 0) continue;
      for (Py_ssize_t k = 0; k < kBlock; ++k)
        if (words[i + k] != words[i + k - 1]) starts.push_back(i + k);
    }
  }
  for (; i < n; ++i)
    if (at(i) != at(i - 1)) starts.push_back(i);
}

// run_starts(keys) -> bytes of int64: where a new run of equal keys begins (the front-ends'
// grouping of a long table), in one pass without the GIL.
PyObject* run_starts(PyObject*, PyObject* keys) {
  Py_buffer b;
  if (PyObject_GetBuffer(keys, &b, PyBUF_STRIDES) != 0) return nullptr;
  if (b.ndim != 1 || (b.itemsize != 1 && b.itemsize != 2 && b.itemsize != 4 && b.itemsize != 8)) {
    PyBuffer_Release(&b);
    PyErr_SetString(PyExc_ValueError, "_many.run_starts: keys must be 1-D with elements of 1, 2, 4 or 8 bytes");
    return nullptr;
  }
  std::vector<int64_t> starts;
  bool out_of_memory = false;
  {
    GilRelease unlocked(true);
    try {
      const char* base = static_cast<const char*>(b.buf);
      switch (b.itemsize) {
        case 1: collect_run_starts<uint8_t>(base, b.shape[0], b.strides[0], starts); break;
        case 2: collect_run_starts<uint16_t>(base, b.shape[0], b.strides[0], starts); break;
        case 4: collect_run_starts<uint32_t>(base, b.shape[0], b.strides[0], starts); break;
        default: collect_run_starts<uint64_t>(base, b.shape[0], b.strides[0], starts); break;
      }
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  }
  PyBuffer_Release(&b);
  if (out_of_memory) return PyErr_NoMemory();
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(starts.data()),
                                   static_cast<Py_ssize_t>(starts.size() * sizeof(int64_t)));
}

// Columns k0 .. k1 - 1 (at most 64) of the table to or from their series. Taken, in tiles of 16
// rows: each column's 16 elements of a tile fill one cache line of its series, while the tile's
// table rows stay in L1. Put back, row by row: each row of the table is written left to right,
// while the 64 series' current lines stay in L1 (measured faster each way than the other order).
template <bool kTake>
void move_column_block(char* table, const int64_t* offsets, int64_t row_stride, char* series, int64_t series_stride,
                       int64_t element_stride, int64_t n, int64_t k0, int64_t k1) {
  if constexpr (kTake) {
    constexpr int64_t kRowsPerTile = 16;
    for (int64_t i0 = 0; i0 < n; i0 += kRowsPerTile) {
      const int64_t i1 = std::min(n, i0 + kRowsPerTile);
      for (int64_t k = k0; k < k1; ++k) {
        const char* column = table + offsets[k];
        char* elements = series + k * series_stride;
        for (int64_t i = i0; i < i1; ++i)
          std::memcpy(elements + i * element_stride, column + i * row_stride, sizeof(float));
      }
    }
  } else {
    for (int64_t i = 0; i < n; ++i) {
      char* row = table + i * row_stride;
      const char* at = series + i * element_stride;
      for (int64_t k = k0; k < k1; ++k) std::memcpy(row + offsets[k], at + k * series_stride, sizeof(float));
    }
  }
}

// take_columns(table, columns, into): into[k, i] = table[i, columns[k]]; put_columns(out, columns,
// values): out[i, columns[k]] = values[k, i]. The columns a batch call leaves to the exact function
// go out and come back through these: numpy's fancy indexing of a row-major table walks each
// column down the rows, a cache line per element.
PyObject* move_columns(PyObject* args, bool take) {
  PyObject *table_object, *columns_object, *series_object;
  if (!PyArg_ParseTuple(args, "OOO", &table_object, &columns_object, &series_object)) return nullptr;
  BatchFrame frame;
  const Py_buffer* table = frame.pin(table_object, !take, false);
  if (table == nullptr) return nullptr;
  const Py_buffer* columns = frame.pin(columns_object, false, true);
  if (columns == nullptr) return nullptr;
  const Py_buffer* series = frame.pin(series_object, take, false);
  if (series == nullptr) return nullptr;
  const int64_t n = table->ndim == 2 ? table->shape[0] : -1;
  const int64_t count = columns->shape[0];
  if (table->ndim != 2 || columns->ndim != 1 || series->ndim != 2 || series->shape[0] != count ||
      series->shape[1] != n) {
    PyErr_SetString(PyExc_ValueError, "_many: columns move between a 2-D table and (len(columns), rows) series");
    return nullptr;
  }
  std::vector<int64_t> offsets;  // of each column in a row
  try {
    offsets.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  for (int64_t k = 0; k < count; ++k) {
    int64_t c;
    std::memcpy(&c, static_cast<const char*>(columns->buf) + k * columns->strides[0], sizeof c);
    if (c < 0 || c >= table->shape[1]) {
      PyErr_SetString(PyExc_IndexError, "_many: column index out of range");
      return nullptr;
    }
    offsets[static_cast<size_t>(k)] = c * table->strides[1];
  }
  {
    GilRelease unlocked(true);
    constexpr int64_t kColumnsPerBlock = 64;
    char* const table_base = static_cast<char*>(table->buf);
    char* const series_base = static_cast<char*>(series->buf);
    for (int64_t k0 = 0; k0 < count; k0 += kColumnsPerBlock) {
      const int64_t k1 = std::min(count, k0 + kColumnsPerBlock);
      if (take)
        move_column_block<true>(table_base, offsets.data(), table->strides[0], series_base, series->strides[0],
                                series->strides[1], n, k0, k1);
      else
        move_column_block<false>(table_base, offsets.data(), table->strides[0], series_base, series->strides[0],
                                 series->strides[1], n, k0, k1);
    }
  }
  Py_RETURN_NONE;
}
PyObject* take_columns(PyObject*, PyObject* args) { return move_columns(args, true); }
PyObject* put_columns(PyObject*, PyObject* args) { return move_columns(args, false); }

PyMethodDef methods[] = {
    {"run", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(run)), METH_FASTCALL,
     "run(index, params, out, offsets, axis, threads, numpy_arithmetic_own[, lanes_only[, live]]) -> bytes of "
     "statuses"},
    {"run_starts", run_starts, METH_O,
     "run_starts(keys) -> bytes of int64: the positions 0 < i < n where element i of a 1-D buffer of 1, 2, 4 or "
     "8-byte elements differs in its bytes from element i - 1."},
    {"take_columns", take_columns, METH_VARARGS,
     "take_columns(table, columns, into): into[k, i] = table[i, columns[k]] (float32; columns int64)."},
    {"put_columns", put_columns, METH_VARARGS,
     "put_columns(out, columns, values): out[i, columns[k]] = values[k, i] (float32; columns int64)."},
    {"registry", registry, METH_NOARGS,
     "The exported functions' declarations in export order: dicts with name, params (dicts with name, kind "
     "'series', 'int' or 'flag', and default when there is one), warm_up (period or None, scale, offset), "
     "summary (the stub's docstring) and output (the catalogue's family, title, unit, percent, bounds, "
     "in_price_units)."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_many", "Many series per call on native worker threads.", -1,
                          methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace velk

PyMODINIT_FUNC PyInit__many(void) { return PyModule_Create(&velk::module_def); }
