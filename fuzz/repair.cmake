if(TARGET vt_repair)
  vt_add_fuzzer(fuzz_repair ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_repair.cpp LIBS vt_repair)
endif()
