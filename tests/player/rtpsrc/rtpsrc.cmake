# tilurtpsrc: krtp URI parsing, the element, and live RTP streams through it.
pkg_check_modules(GST_RTPSRC_TESTS REQUIRED IMPORTED_TARGET gstreamer-check-1.0 gstreamer-rtp-1.0)

set(rtpsrc_test_dir ${CMAKE_CURRENT_SOURCE_DIR}/player/rtpsrc)
add_executable(tilu_rtpsrc_tests
  ${rtpsrc_test_dir}/test_main.cpp
  ${rtpsrc_test_dir}/rtpsrc_test_support.cpp
  ${rtpsrc_test_dir}/parse_uri_test.cpp
  ${rtpsrc_test_dir}/element_test.cpp
  ${rtpsrc_test_dir}/stream_test.cpp)
target_link_libraries(tilu_rtpsrc_tests PRIVATE tilu_rtpsrc tilu_test_support PkgConfig::GST_RTPSRC_TESTS
  GTest::gtest)
add_dependencies(tilu_rtpsrc_tests tilu-channels)
# One process per test: some tests hide registry features or hold groups joined.
gtest_add_tests(TARGET tilu_rtpsrc_tests TEST_LIST tilu_rtpsrc_test_list)
set_tests_properties(${tilu_rtpsrc_test_list} PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 120)
