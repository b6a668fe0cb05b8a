tilvorn_fuzz_target(targa_reader ${CMAKE_CURRENT_LIST_DIR}/targa_reader.cpp tilvorn_formats)
