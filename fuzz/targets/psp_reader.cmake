tilvorn_fuzz_target(psp_reader ${CMAKE_CURRENT_LIST_DIR}/psp_reader.cpp tilvorn_formats)
