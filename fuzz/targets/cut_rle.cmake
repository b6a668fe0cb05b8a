tilvorn_fuzz_target(cut_rle ${CMAKE_CURRENT_LIST_DIR}/cut_rle.cpp tilvorn_readers)
