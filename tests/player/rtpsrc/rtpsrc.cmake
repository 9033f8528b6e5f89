# tilurtpsrc: krtp URI parsing, the element, and live RTP streams through it.
pkg_check_modules(GST_RTPSRC_TESTS REQUIRED IMPORTED_TARGET gstreamer-check-1.0 gstreamer-rtp-1.0)

set(rtpsrc_test_dir ${CMAKE_CURRENT_SOURCE_DIR}/player/rtpsrc)
# GLib is built without frame pointers: only the slow unwinder reaches the frames that the
# suppressions of the libraries' own kept start-up allocations name (children inherit it).
string(REPLACE "ASAN_OPTIONS=" "ASAN_OPTIONS=fast_unwind_on_malloc=0:" rtpsrc_test_env "${TILU_TEST_ENV}")
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
set_tests_properties(${tilu_rtpsrc_test_list} PROPERTIES ENVIRONMENT "${rtpsrc_test_env}" TIMEOUT 120)

# The real player on krtp channels under its own Xvfb.
add_executable(tilu_krtp_playback_test ${rtpsrc_test_dir}/tilu_krtp_test.cpp ${rtpsrc_test_dir}/rtpsrc_test_support.cpp)
target_link_libraries(tilu_krtp_playback_test PRIVATE tilu_test_support PkgConfig::GST GTest::gtest)
add_dependencies(tilu_krtp_playback_test tilu tilu-channels)
add_test(NAME TiluKrtpPlayback COMMAND tilu_krtp_playback_test)
# The fast unwinder here: tilu and the sender inherit the environment, and with the slow one
# every allocation of the decoders and the GL rasteriser crawls. Neither is checked for leaks
# (both are ended by signal), and this test process never loads the media framework.
set_tests_properties(TiluKrtpPlayback PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 180)
