# The player's start-up, scene and shutdown: the option table in-process, the actor tree
# in-process under an Xvfb of its own, and the real program as a user runs it.
pkg_check_modules(SPINE_X11 REQUIRED IMPORTED_TARGET x11)

add_executable(test_tilu_options ${CMAKE_CURRENT_LIST_DIR}/test_tilu_options.cpp)
target_link_libraries(test_tilu_options PRIVATE tilu_core tilu_test_support GTest::gtest_main)

add_executable(test_tilu_scene ${CMAKE_CURRENT_LIST_DIR}/test_tilu_scene.cpp)
target_link_libraries(test_tilu_scene PRIVATE tilu_core tilu_test_support GTest::gtest)

add_executable(test_tilu_program ${CMAKE_CURRENT_LIST_DIR}/test_tilu_program.cpp)
target_link_libraries(test_tilu_program PRIVATE tilu_test_support PkgConfig::SPINE_X11 GTest::gtest)
add_dependencies(test_tilu_program tilu)

foreach(test test_tilu_options test_tilu_scene test_tilu_program)
  add_test(NAME ${test} COMMAND ${test})
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 300)
endforeach()
