# The benchmark suite's short run: few trials, short windows and small live channels. It shows
# that every figure can be measured and prints the table; it fails only when a figure is absent,
# never on a time.
if(TARGET tilu-bench)
  add_test(NAME tilu_bench_short COMMAND tilu-bench --short --json ${CMAKE_CURRENT_BINARY_DIR}/tilu-bench-short.json)
  set_tests_properties(tilu_bench_short PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 600)
endif()
