# The media pipeline module: URI rewriting in-process; the pipelines on real channels in a
# private network namespace under an Xvfb of their own; the test relay over HTTP.
add_executable(test_tilu_gst_uri ${CMAKE_CURRENT_LIST_DIR}/test_tilu_gst_uri.cpp)
target_link_libraries(test_tilu_gst_uri PRIVATE tilu_gst GTest::gtest)

add_executable(test_tilu_gst ${CMAKE_CURRENT_LIST_DIR}/test_tilu_gst.cpp)
target_link_libraries(test_tilu_gst PRIVATE tilu_gst tilu_test_support GTest::gtest)
add_dependencies(test_tilu_gst tilu-channels tilu-relay)

add_executable(test_tilu_relay ${CMAKE_CURRENT_LIST_DIR}/test_tilu_relay.cpp)
target_link_libraries(test_tilu_relay PRIVATE tilu_test_support PkgConfig::GIO glib_owners GTest::gtest)
add_dependencies(test_tilu_relay tilu-relay)

# GLib and the framework are built without frame pointers: only the slow unwinder sees through
# them far enough for the suppressions of their start-up allocations to match.
string(REPLACE "ASAN_OPTIONS=" "ASAN_OPTIONS=fast_unwind_on_malloc=0:" media_test_env "${TILU_TEST_ENV}")
foreach(test test_tilu_gst_uri test_tilu_gst test_tilu_relay)
  add_test(NAME ${test} COMMAND ${test})
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${media_test_env}" TIMEOUT 300)
endforeach()
