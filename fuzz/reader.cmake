vt_add_fuzzer(fuzz_reader ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_reader.cpp LIBS vt_reader)
