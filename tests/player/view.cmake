# View geometry: the pure arithmetic, and the view handlers on real actors under Xvfb.
add_executable(test_tilu_geometry player/test_tilu_geometry.cpp)
target_link_libraries(test_tilu_geometry PRIVATE tilu_core GTest::gtest_main)
add_test(NAME test_tilu_geometry COMMAND test_tilu_geometry)
set_tests_properties(test_tilu_geometry PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 60)

add_executable(test_tilu_view player/test_tilu_view.cpp)
target_link_libraries(test_tilu_view PRIVATE tilu_core tilu_test_support GTest::gtest)
add_test(NAME test_tilu_view COMMAND test_tilu_view)
set_tests_properties(test_tilu_view PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 120)
