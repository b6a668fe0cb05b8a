tilvorn_fuzz_target(packbits ${CMAKE_CURRENT_LIST_DIR}/packbits.cpp tilvorn_readers)
