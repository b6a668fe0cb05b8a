tilvorn_fuzz_target(targa_rle ${CMAKE_CURRENT_LIST_DIR}/targa_rle.cpp tilvorn_readers)
