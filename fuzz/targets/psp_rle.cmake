tilvorn_fuzz_target(psp_rle ${CMAKE_CURRENT_LIST_DIR}/psp_rle.cpp tilvorn_readers)
