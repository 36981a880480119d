# Fails the build when the many-series module leaves an indicator's entry undefined: a declaration
# in `Exported` whose family file lacks `compute_series<I>` links (a module may leave symbols to
# the loader) and would only fail when `velkized_ta.batch` imports it.
execute_process(COMMAND "${NM}" -u "${MODULE}" OUTPUT_VARIABLE undefined RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm could not read ${MODULE}")
endif()
string(REGEX MATCHALL "[^\n]*compute_series[^\n]*" missing "${undefined}")
if(missing)
  message(FATAL_ERROR "many-series entries (compute_series<I>) declared but not defined:\n${missing}")
endif()
