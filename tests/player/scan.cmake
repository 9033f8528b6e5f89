# Scan scheduler on real pipelines and live test channels, under Xvfb in a private namespace.
# The support library is shared with the main video tests (video.cmake).
add_library(tilu_scan_video_support STATIC player/scan_video_support.cpp)
target_include_directories(tilu_scan_video_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/player)
target_link_libraries(tilu_scan_video_support PUBLIC tilu_core tilu_test_support GTest::gtest)

add_executable(test_tilu_scan player/test_tilu_scan.cpp)
target_link_libraries(test_tilu_scan PRIVATE tilu_scan_video_support)
add_test(NAME test_tilu_scan COMMAND test_tilu_scan)
set_tests_properties(test_tilu_scan PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 300)
