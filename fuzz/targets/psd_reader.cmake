tilvorn_fuzz_target(psd_reader ${CMAKE_CURRENT_LIST_DIR}/psd_reader.cpp tilvorn_formats)
