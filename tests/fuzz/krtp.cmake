# The krtp URI parser of the player's RTP source element.
tilu_add_fuzzer(fuzz_krtp_uri ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_krtp_uri.cpp tilu_rtpsrc)
