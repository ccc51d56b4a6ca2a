# Runs the firmware image rule check on one image and passes only when the check stops with a
# message matching EXPECT:
#   cmake -DRULES=<FirmwareImageRules.cmake> -DIMAGE=<file> -DEXPECT=<regex> -P ExpectRuleFailure.cmake

execute_process(
  COMMAND "${CMAKE_COMMAND}" "-DIMAGE=${IMAGE}" -P "${RULES}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(result EQUAL 0)
  message(FATAL_ERROR "the check accepted ${IMAGE}")
endif()
string(REGEX REPLACE "[ \n]+" " " flat "${output}")
if(NOT flat MATCHES "firmware image [^:]*: ${EXPECT}")
  message(FATAL_ERROR "the check refused ${IMAGE} for another reason:\n${output}")
endif()
