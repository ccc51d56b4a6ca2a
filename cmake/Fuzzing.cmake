if(ARGB_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ARGB_FUZZ needs clang and its libFuzzer: configure with the fuzz preset")
  endif()
  # Every library is instrumented for coverage; only the fuzz targets link libFuzzer's own main.
  # Stack variables start as a pattern, so that one read before it is written shows the same wrong
  # value every time rather than whatever the stack held.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -ftrivial-auto-var-init=pattern)
  add_link_options(-fsanitize=address,undefined)
endif()
