# Run by CPack twice: before it zips the staged files (no package file yet) to strip and sign the
# programs (the field check's in a folder of its own beside the staged files), and after, to write
# the zip again in a fixed form with SHA256SUMS beside it (release_steps.py says how).

# A configuration written by hand or by an older version may hold a PIN: never on a command line.
include("${CMAKE_CURRENT_LIST_DIR}/KeyPin.cmake")
argb_key_holds_pin("${CPACK_ARGB_SIGNING_KEY}" key_holds_pin)
if(key_holds_pin)
  message(FATAL_ERROR " Not packaging: ${ARGB_KEY_PIN_REFUSAL}")
endif()

# The field check's zip of an earlier run goes first, so that a failed step leaves none behind.
if(NOT CPACK_PACKAGE_FILES AND CPACK_ARGB_FIELD_CHECK_ZIP)
  file(REMOVE "${CPACK_PACKAGE_DIRECTORY}/${CPACK_ARGB_FIELD_CHECK_ZIP}")
endif()
if(CPACK_PACKAGE_FILES)
  set(step zip --zip "${CPACK_PACKAGE_FILES}")
else()
  set(step seal)
endif()
set(signing "")
# release_steps.py's option for each setting of the package configuration.
foreach(pair IN ITEMS pkcs12=SIGNING_PKCS12 key=SIGNING_KEY pkcs11-module=SIGNING_PKCS11_MODULE
                      engine=PKCS11_ENGINE certificates=SIGNING_CERTIFICATES
                      signed-program=SIGNED_PROGRAM signed-field-check=SIGNED_FIELD_CHECK
                      timestamp-url=SIGNING_TIMESTAMP_URL)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 option)
  list(GET pair 1 variable)
  if(CPACK_ARGB_${variable})
    # A pkcs11: URI separates its attributes with semicolons, CMake's list separator.
    string(REPLACE ";" "\\;" value "${CPACK_ARGB_${variable}}")
    list(APPEND signing "--${option}" "${value}")
  endif()
endforeach()
if(CPACK_ARGB_IMAGE_IS_SUBSTITUTE)
  list(APPEND signing --substitute)
endif()
set(field_check_dir "${CPACK_TOPLEVEL_DIRECTORY}/field-check")
execute_process(
  COMMAND "${CPACK_ARGB_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/release_steps.py" ${step}
          --staging "${CPACK_TEMPORARY_DIRECTORY}" --output-dir "${CPACK_PACKAGE_DIRECTORY}"
          --zip-name "${CPACK_PACKAGE_FILE_NAME}.zip" --source-dir "${CPACK_ARGB_SOURCE_DIR}"
          --objcopy "${CPACK_ARGB_OBJCOPY}" --signer "${CPACK_ARGB_OSSLSIGNCODE}"
          --compiler "${CPACK_ARGB_COMPILER}" --cmake "${CPACK_ARGB_CMAKE}" ${signing}
          --field-check "${CPACK_ARGB_FIELD_CHECK}" --field-check-dir "${field_check_dir}"
          --field-check-guide "${CPACK_ARGB_FIELD_CHECK_GUIDE}"
  RESULT_VARIABLE failed ERROR_VARIABLE error)
if(failed)
  string(STRIP "${error}" error)
  # The leading blank keeps CMake from wrapping the line.
  message(FATAL_ERROR " ${error}")
endif()

# The field check's own zip beside the release's, listed in the same SHA256SUMS.
if(CPACK_PACKAGE_FILES AND CPACK_ARGB_FIELD_CHECK_ZIP)
  execute_process(
    COMMAND "${CPACK_ARGB_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/field_check_zip.py"
            --release-zip "${CPACK_PACKAGE_FILES}" --output-dir "${CPACK_PACKAGE_DIRECTORY}"
            --zip-name "${CPACK_ARGB_FIELD_CHECK_ZIP}" --objcopy "${CPACK_ARGB_OBJCOPY}"
            --prepared "${field_check_dir}"
            ${CPACK_ARGB_FIELD_CHECK_ENTRIES}
    RESULT_VARIABLE failed ERROR_VARIABLE error)
  if(failed)
    string(STRIP "${error}" error)
    message(FATAL_ERROR " ${error}")
  endif()
endif()
