# The driver library must export nvapi_QueryInterface and nothing else.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "[0-9a-fA-F]+ [A-Za-z] " "" names "${symbols}")
string(STRIP "${names}" names)
if(NOT names STREQUAL "nvapi_QueryInterface")
  message(FATAL_ERROR "exported symbols:\n${symbols}")
endif()
