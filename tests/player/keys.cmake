# Keyboard commands: the handler on the real scene, and the real program driven by xdotool.
# The tests play a window manager's part on the bare Xvfb display through Xlib.
pkg_check_modules(TILU_X11 REQUIRED IMPORTED_TARGET x11)

add_executable(test_tilu_keys player/test_tilu_keys.cpp)
target_link_libraries(test_tilu_keys PRIVATE tilu_core tilu_test_support GTest::gtest PkgConfig::TILU_X11)
add_test(NAME test_tilu_keys COMMAND test_tilu_keys)
set_tests_properties(test_tilu_keys PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 180)

# The real program under Xvfb on live channels in the test's own network namespace.
add_executable(test_tilu_keys_e2e player/test_tilu_keys_e2e.cpp)
target_link_libraries(test_tilu_keys_e2e PRIVATE tilu_test_support GTest::gtest PkgConfig::TILU_X11)
add_dependencies(test_tilu_keys_e2e tilu tilu-channels)
add_test(NAME test_tilu_keys_e2e COMMAND test_tilu_keys_e2e)
# No leak check at the program's exit: once a run has created 4096 quarks (many plug-ins do),
# GLib leaks its old quark array on purpose, and the fast unwinder cannot see past g_malloc to
# suppress it (full unwinding makes the program too slow to drive). The handlers' own
# allocations are leak-checked in-process by test_tilu_keys.
string(REPLACE "detect_leaks=1" "detect_leaks=0" keys_e2e_env "${TILU_TEST_ENV}")
set_tests_properties(test_tilu_keys_e2e PROPERTIES ENVIRONMENT "${keys_e2e_env}" TIMEOUT 240)
