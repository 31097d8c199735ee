# Read by cpack for each generator: the portable archive is the desktop
# program alone, stripped.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL desktop)
  set(CPACK_STRIP_FILES ON)
endif()
