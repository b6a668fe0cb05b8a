tilvorn_fuzz_target(lz77 ${CMAKE_CURRENT_LIST_DIR}/lz77.cpp tilvorn_readers)
