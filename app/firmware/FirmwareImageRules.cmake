# The layout rules the update relies on, checked for whatever image the build is given. A broken
# rule stops the build with a message that names it.
#
# Included by the build; run on its own it only checks one file:
#   cmake -DIMAGE=<file> -P FirmwareImageRules.cmake

# Flash address of image offset 0, where the loader programs the first byte.
set(ARGB_FW_LINK_BASE 0x1800)
# Last flash address the erase clears; no data block may end past it.
set(ARGB_FW_FLASH_END 0xFFFF)
set(ARGB_FW_BLOCK_SIZE 128)
# The information block is written into these image bytes before the image is programmed over
# them, so they must hold the erased value.
set(ARGB_FW_WINDOW_OFFSET 0x20)
set(ARGB_FW_WINDOW_SIZE 8)
set(ARGB_FW_RESET_VECTOR_OFFSET 4)
# The image CRC starts here, so a usable image is longer.
set(ARGB_FW_CRC_START_OFFSET 40)

function(argb_firmware_image_fail path rule)
  message(FATAL_ERROR "firmware image ${path}: ${rule}")
endfunction()

# Reads the image as lower-case hex digits, two per byte.
function(argb_read_firmware_image path out_hex out_length)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    argb_firmware_image_fail("${path}" "no such file")
  endif()
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR length "${digits} / 2")
  set(${out_hex} "${hex}" PARENT_SCOPE)
  set(${out_length} "${length}" PARENT_SCOPE)
endfunction()

# A number as the messages show it: 0x and upper-case digits.
function(argb_firmware_hex value out)
  math(EXPR digits "${value}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${digits}" 2 -1 digits)
  string(TOUPPER "${digits}" digits)
  set(${out} "0x${digits}" PARENT_SCOPE)
endfunction()

# The little-endian 32-bit word at a byte offset, as a hexadecimal number.
function(argb_firmware_image_word hex offset out)
  math(EXPR position "${offset} * 2")
  string(SUBSTRING "${hex}" ${position} 8 word)
  set(value "")
  foreach(byte 6 4 2 0)
    string(SUBSTRING "${word}" ${byte} 2 digits)
    string(APPEND value "${digits}")
  endforeach()
  argb_firmware_hex("0x${value}" value)
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

function(argb_check_firmware_hex path hex length)
  if(length LESS_EQUAL ${ARGB_FW_CRC_START_OFFSET})
    argb_firmware_image_fail("${path}"
      "${length} bytes; it must be longer than 40 bytes, where the CRC range starts")
  endif()

  math(EXPR position "${ARGB_FW_WINDOW_OFFSET} * 2")
  math(EXPR digits "${ARGB_FW_WINDOW_SIZE} * 2")
  string(SUBSTRING "${hex}" ${position} ${digits} window)
  string(REPEAT "f" ${digits} erased)
  if(NOT window STREQUAL erased)
    argb_firmware_image_fail("${path}"
      "the 0xFF window at offsets 0x20..0x27 (the information block's place) holds ${window} instead")
  endif()

  # Comparisons on decimal values; hexadecimal only for the messages.
  math(EXPR base "${ARGB_FW_LINK_BASE}")
  math(EXPR last "${base} + ${length} - 1")
  argb_firmware_hex(${last} last_hex)
  argb_firmware_image_word("${hex}" ${ARGB_FW_RESET_VECTOR_OFFSET} reset)
  math(EXPR thumb "${reset} & 1")
  if(NOT thumb EQUAL 1)
    argb_firmware_image_fail("${path}" "the reset vector ${reset} lacks bit 0 (Thumb)")
  endif()
  math(EXPR entry "${reset} - 1")
  if(entry LESS base OR entry GREATER last)
    argb_firmware_image_fail("${path}"
      "the reset vector ${reset} lies outside the image (${ARGB_FW_LINK_BASE}..${last_hex})")
  endif()

  math(EXPR block_end
    "${base} + (${length} + ${ARGB_FW_BLOCK_SIZE} - 1) / ${ARGB_FW_BLOCK_SIZE} * ${ARGB_FW_BLOCK_SIZE} - 1")
  math(EXPR flash_end "${ARGB_FW_FLASH_END}")
  if(block_end GREATER flash_end)
    argb_firmware_hex(${block_end} block_end_hex)
    argb_firmware_image_fail("${path}"
      "${length} bytes; the last data block ends at ${block_end_hex}, past the flash end 0xFFFF")
  endif()
endfunction()

function(argb_check_firmware_image path)
  argb_read_firmware_image("${path}" hex length)
  argb_check_firmware_hex("${path}" "${hex}" ${length})
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED IMAGE)
    message(FATAL_ERROR "usage: cmake -DIMAGE=<file> -P FirmwareImageRules.cmake")
  endif()
  argb_check_firmware_image("${IMAGE}")
endif()
