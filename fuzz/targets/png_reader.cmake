tilvorn_fuzz_target(png_reader ${CMAKE_CURRENT_LIST_DIR}/png_reader.cpp tilvorn_formats)
