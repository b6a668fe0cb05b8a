tilvorn_fuzz_target(pcx_rle ${CMAKE_CURRENT_LIST_DIR}/pcx_rle.cpp tilvorn_readers)
