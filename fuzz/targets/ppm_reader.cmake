tilvorn_fuzz_target(ppm_reader ${CMAKE_CURRENT_LIST_DIR}/ppm_reader.cpp tilvorn_formats)
