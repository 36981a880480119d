// The exported functions' object type: a callable carrying a function-table row,
// with the attributes of a Python function (__name__, __defaults__, __code__ ...)
// so that introspection, help(), inspect.signature() and pickling behave as usual.

#include "frame/function_object.hpp"

#include <frameobject.h>
#include <structmember.h>

#include <cstring>
#include <new>
#include <string>

#include "frame/binding.hpp"

#ifndef Py_TPFLAGS_HAVE_VECTORCALL
#define Py_TPFLAGS_HAVE_VECTORCALL _Py_TPFLAGS_HAVE_VECTORCALL
#endif

namespace velk {

namespace {

const char kSourceFile[] = "velkized_ta/velk_ta_funcs";
const char kModuleName[] = "velkized_ta.velk_ta_funcs";

struct FunctionObject {
  PyObject_HEAD
  vectorcallfunc vectorcall;
  const FunctionDef* def;
  PyObject* name;
  PyObject* qualname;
  PyObject* module;
  PyObject* doc;
  PyObject* defaults;
  PyObject* kwdefaults;
  PyObject* code;
  PyObject* globals;
  PyObject* annotations;
  PyObject* dict;
  PyObject* weakrefs;
};

FunctionObject* as_function(PyObject* self) { return reinterpret_cast<FunctionObject*>(self); }

void add_function_traceback(const FunctionDef& def) {
  std::string qualified = std::string(kModuleName) + "." + def.name;
  add_traceback(qualified.c_str(), def.line);
}

void raise_from_failure() {
  try {
    throw;
  } catch (const OutOfBounds&) {
    PyErr_Format(PyExc_IndexError, "Out of bounds on buffer access (axis %d)", 0);
  } catch (const FloatDivision&) {
    PyErr_SetString(PyExc_ZeroDivisionError, "float division");
  } catch (const PythonError&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  }
}

// Calls of the module's functions in progress on this thread, nested in each other.
// The functions nest at most three deep by themselves (ADXR, ADX, DX); a cycle made by
// rebinding siblings would otherwise recurse until the interpreter's limit, which
// on some versions, thread stack sizes and raised limits lies beyond the C stack.
thread_local int t_nesting = 0;
constexpr int kMaxNesting = 16;

const char kRecursionContext[] = " while calling a velkized_ta function";

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  const FunctionDef& def = *as_function(self)->def;
  if (t_nesting >= kMaxNesting) {
    PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", kRecursionContext);
    return nullptr;
  }
  if (Py_EnterRecursiveCall(kRecursionContext) != 0) return nullptr;
  ++t_nesting;
  PyObject* result = nullptr;
  {
    Call call(def);
    if (!bind_arguments(def, args, PyVectorcall_NARGS(nargsf), kwnames, call)) {
      add_function_traceback(def);
    } else if (type_test_arrays(def, call)) {
      try {
        call.acquire_argument_views();
        result = def.body(call);
        if (result == nullptr) throw PythonError{};
      } catch (...) {
        raise_from_failure();
        add_function_traceback(def);
      }
    }
  }
  --t_nesting;
  Py_LeaveRecursiveCall();
  return result;
}

PyObject* make_code(const FunctionDef& def) {
  Ref empty(reinterpret_cast<PyObject*>(PyCode_NewEmpty(kSourceFile, def.name, def.line)));
  if (!empty) return nullptr;
  const Py_ssize_t argcount = static_cast<Py_ssize_t>(def.params.size());
  const Py_ssize_t count = argcount + static_cast<Py_ssize_t>(def.locals.size());
  Ref varnames(PyTuple_New(count));
  if (!varnames) return nullptr;
  Py_ssize_t k = 0;
  for (const Param& p : def.params) {
    PyObject* s = PyUnicode_InternFromString(p.name);
    if (!s) return nullptr;
    PyTuple_SET_ITEM(varnames.get(), k++, s);
  }
  for (const char* local : def.locals) {
    PyObject* s = PyUnicode_InternFromString(local);
    if (!s) return nullptr;
    PyTuple_SET_ITEM(varnames.get(), k++, s);
  }
  Ref replace(PyObject_GetAttrString(empty.get(), "replace"));
  Ref kwargs(Py_BuildValue("{s:n,s:n,s:O,s:i}", "co_argcount", argcount, "co_nlocals", count, "co_varnames",
                           varnames.get(), "co_flags", CO_OPTIMIZED | CO_NEWLOCALS));
  Ref no_args(PyTuple_New(0));
  if (!replace || !kwargs || !no_args) return nullptr;
  return PyObject_Call(replace.get(), no_args.get(), kwargs.get());
}

// --- attributes -----------------------------------------------------------

PyObject* get_name(PyObject* self, void*) { return Py_NewRef(as_function(self)->name); }
PyObject* get_qualname(PyObject* self, void*) { return Py_NewRef(as_function(self)->qualname); }
PyObject* get_doc(PyObject* self, void*) { return Py_NewRef(as_function(self)->doc); }
PyObject* get_code(PyObject* self, void*) { return Py_NewRef(as_function(self)->code); }
PyObject* get_globals(PyObject* self, void*) { return Py_NewRef(as_function(self)->globals); }
PyObject* get_defaults(PyObject* self, void*) { return Py_NewRef(as_function(self)->defaults); }
PyObject* get_kwdefaults(PyObject* self, void*) { return Py_NewRef(as_function(self)->kwdefaults); }

PyObject* get_annotations(PyObject* self, void*) {
  FunctionObject* f = as_function(self);
  if (f->annotations == nullptr && (f->annotations = PyDict_New()) == nullptr) return nullptr;
  return Py_NewRef(f->annotations);
}

int replace_field(PyObject** field, PyObject* value) {
  Py_XSETREF(*field, Py_XNewRef(value));
  return 0;
}

int set_string_field(PyObject** field, PyObject* value, const char* attr) {
  if (value == nullptr || !PyUnicode_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s must be set to a string object", attr);
    return -1;
  }
  return replace_field(field, value);
}

int set_name(PyObject* self, PyObject* value, void*) {
  return set_string_field(&as_function(self)->name, value, "__name__");
}
int set_qualname(PyObject* self, PyObject* value, void*) {
  return set_string_field(&as_function(self)->qualname, value, "__qualname__");
}
int set_doc(PyObject* self, PyObject* value, void*) {
  return replace_field(&as_function(self)->doc, value ? value : Py_None);
}

// Only introspection sees these: calls always use the table's own defaults.
int set_defaults(PyObject* self, PyObject* value, void*) {
  if (value == nullptr) value = Py_None;
  if (value != Py_None && !PyTuple_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "__defaults__ must be set to a tuple object");
    return -1;
  }
  return replace_field(&as_function(self)->defaults, value);
}
int set_kwdefaults(PyObject* self, PyObject* value, void*) {
  if (value == nullptr) value = Py_None;
  if (value != Py_None && !PyDict_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "__kwdefaults__ must be set to a dict object");
    return -1;
  }
  return replace_field(&as_function(self)->kwdefaults, value);
}
int set_annotations(PyObject* self, PyObject* value, void*) {
  if (value == nullptr) value = Py_None;
  if (value != Py_None && !PyDict_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
    return -1;
  }
  return replace_field(&as_function(self)->annotations, value == Py_None ? nullptr : value);
}

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__doc__", get_doc, set_doc, nullptr, nullptr},
    {"__defaults__", get_defaults, set_defaults, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, set_kwdefaults, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {"__globals__", get_globals, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__module__", T_OBJECT, offsetof(FunctionObject, module), 0, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

// Pickled by reference: unpickling looks the function up on its module again.
PyObject* function_reduce(PyObject* self, PyObject*) { return Py_NewRef(as_function(self)->qualname); }

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* function_repr(PyObject* self) {
  return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

// Like a Python function, it binds as a method when stored on a class.
PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
  if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
  return PyMethod_New(self, obj);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
  FunctionObject* f = as_function(self);
  Py_VISIT(f->name);
  Py_VISIT(f->qualname);
  Py_VISIT(f->module);
  Py_VISIT(f->doc);
  Py_VISIT(f->defaults);
  Py_VISIT(f->kwdefaults);
  Py_VISIT(f->code);
  Py_VISIT(f->globals);
  Py_VISIT(f->annotations);
  Py_VISIT(f->dict);
  return 0;
}

int function_clear(PyObject* self) {
  FunctionObject* f = as_function(self);
  Py_CLEAR(f->name);
  Py_CLEAR(f->qualname);
  Py_CLEAR(f->module);
  Py_CLEAR(f->doc);
  Py_CLEAR(f->defaults);
  Py_CLEAR(f->kwdefaults);
  Py_CLEAR(f->code);
  Py_CLEAR(f->globals);
  Py_CLEAR(f->annotations);
  Py_CLEAR(f->dict);
  return 0;
}

void function_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  if (as_function(self)->weakrefs) PyObject_ClearWeakRefs(self);
  function_clear(self);
  PyObject_GC_Del(self);
}

PyTypeObject function_type = [] {
  PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
  t.tp_name = "velk_function";
  t.tp_basicsize = sizeof(FunctionObject);
  t.tp_dealloc = function_dealloc;
  t.tp_vectorcall_offset = offsetof(FunctionObject, vectorcall);
  t.tp_repr = function_repr;
  t.tp_call = PyVectorcall_Call;
  t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL;
  t.tp_traverse = function_traverse;
  t.tp_clear = function_clear;
  t.tp_weaklistoffset = offsetof(FunctionObject, weakrefs);
  t.tp_methods = function_methods;
  t.tp_members = function_members;
  t.tp_getset = function_getset;
  t.tp_descr_get = function_descr_get;
  t.tp_dictoffset = offsetof(FunctionObject, dict);
  return t;
}();

}  // namespace

