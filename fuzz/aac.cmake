vt_add_fuzzer(fuzz_aac ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_aac.cpp LIBS aacdec)
