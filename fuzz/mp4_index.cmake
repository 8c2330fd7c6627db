vt_add_fuzzer(fuzz_mp4_index ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_mp4_index.cpp LIBS vt_writer)
