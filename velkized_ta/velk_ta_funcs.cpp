// velkized_ta.velk_ta_funcs: module entry, initialisation and the function table.

#include <Python.h>

#include <cstdio>

#include "frame/call.hpp"
#include "frame/function_object.hpp"
#include "frame/numpy_interface.hpp"
#include "indicators/bodies.hpp"

namespace velk {
namespace {

namespace ind = indicators;

constexpr int32_t kAll = 999999999;  // default n_values: the whole series

const char kCciDoc[] =
    "\n    Note: this function uses mean squared deviation instead of mean absolute deviation to achieve "
    "faster execution.\n    ";

// One row per exported function, in export order:
// name, parameters (kind, default), locals after the parameters, docstring, body, line.
const FunctionDef kFunctions[] = {
    {"velk_sma",
     {array_param("input_array"), int_param("timeperiod"), bool_param("normalize", true), int_param("n_values", kAll)},
     {"n", "i", "non_nan_count", "sma", "sum", "k"}, nullptr, ind::velk_sma, __LINE__},
    {"velk_lin", {array_param("input_array"), int_param("timeperiod"), int_param("n_values", kAll)},
     {"n", "i", "j", "first_non_nan_index", "start_index", "lin", "sum_y", "sum_xy", "sum_x", "sum_x2", "denom",
      "deduction"},
     nullptr, ind::velk_lin, __LINE__},
    {"velk_mid",
     {array_param("high"), array_param("low"), array_param("close"), int_param("timeperiod"),
      bool_param("normalize", true), int_param("n_values", kAll)},
     {"n", "i", "high_start", "high_end", "low_start", "low_end", "k", "mid", "high_indices", "low_indices"}, nullptr,
     ind::velk_mid, __LINE__},
    {"velk_ema",
     {array_param("input_array"), int_param("timeperiod"), bool_param("normalize", true), int_param("n_values", kAll)},
     {"n", "i", "first_non_nan", "alpha", "ema_value", "ema"}, nullptr, ind::velk_ema, __LINE__},
    {"velk_ema2",
     {array_param("input_array"), int_param("timeperiod"), bool_param("input_is_ema1", false),
      int_param("n_values", kAll)},
     {"ema1", "ema2"}, nullptr, ind::velk_ema2, __LINE__},
    {"velk_ema3",
     {array_param("input_array"), int_param("timeperiod"), bool_param("input_is_ema2", false),
      object_param("input_is_ema1", false), int_param("n_values", kAll)},
     {"ema1", "ema2", "ema3"}, nullptr, ind::velk_ema3, __LINE__},
    {"velk_dema",
     {array_param("input1"), array_param("input2", nullptr), int_param("timeperiod", 1),
      bool_param("input1_is_ema1", false), bool_param("input2_is_ema2", false), int_param("n_values", kAll)},
     {"n", "i", "k", "dema", "ema1", "ema2"}, nullptr, ind::velk_dema, __LINE__},
    {"velk_tema",
     {array_param("input1"), array_param("input2", nullptr), array_param("input3", nullptr),
      int_param("timeperiod", 1), bool_param("input3_is_ema3", false), bool_param("input2_is_ema2", false),
      bool_param("input1_is_ema1", false), int_param("n_values", kAll)},
     {"n", "i", "k", "tema", "ema1", "ema2", "ema3"}, nullptr, ind::velk_tema, __LINE__},
    {"velk_trix",
     {array_param("arr"), int_param("timeperiod", 1), bool_param("input_is_ema3", false),
      bool_param("input_is_ema2", false), bool_param("input_is_ema1", false), int_param("n_values", kAll)},
     {"n", "k", "trix", "ema1", "ema2", "ema3", "i"}, nullptr, ind::velk_trix, __LINE__},
    {"velk_roc", {array_param("input_array"), int_param("timeperiod"), int_param("n_values", kAll)},
     {"n", "roc", "k", "i"}, nullptr, ind::velk_roc, __LINE__},
    {"velk_rsi", {array_param("close"), int_param("timeperiod"), int_param("n_values", kAll)},
     {"n", "i", "k", "rsi", "total_gain", "total_loss", "diff", "gain", "loss"}, nullptr, ind::velk_rsi, __LINE__},
    {"velk_willr",
     {array_param("high_arr"), array_param("low_arr"), array_param("close_arr"), int_param("timeperiod"),
      int_param("n_values", kAll)},
     {"n", "i", "high_start", "high_end", "low_start", "low_end", "k", "willr", "high_indices", "low_indices",
      "highest_high", "lowest_low"},
     nullptr, ind::velk_willr, __LINE__},
    {"velk_cci",
     {array_param("high_arr"), array_param("low_arr"), array_param("close_arr"), int_param("timeperiod"),
      int_param("n_values", kAll)},
     {"n", "i", "j", "k", "cci", "typical_price", "sum_tp", "sum_tp_squared", "old_avg_tp", "new_avg_tp", "old_tp",
      "new_tp", "mean_squared_deviation"},
     kCciDoc, ind::velk_cci, __LINE__},
    {"velk_dx",
     {array_param("high"), array_param("low"), array_param("close"), int_param("timeperiod"),
      int_param("n_values", kAll)},
     {"n", "i", "dx", "plus_dm", "minus_dm", "atr", "tr", "plus_dm_sum", "minus_dm_sum", "atr_sum"}, nullptr,
     ind::velk_dx, __LINE__},
    {"velk_adx",
     {array_param("high_arr", nullptr), array_param("low_arr", nullptr), array_param("close_arr", nullptr),
      int_param("timeperiod", 1), int_param("n_values", kAll), bool_param("close_arr_is_dx", false)},
     {"n", "i", "k", "adx", "dx", "adx_value"}, nullptr, ind::velk_adx, __LINE__},
    {"velk_adxr",
     {array_param("high_arr"), array_param("low_arr"), array_param("close_arr"), int_param("timeperiod"),
      int_param("n_values", kAll), bool_param("close_arr_is_adx", false)},
     {"n", "i", "k", "adx", "adxr"}, nullptr, ind::velk_adxr, __LINE__},
    {"velk_cmo", {array_param("close_arr"), int_param("timeperiod"), int_param("n_values", kAll)},
     {"n", "i", "k", "cmo", "sum_gains", "sum_losses", "change", "new_change", "old_change"}, nullptr, ind::velk_cmo,
     __LINE__},
    {"velk_natr",
     {array_param("high_arr"), array_param("low_arr"), array_param("close_arr"), int_param("timeperiod"),
      int_param("n_values", kAll)},
     {"n", "i", "k", "tr", "atr", "natr", "atr_value"}, nullptr, ind::velk_natr, __LINE__},
    {"velk_ult",
     {array_param("high_arr"), array_param("low_arr"), array_param("close_arr"), int_param("short_period"),
      int_param("medium_period"), int_param("long_period"), int_param("n_values", kAll)},
     {"n", "i", "k", "uo", "sum_bp_short", "sum_tr_short", "sum_bp_medium", "sum_tr_medium", "sum_bp_long",
      "sum_tr_long", "eps", "bp", "tr"},
     nullptr, ind::velk_ult, __LINE__},
    {"velk_stochf",
     {array_param("high_arr"), array_param("low_arr"), array_param("close_arr"), int_param("timeperiod"),
      bool_param("stream", false), bool_param("last_value_only", false)},
     {"n", "stochf_k", "high_indices", "low_indices", "high_start", "high_end", "low_start", "low_end", "i",
      "highest_idx", "lowest_idx", "highest_high", "lowest_low"},
     nullptr, ind::velk_stochf, __LINE__},
    {"velk_wick",
     {array_param("high_arr"), array_param("low_arr"), array_param("close_arr"), int_param("timeperiod"),
      int_param("n_values", kAll)},
     {"n", "high_start", "high_end", "low_start", "low_end", "i", "highest_idx", "lowest_idx", "k", "wick_arr",
      "high_indices", "low_indices", "top_wick", "bottom_wick", "max_high", "min_low", "previous_close"},
     nullptr, ind::velk_wick, __LINE__},
    {"velk_macd",
     {array_param("input0", nullptr), array_param("input1", nullptr), array_param("input2", nullptr),
      int_param("short_period", 1), int_param("long_period", 1), bool_param("input1_is_fast_ema", false),
      bool_param("input2_is_slow_ema", false), int_param("n_values", kAll)},
     {"n", "i", "k", "macd", "fast_ema", "slow_ema"}, nullptr, ind::velk_macd, __LINE__},
    {"velk_adif", {array_param("input_array_1"), array_param("input_array_2"), int_param("n_values", kAll)},
     {"n", "i", "dif"}, nullptr, ind::velk_adif, __LINE__},
    {"velk_rdif", {array_param("input_array_1"), array_param("input_array_2"), int_param("n_values", kAll)},
     {"n", "i", "dif"}, nullptr, ind::velk_rdif, __LINE__},
};

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
