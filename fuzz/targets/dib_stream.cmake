tilvorn_fuzz_target(dib_stream ${CMAKE_CURRENT_LIST_DIR}/dib_stream.cpp tilvorn_image)
