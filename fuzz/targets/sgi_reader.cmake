tilvorn_fuzz_target(sgi_reader ${CMAKE_CURRENT_LIST_DIR}/sgi_reader.cpp tilvorn_formats)
