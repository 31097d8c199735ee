# Read by cpack for each generator: the portable archive is the desktop
# program alone, stripped, in one folder.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL desktop)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)  # kivo-VERSION-linux-ARCH/bin/kivo
endif()
