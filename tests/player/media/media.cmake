# The media pipeline module: URI rewriting in-process; the pipelines on real channels in a
# private network namespace under an Xvfb of their own; the test relay over HTTP.
add_executable(test_tilu_gst_uri ${CMAKE_CURRENT_LIST_DIR}/test_tilu_gst_uri.cpp)
target_link_libraries(test_tilu_gst_uri PRIVATE tilu_gst GTest::gtest)

add_executable(test_tilu_gst ${CMAKE_CURRENT_LIST_DIR}/test_tilu_gst.cpp)
target_link_libraries(test_tilu_gst PRIVATE tilu_gst tilu_test_support GTest::gtest)
add_dependencies(test_tilu_gst tilu-channels tilu-relay)

add_executable(test_tilu_relay ${CMAKE_CURRENT_LIST_DIR}/test_tilu_relay.cpp)
target_link_libraries(test_tilu_relay PRIVATE tilu_test_support PkgConfig::GIO glib_owners GTest::gtest)
add_dependencies(test_tilu_relay tilu-relay)

# The default fast unwinder stays: the slow one takes the unwinder's lock inside malloc and
# deadlocks against plug-ins that streaming threads dlopen while they run.
foreach(test test_tilu_gst_uri test_tilu_relay)
  add_test(NAME ${test} COMMAND ${test})
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 300)
endforeach()

# Pipelines that fetch over HTTP (the relay, an unresolvable host) run without the leak check;
# everything else keeps it.
tilu_add_test_without_leak_check_for(test_tilu_gst _http test_tilu_gst
  "*RelayPlaysUdpAndRtpChannels:*BadStreamsGiveAHandleAndOneErrorPerMessage")
