# The test-channel sender, received in a private network namespace.
add_executable(test_tilu_channels ${CMAKE_CURRENT_LIST_DIR}/test_tilu_channels.cpp)
target_link_libraries(test_tilu_channels PRIVATE tilu_test_support glib_owners PkgConfig::GST)
add_dependencies(test_tilu_channels tilu-channels)
add_test(NAME tools.tilu_channels COMMAND test_tilu_channels)
# GLib is built without frame pointers: only the slow unwinder reaches the loader frame that
# the suppression of GLib's own start-up allocations names. The sender processes inherit it.
set(tools_test_env ${TILU_TEST_ENV})
list(TRANSFORM tools_test_env REPLACE "^ASAN_OPTIONS=" "ASAN_OPTIONS=fast_unwind_on_malloc=0:")
set_tests_properties(tools.tilu_channels PROPERTIES ENVIRONMENT "${tools_test_env}" TIMEOUT 240)
