add_executable(test_tilu_playlist ${CMAKE_CURRENT_LIST_DIR}/test_tilu_playlist.cpp)
target_link_libraries(test_tilu_playlist PRIVATE tilu_playlist tilu_test_support GTest::gtest_main)
add_test(NAME test_tilu_playlist COMMAND test_tilu_playlist)
set_tests_properties(test_tilu_playlist PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 120)
