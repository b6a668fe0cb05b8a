tilvorn_fuzz_target(twain_dib ${CMAKE_CURRENT_LIST_DIR}/twain_dib.cpp tilvorn_twain)
