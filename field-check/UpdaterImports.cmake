# Writes the libraries the built updater imports as a C++ header, so the field check tests the
# imports the release really has, not a list kept by hand.
#   cmake -DOBJDUMP=<objdump> -DUPDATER=<exe> -DOUTPUT=<header> -P UpdaterImports.cmake
execute_process(COMMAND "${OBJDUMP}" -p "${UPDATER}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${UPDATER} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "${UPDATER} shows no imported library")
endif()
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^DLL Name: +" "" name "${line}")
  string(STRIP "${name}" name)
  string(APPEND names "    \"${name}\",\n")
endforeach()
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT
"// Generated from the built updater's import table; do not edit.
#pragma once

namespace argb::fieldcheck {

inline constexpr const char* kUpdaterImports[] = {
${names}};

}  // namespace argb::fieldcheck
")
