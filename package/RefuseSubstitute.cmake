# Read by CPack before it packages anything: a package of the substitute firmware image would
# look like a release but cannot update a controller, so it is only made when asked for.
if(CPACK_ARGB_IMAGE_IS_SUBSTITUTE AND NOT CPACK_ARGB_ALLOW_SUBSTITUTE_PACKAGE)
  message(FATAL_ERROR
    "Not packaging: the firmware image ${CPACK_ARGB_FIRMWARE_IMAGE} is the substitute, which "
    "cannot update a real controller. For a release, configure with the controller maker's "
    "image: cmake --preset windows -DARGB_FIRMWARE_IMAGE=<path of the maker's image>. "
    "A package of the substitute, named and documented as such, needs "
    "-DARGB_ALLOW_SUBSTITUTE_PACKAGE=ON.")
endif()
