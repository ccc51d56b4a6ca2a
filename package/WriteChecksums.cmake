# Run by CPack once the zip is made: SHA256SUMS beside it, in the form sha256sum writes, so that
# `sha256sum -c SHA256SUMS` checks a download.
set(sums "")
foreach(package_file IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 "${package_file}" hash)
  get_filename_component(name "${package_file}" NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
