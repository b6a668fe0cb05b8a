tilvorn_fuzz_target(fax3 ${CMAKE_CURRENT_LIST_DIR}/fax3.cpp tilvorn_readers)
