tilvorn_fuzz_target(pcx_reader ${CMAKE_CURRENT_LIST_DIR}/pcx_reader.cpp tilvorn_formats)
