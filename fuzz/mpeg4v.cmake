vt_add_fuzzer(fuzz_mpeg4v ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_mpeg4v.cpp LIBS mpeg4v)
