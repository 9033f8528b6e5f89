# rtp:// playlist entries on RTP from the test sender and from FFmpeg, under Xvfb in a private
# namespace (support library from scan.cmake).
add_executable(test_tilu_rtp_entries player/test_tilu_rtp_entries.cpp)
target_link_libraries(test_tilu_rtp_entries PRIVATE tilu_scan_video_support)
add_dependencies(test_tilu_rtp_entries tilu-channels)
add_test(NAME test_tilu_rtp_entries COMMAND test_tilu_rtp_entries)
set_tests_properties(test_tilu_rtp_entries PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 300)
