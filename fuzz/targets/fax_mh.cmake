tilvorn_fuzz_target(fax_mh ${CMAKE_CURRENT_LIST_DIR}/fax_mh.cpp tilvorn_readers)
