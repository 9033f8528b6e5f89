# Health marks (--alarms): digest, report lines, and the marks on live channels under Xvfb in a
# private namespace (support library from scan.cmake).
add_executable(test_tilu_health player/test_tilu_health.cpp)
target_link_libraries(test_tilu_health PRIVATE tilu_scan_video_support)
add_test(NAME test_tilu_health COMMAND test_tilu_health)
# About 2 minutes; the sanitizer build scans with longer timeouts and takes several times that.
set_tests_properties(test_tilu_health PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 900)
