# Main video and info text on real pipelines and live test channels, under Xvfb in a private
# namespace (support library from scan.cmake).
add_executable(test_tilu_video player/test_tilu_video.cpp)
target_link_libraries(test_tilu_video PRIVATE tilu_scan_video_support)
add_test(NAME test_tilu_video COMMAND test_tilu_video)
set_tests_properties(test_tilu_video PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 300)
