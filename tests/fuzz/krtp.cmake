# The krtp URI parser of the player's RTP source element.
tilu_add_fuzzer(fuzz_krtp_uri ${CMAKE_CURRENT_LIST_DIR}/fuzz_krtp_uri.cpp SEEDS krtp DICT krtp.dict LIBS tilu_rtpsrc)
