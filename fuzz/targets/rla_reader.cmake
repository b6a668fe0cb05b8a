tilvorn_fuzz_target(rla_reader ${CMAKE_CURRENT_LIST_DIR}/rla_reader.cpp tilvorn_formats)
