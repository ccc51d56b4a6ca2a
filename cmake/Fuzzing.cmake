if(ARGB_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ARGB_FUZZ needs clang and its libFuzzer: configure with the fuzz preset")
  endif()
  # Every library is instrumented for coverage; only the fuzz targets link libFuzzer's own main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
