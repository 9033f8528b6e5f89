# The test-channel sender, received in a private network namespace.
add_executable(test_tilu_channels ${CMAKE_CURRENT_LIST_DIR}/test_tilu_channels.cpp)
target_link_libraries(test_tilu_channels PRIVATE tilu_test_support glib_owners PkgConfig::GST)
add_dependencies(test_tilu_channels tilu-channels)
add_test(NAME tools.tilu_channels COMMAND test_tilu_channels)

# GLib is built without frame pointers: only the slow unwinder reaches the loader frame that
# the suppression names. The sender processes inherit the environment, and with it both.
set(tools_supp_parts ${CMAKE_CURRENT_SOURCE_DIR}/support/lsan.supp
  ${CMAKE_CURRENT_LIST_DIR}/lsan_tools.supp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tools_supp_parts})
set(tools_supp_text "")
foreach(part ${tools_supp_parts})
  file(READ ${part} part_text)
  string(APPEND tools_supp_text "${part_text}\n")
endforeach()
set(tools_supp ${CMAKE_CURRENT_BINARY_DIR}/tools_lsan.supp)
file(WRITE ${tools_supp} "${tools_supp_text}")
set(tools_test_env ${TILU_TEST_ENV})
list(TRANSFORM tools_test_env REPLACE "^ASAN_OPTIONS=" "ASAN_OPTIONS=fast_unwind_on_malloc=0:")
list(TRANSFORM tools_test_env REPLACE "(=|:)suppressions=[^:]*" "\\1suppressions=${tools_supp}")
set_tests_properties(tools.tilu_channels PROPERTIES ENVIRONMENT "${tools_test_env}" TIMEOUT 240)
