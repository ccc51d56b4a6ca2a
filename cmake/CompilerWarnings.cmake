# Warnings are errors everywhere: a warning left in is a defect nobody reads.
add_library(argb_warnings INTERFACE)
if(MSVC)
  target_compile_options(argb_warnings INTERFACE /W4 /WX /permissive- /utf-8)
else()
  target_compile_options(argb_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
endif()
