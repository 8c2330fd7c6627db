vt_add_fuzzer(fuzz_camcfg ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_camcfg.cpp LIBS camcfg)
