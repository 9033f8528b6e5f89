# The main video's recovery on real channels (a sender that stops, a relay that dies, a stream
# that ends), under Xvfb in a private namespace (support library from scan.cmake).
add_executable(test_tilu_recovery player/test_tilu_recovery.cpp)
target_link_libraries(test_tilu_recovery PRIVATE tilu_scan_video_support)
add_dependencies(test_tilu_recovery tilu-channels tilu-relay)
# The relay case fetches over HTTP: without the leak check, like the media module's HTTP cases
# (libsoup 3.2 leaks a connection's first message when a transfer ends early).
set(relay_case "MainRecovery.RelayKilledAndRestarted")
add_test(NAME test_tilu_recovery COMMAND test_tilu_recovery --gtest_filter=-${relay_case})
set_tests_properties(test_tilu_recovery PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 300)
list(TRANSFORM TILU_TEST_ENV REPLACE "detect_leaks=1" "detect_leaks=0" OUTPUT_VARIABLE relay_env)
add_test(NAME test_tilu_recovery_relay COMMAND test_tilu_recovery --gtest_filter=${relay_case})
set_tests_properties(test_tilu_recovery_relay PROPERTIES ENVIRONMENT "${relay_env}" TIMEOUT 300)
