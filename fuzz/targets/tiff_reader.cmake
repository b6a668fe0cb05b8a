tilvorn_fuzz_target(tiff_reader ${CMAKE_CURRENT_LIST_DIR}/tiff_reader.cpp tilvorn_formats)
