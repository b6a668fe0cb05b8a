tilvorn_fuzz_target(eps_reader ${CMAKE_CURRENT_LIST_DIR}/eps_reader.cpp tilvorn_formats)
