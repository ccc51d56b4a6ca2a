# Windows programs and libraries of this project carry the C and C++ runtimes inside, so they run
# on a machine without the compiler's runtime DLLs. Include before any target is created.
if(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
elseif(MINGW)
  # Also takes libwinpthread, which the posix thread flavour of the compiler would otherwise import.
  add_link_options(-static)
endif()
