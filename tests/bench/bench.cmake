# The benchmark suite's short run: few trials, short windows and small live channels. It shows
# that every figure can be measured and prints the table; it fails only when a figure is absent,
# never on a time.
# Not in the sanitizer build: there the programs run several times slower than a user would see
# them, and a wall that takes minutes to fill would only measure the instrumentation.
if(TARGET tilu-bench AND NOT TILU_SANITIZE)
  add_test(NAME tilu_bench_short COMMAND tilu-bench --short --json ${CMAKE_CURRENT_BINARY_DIR}/tilu-bench-short.json)
  # The scanner's environment (tests/scanner): its leak suppressions cover sarv as well.
  set_tests_properties(tilu_bench_short PROPERTIES ENVIRONMENT "${sarv_test_env}" TIMEOUT 600)
endif()
