# The scanner's capture filter, on arbitrary captured bytes.
tilu_add_fuzzer(fuzz_sarv_filter ${CMAKE_CURRENT_LIST_DIR}/fuzz_sarv_filter.cpp SEEDS filter DICT filter.dict LIBS sarv_filter)
