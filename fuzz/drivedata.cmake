vt_add_fuzzer(fuzz_drivedata ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_drivedata.cpp LIBS drivedata)