void add_traceback(const char* qualified_name, int line) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyObject* globals = g_module_dict ? Py_NewRef(g_module_dict) : PyDict_New();
  PyCodeObject* code = nullptr;
  if (globals) code = PyCode_NewEmpty(kSourceFile, qualified_name, line);
  PyErr_Restore(type, value, traceback);
  if (code != nullptr) {
    PyFrameObject* frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
    if (frame != nullptr) {
#if PY_VERSION_HEX < 0x030B0000
      frame->f_lineno = line;
#endif
      PyTraceBack_Here(frame);
      Py_DECREF(frame);
    }
  }
  Py_XDECREF(reinterpret_cast<PyObject*>(code));
  Py_XDECREF(globals);
}

bool Call::sibling_is_own(const char* name, int levels) {
  PyObject* found = PyDict_GetItemWithError(g_module_dict, interned(name));
  if (found == nullptr) {
    PyErr_Clear();
    return false;
  }
  if (Py_TYPE(found) != &function_type || std::strcmp(as_function(found)->def->name, name) != 0) return false;
  if (t_nesting + levels > kMaxNesting) return false;
  int entered = 0;
  while (entered < levels && Py_EnterRecursiveCall(kRecursionContext) == 0) ++entered;
  for (int k = 0; k < entered; ++k) Py_LeaveRecursiveCall();
  if (entered == levels) return true;
  PyErr_Clear();
  return false;
}

