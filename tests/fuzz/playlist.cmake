# The playlist reader on arbitrary file contents, as M3U and as CSV.
tilu_add_fuzzer(fuzz_tilu_playlist ${CMAKE_CURRENT_LIST_DIR}/fuzz_tilu_playlist.cpp SEEDS playlist DICT playlist.dict
  LIBS tilu_playlist)
