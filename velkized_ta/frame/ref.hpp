// Owning reference to a Python object.
#pragma once

#include <Python.h>

#include <utility>

#include "frame/compat.hpp"
#include "frame/view.hpp"

namespace velk {

class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* owned) : object_(owned) {}
  static Ref borrow(PyObject* borrowed) {
    Py_XINCREF(borrowed);
    return Ref(borrowed);
  }
  Ref(const Ref& other) : object_(other.object_) { Py_XINCREF(object_); }
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  PyObject* release() { return std::exchange(object_, nullptr); }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  PyObject* object_ = nullptr;
};

// Takes a new reference returned by the C API; NULL means a Python error is set.
inline Ref checked(PyObject* result) {
  if (result == nullptr) throw PythonError{};
  return Ref(result);
}

}  // namespace velk
