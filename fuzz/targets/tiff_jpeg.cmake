tilvorn_fuzz_target(tiff_jpeg ${CMAKE_CURRENT_LIST_DIR}/tiff_jpeg.cpp tilvorn_readers)
