tilvorn_fuzz_target(cut_reader ${CMAKE_CURRENT_LIST_DIR}/cut_reader.cpp tilvorn_formats)
