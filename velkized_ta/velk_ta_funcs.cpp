// velkized_ta.velk_ta_funcs: module entry, initialisation and the function table.

#include <Python.h>

#include <cstdio>

#include "frame/call.hpp"
#include "frame/function_object.hpp"
#include "frame/numpy_interface.hpp"
#include "indicators/declarations.hpp"

namespace velk {
namespace {

// One row per exported function, in export order, each derived from its declaration.
template <class... I>
std::vector<FunctionDef> define_all(std::tuple<I...>*) {
  return {define<I>()...};
}
const std::vector<FunctionDef> kFunctions = define_all(static_cast<indicators::Exported*>(nullptr));

const char kModuleName[] = "velkized_ta.velk_ta_funcs";
const char kInitTraceback[] = "init velkized_ta.velk_ta_funcs";

PyObject* g_module = nullptr;
int64_t g_main_interpreter_id = -1;
PyObject* g_range = nullptr;
PyObject* g_import_error = nullptr;

// The module belongs to the first interpreter that imports it.
int check_single_interpreter() {
  const int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (g_main_interpreter_id == -1) {
    g_main_interpreter_id = current;
    return current == -1 ? -1 : 0;
  }
  if (current != g_main_interpreter_id) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one interpreter per process.");
    return -1;
  }
  return 0;
}

int copy_spec_attribute(PyObject* spec, PyObject* module_dict, const char* from, const char* to, bool allow_none) {
  PyObject* value = PyObject_GetAttrString(spec, from);
  if (value == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
  }
  int result = 0;
  if (allow_none || value != Py_None) result = PyDict_SetItemString(module_dict, to, value);
  Py_DECREF(value);
  return result;
}

PyObject* module_create(PyObject* spec, PyModuleDef*) {
  if (check_single_interpreter() != 0) return nullptr;
  if (g_module != nullptr) return Py_NewRef(g_module);
  PyObject* name = PyObject_GetAttrString(spec, "name");
  if (name == nullptr) return nullptr;
  PyObject* module = PyModule_NewObject(name);
  Py_DECREF(name);
  if (module == nullptr) return nullptr;
  PyObject* module_dict = PyModule_GetDict(module);
  if (copy_spec_attribute(spec, module_dict, "loader", "__loader__", true) != 0 ||
      copy_spec_attribute(spec, module_dict, "origin", "__file__", true) != 0 ||
      copy_spec_attribute(spec, module_dict, "parent", "__package__", true) != 0 ||
      copy_spec_attribute(spec, module_dict, "submodule_search_locations", "__path__", false) != 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}

int check_python_version() {
  int major = 0, minor = 0;
  if (std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor) != 2) return 0;
  if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return 0;
  return PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                          PY_MAJOR_VERSION, PY_MINOR_VERSION, kModuleName, "does not match", major, minor);
}

PyObject* get_builtin(PyObject* builtins, const char* name) {
  PyObject* found = PyObject_GetAttrString(builtins, name);
  if (found == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
  }
  return found;
}

// Interns every name the functions use, so calls never build strings.
int intern_names() {
  try {
    for (const FunctionDef& def : kFunctions) {
      for (const Param& p : def.params) interned(p.name);
    }
    for (const char* name : {"np", "full", "nan", "float32", "zeros", "int32", "isnan", "nanmean", "sqrt", "dtype"})
      interned(name);
  } catch (const PythonError&) {
    return -1;
  }
  return 0;
}

int exec_steps(PyObject* module) {
  PyObject* module_dict = PyModule_GetDict(module);
  if (module_dict == nullptr) return -1;
  g_module_dict = module_dict;
  PyObject* builtins = PyImport_AddModule("builtins");
  if (builtins == nullptr || PyObject_SetAttrString(module, "__builtins__", builtins) != 0) return -1;
  if (check_python_version() != 0) return -1;
  if (intern_names() != 0) return -1;
  if (attach_numpy_c_interface() != 0) return -1;

  PyObject* sys_modules = PyImport_GetModuleDict();
  PyObject* existing = PyDict_GetItemString(sys_modules, kModuleName);
  if (existing == nullptr && PyDict_SetItemString(sys_modules, kModuleName, module) != 0) return -1;

  if ((g_range = get_builtin(builtins, "range")) == nullptr) return -1;
  if ((g_import_error = get_builtin(builtins, "ImportError")) == nullptr) return -1;

  if (ready_function_type() != 0) return -1;
  if (import_numpy_types() != 0) return -1;

  PyObject* numpy = PyImport_ImportModuleLevel("numpy", nullptr, nullptr, nullptr, 0);
  if (numpy == nullptr) return -1;
  const int stored = PyDict_SetItemString(module_dict, "np", numpy);
  const int recorded = stored == 0 ? record_numpy_originals(numpy) : -1;
  Py_DECREF(numpy);
  if (recorded != 0) return -1;

  for (const FunctionDef& def : kFunctions) {
    PyObject* function = new_function(def, module_dict);
    if (function == nullptr) return -1;
    const int bound = PyDict_SetItemString(module_dict, def.name, function);
    Py_DECREF(function);
    if (bound != 0) return -1;
  }

  PyObject* test_dict = PyDict_New();
  if (test_dict == nullptr) return -1;
  const int has_test = PyDict_SetItemString(module_dict, "__test__", test_dict);
  Py_DECREF(test_dict);
  return has_test;
}

int module_exec(PyObject* module) {
  if (g_module != nullptr) {
    if (g_module == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module 'velk_ta_funcs' has already been imported. Re-initialisation is not supported.");
    return -1;
  }
  g_module = Py_NewRef(module);
  if (exec_steps(module) == 0) return 0;
  if (g_module_dict != nullptr) {
    add_traceback(kInitTraceback, __LINE__);
  } else if (!PyErr_Occurred()) {
    PyErr_SetString(PyExc_ImportError, kInitTraceback);
  }
  g_module_dict = nullptr;
  Py_CLEAR(g_module);
  return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "velk_ta_funcs",  // m_name
    nullptr,          // m_doc
    0,                // m_size
    nullptr,          // m_methods
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace velk

PyMODINIT_FUNC PyInit_velk_ta_funcs(void) { return PyModuleDef_Init(&velk::module_def); }
