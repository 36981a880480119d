// The one declaration of an exported function: its name, its parameters as typed
// members of an argument struct, the extra names its code object lists and its
// docstring. The function-table row and the conversion of bound arguments into
// that struct are both derived from it, so a body reads named members and a
// member of the wrong type for its parameter's kind does not compile.
#pragma once

#include <Python.h>

#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/call.hpp"

namespace velk {

// An Array parameter: the object as given (or None) and its float32 view, taken
// through the Call before the body runs.
struct Series {
  PyObject* object = nullptr;
  FloatView view;
};

constexpr int32_t kWholeSeries = 999999999;  // default n_values: the whole series

// Where the first value lies on a series without NaN (default n_values): `scale` times the
// period parameter named `period`, plus `offset`; `offset` alone without a period. The
// catalogue, the docs and the tests read it from the registry (`_many.registry()`).
struct WarmUp {
  const char* period = nullptr;
  int32_t scale = 1;
  int32_t offset = 0;
};

// What the output is, for the catalogue (velkized_ta/catalog.py, which documents each field): the
// family (an index into catalog.FAMILIES), title, unit, whether it reads as a percentage, its
// bounds on well-formed bars, and whether it scales with the prices.
struct Output {
  int family = 0;
  const char* title = "";
  const char* unit = "";
  bool percent = false;
  bool bounded = false;
  double low = 0.0;
  double high = 0.0;
  bool in_price_units = false;
};

// One parameter bound to the member of `Args` that receives it. The member's type
// decides how the argument is converted.
template <class Args, class T>
struct Field {
  const char* name;
  Default fallback;
  T Args::*member;

  static constexpr Kind kind() {
    if constexpr (std::is_same_v<T, Series>) {
      return Kind::Array;
    } else if constexpr (std::is_same_v<T, int32_t>) {
      return Kind::Int;
    } else if constexpr (std::is_same_v<T, bool>) {
      return Kind::Bool;
    } else {
      static_assert(std::is_same_v<T, PyObject*>, "a parameter is a Series, an int32_t, a bool or a PyObject*");
      return Kind::Object;
    }
  }
  Param param() const { return {name, kind(), fallback}; }
};

// Shorthands for declarations.
template <class Args>
constexpr Field<Args, Series> array(const char* name, Series Args::*member) {
  return {name, {}, member};
}
template <class Args>
constexpr Field<Args, Series> array(const char* name, Series Args::*member, std::nullptr_t) {
  return {name, {Default::Type::None, 0}, member};
}
template <class Args>
constexpr Field<Args, int32_t> integer(const char* name, int32_t Args::*member) {
  return {name, {}, member};
}
template <class Args>
constexpr Field<Args, int32_t> integer(const char* name, int32_t Args::*member, int32_t value) {
  return {name, {Default::Type::Int, value}, member};
}
template <class Args>
constexpr Field<Args, bool> flag(const char* name, bool Args::*member, bool value) {
  return {name, {Default::Type::Bool, value}, member};
}
// Held as given; the body converts it where it uses it.
template <class Args>
constexpr Field<Args, PyObject*> object(const char* name, PyObject* Args::*member, bool value) {
  return {name, {Default::Type::Bool, value}, member};
}

// The converted argument of parameter `position` as the member's type.
template <class T>
T converted(const Call& call, int position) {
  if constexpr (std::is_same_v<T, Series>) {
    return {call.slots().objects[position], call.slots().arrays[position]};
  } else if constexpr (std::is_same_v<T, int32_t>) {
    return call.slots().integers[position];
  } else if constexpr (std::is_same_v<T, bool>) {
    return call.slots().flags[position];
  } else {
    return call.slots().objects[position];
  }
}

// An indicator `I` declares:
//   struct Args { ... };                     the typed arguments
//   static constexpr auto params = std::tuple{array("x", &Args::x), ...};   in call order
//   static constexpr const char* name, *doc (or nullptr);
//   static constexpr const char* summary;   the stub's docstring (velk_ta_funcs.pyi)
//   static constexpr const char* locals[];  further co_varnames after the parameters
//   static constexpr int traceback_line;    the line tracebacks report for the function
//   static constexpr WarmUp warm_up;        the first value's position
//   static constexpr Output output;         what the output is, for the catalogue
//   static PyObject* run(Call&, const Args&);
template <class I>
typename I::Args bind_declared(const Call& call) {
  typename I::Args args{};
  std::apply(
      [&](const auto&... fields) {
        int position = 0;
        ((args.*(fields.member) = converted<std::remove_cvref_t<decltype(args.*(fields.member))>>(call, position++)),
         ...);
      },
      I::params);
  return args;
}

template <class I>
PyObject* run_declared(Call& call) {
  return I::run(call, bind_declared<I>(call));
}

template <class I>
FunctionDef define() {
  static_assert(std::tuple_size_v<decltype(I::params)> <= kMaxParams);
  std::vector<Param> params;
  std::apply([&](const auto&... fields) { (params.push_back(fields.param()), ...); }, I::params);
  return {I::name, std::move(params), std::vector<const char*>(std::begin(I::locals), std::end(I::locals)), I::doc,
          run_declared<I>, I::traceback_line};
}

}  // namespace velk
