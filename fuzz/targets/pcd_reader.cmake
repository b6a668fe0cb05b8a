tilvorn_fuzz_target(pcd_reader ${CMAKE_CURRENT_LIST_DIR}/pcd_reader.cpp tilvorn_formats)