int ready_function_type() { return PyType_Ready(&function_type); }

PyObject* new_function(const FunctionDef& def, PyObject* globals) {
  Ref defaults_list(PyList_New(0));
  if (!defaults_list) return nullptr;
  for (const Param& p : def.params) {
    PyObject* value = nullptr;
    switch (p.fallback.type) {
      case Default::Type::Required: continue;
      case Default::Type::None: value = Py_NewRef(Py_None); break;
      case Default::Type::Int: value = PyLong_FromLong(p.fallback.value); break;
      case Default::Type::Bool: value = PyBool_FromLong(p.fallback.value); break;
    }
    if (value == nullptr || PyList_Append(defaults_list.get(), value) != 0) {
      Py_XDECREF(value);
      return nullptr;
    }
    Py_DECREF(value);
  }
  Ref defaults(PyList_AsTuple(defaults_list.get()));
  Ref code(make_code(def));
  if (!defaults || !code) return nullptr;

  FunctionObject* f = PyObject_GC_New(FunctionObject, &function_type);
  if (f == nullptr) return nullptr;
  f->vectorcall = function_vectorcall;
  f->def = &def;
  f->name = PyUnicode_InternFromString(def.name);
  f->qualname = Py_XNewRef(f->name);
  f->module = PyUnicode_FromString(kModuleName);
  f->doc = def.doc ? PyUnicode_FromString(def.doc) : Py_NewRef(Py_None);
  f->defaults = defaults.release();
  f->kwdefaults = Py_NewRef(Py_None);
  f->code = code.release();
  f->globals = Py_NewRef(globals);
  f->annotations = nullptr;
  f->dict = nullptr;
  f->weakrefs = nullptr;
  PyObject_GC_Track(f);
  PyObject* self = reinterpret_cast<PyObject*>(f);
  if (f->name == nullptr || f->module == nullptr || f->doc == nullptr) {
    Py_DECREF(self);
    return nullptr;
  }
  return self;
}

}  // namespace velk
