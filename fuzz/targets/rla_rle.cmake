tilvorn_fuzz_target(rla_rle ${CMAKE_CURRENT_LIST_DIR}/rla_rle.cpp tilvorn_readers)
