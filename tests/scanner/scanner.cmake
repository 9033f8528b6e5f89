# Scanner tests. The pure units run anywhere; the binaries that run sarv, join groups or
# capture move themselves into a private network namespace first (they need root).
set(sarv_test_dir ${CMAKE_CURRENT_LIST_DIR})
# GLib is built without frame pointers: with the fast unwinder a leak report stops at g_malloc
# and the suppressions of the libraries' own kept allocations cannot match it.
string(REPLACE "ASAN_OPTIONS=" "ASAN_OPTIONS=fast_unwind_on_malloc=0:" sarv_test_env
  "${TILU_TEST_ENV}")
# The suite's leak suppressions plus the scanner's own, in one file (LSan reads only one).
set(sarv_shared_supp ${CMAKE_CURRENT_SOURCE_DIR}/support/lsan.supp)
set(sarv_supp ${CMAKE_CURRENT_BINARY_DIR}/sarv_lsan.supp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sarv_shared_supp}
  ${sarv_test_dir}/lsan_scanner.supp)
file(READ ${sarv_shared_supp} sarv_supp_text)
file(READ ${sarv_test_dir}/lsan_scanner.supp sarv_supp_extra)
file(WRITE ${sarv_supp} "${sarv_supp_text}\n${sarv_supp_extra}")
string(REPLACE "suppressions=${sarv_shared_supp}" "suppressions=${sarv_supp}" sarv_test_env
  "${sarv_test_env}")

function(sarv_add_test name timeout)
  add_executable(${name} ${sarv_test_dir}/${name}.cpp)
  target_include_directories(${name} PRIVATE ${sarv_test_dir})
  target_link_libraries(${name} PRIVATE tilu_test_support ${ARGN})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${sarv_test_env}" TIMEOUT ${timeout})
endfunction()

sarv_add_test(test_sarv_filter 60 sarv_filter GTest::gtest_main)
sarv_add_test(test_sarv_targets 60 sarv_core GTest::gtest_main)
sarv_add_test(test_sarv_cli 120 GTest::gtest)
sarv_add_test(test_sarv_gst 240 sarv_gst GTest::gtest)
add_dependencies(test_sarv_cli sarv)
sarv_add_test(test_sarv_worker 300 GTest::gtest PkgConfig::GIO glib_owners)
add_dependencies(test_sarv_worker sarv)
sarv_add_test(test_sarv_rtp 900 sarv_gst GTest::gtest)
add_dependencies(test_sarv_rtp tilu-channels)
sarv_add_test(test_sarv_snapshot_dir 60 sarv_snapshot_dir tilu_playlist GTest::gtest_main)
target_compile_definitions(test_sarv_snapshot_dir PRIVATE
  SARV_PLAYLIST_BIN="$<TARGET_FILE:sarv-playlist>")
add_dependencies(test_sarv_snapshot_dir sarv-playlist)
# Scan to wall: sarv, sarv-playlist and tilu, each run as the real program. Under the
# sanitizers the programs keep the fast unwinder and skip the leak check at exit (full unwinding
# on every allocation leaves a scan and a wall of pipelines too slow to show anything); their
# leaks are checked by their own tests.
sarv_add_test(test_sarv_wall_e2e 300 GTest::gtest)
string(REPLACE "detect_leaks=1" "detect_leaks=0" sarv_wall_env "${TILU_TEST_ENV}")
set_tests_properties(test_sarv_wall_e2e PROPERTIES ENVIRONMENT "${sarv_wall_env}")
target_compile_definitions(test_sarv_wall_e2e PRIVATE
  SARV_PLAYLIST_BIN="$<TARGET_FILE:sarv-playlist>")
add_dependencies(test_sarv_wall_e2e sarv sarv-playlist tilu tilu-channels)
