tilvorn_fuzz_target(thunder ${CMAKE_CURRENT_LIST_DIR}/thunder.cpp tilvorn_readers)
