tilvorn_fuzz_target(sgi_rle ${CMAKE_CURRENT_LIST_DIR}/sgi_rle.cpp tilvorn_readers)
