# The main video's recovery on real channels (a sender that stops, a relay that dies, a stream
# that ends), under Xvfb in a private namespace (support library from scan.cmake).
add_executable(test_tilu_recovery player/test_tilu_recovery.cpp)
target_link_libraries(test_tilu_recovery PRIVATE tilu_scan_video_support)
add_dependencies(test_tilu_recovery tilu-channels tilu-relay)
# The relay case fetches over HTTP: it runs without the leak check, like the media module's.
tilu_add_test_without_leak_check_for(test_tilu_recovery _relay test_tilu_recovery
  "MainRecovery.RelayKilledAndRestarted")
