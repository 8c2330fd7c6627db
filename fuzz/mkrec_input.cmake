if(TARGET vt_mkrec)
  vt_add_fuzzer(fuzz_mkrec_input ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_mkrec_input.cpp LIBS vt_mkrec)
endif()
