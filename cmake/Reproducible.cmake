# The released Windows program must come out the same from every build of one commit, so that
# anyone can rebuild it and compare: no build time and no path of the build machine goes into it.
# (The archiver of Debian's binutils is deterministic already.)
if(MINGW)
  # The build tree may lie inside the source tree; the map given last wins, so it comes second.
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
                      "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>")
  add_link_options(-Wl,--no-insert-timestamp)
endif()
