# The text check: no source of the program, its server or the tools that build
# its resources holds a non-ASCII literal, except the text sources
# (KIVO_TEXT_SOURCES), since only those are compiled to GBK. Comments may hold
# any text. The check reads the sources of both platforms, so the native build
# alone runs it; a failing check fails the build.
if(CMAKE_CROSSCOMPILING)
  return()
endif()

set(KIVO_CHECKED_GLOBS)
# res/generator is left out: its lettering is drawn into the skin's bitmaps at
# build time, as UTF-8 for pango, and never reaches the program as text.
foreach(dir app net ui platform shells server res/win32 packaging)
  list(APPEND KIVO_CHECKED_GLOBS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp ${PROJECT_SOURCE_DIR}/${dir}/*.h)
endforeach()
file(GLOB_RECURSE KIVO_CHECKED_SOURCES CONFIGURE_DEPENDS ${KIVO_CHECKED_GLOBS})
foreach(source ${KIVO_TEXT_SOURCES})
  list(REMOVE_ITEM KIVO_CHECKED_SOURCES ${PROJECT_SOURCE_DIR}/${source})
endforeach()

add_executable(kivo-text-check ${CMAKE_CURRENT_LIST_DIR}/text_check.cpp)
set(KIVO_TEXT_CHECK_STAMP ${CMAKE_BINARY_DIR}/text_check.stamp)
add_custom_command(
  OUTPUT ${KIVO_TEXT_CHECK_STAMP}
  COMMAND kivo-text-check ${KIVO_CHECKED_SOURCES}
  COMMAND ${CMAKE_COMMAND} -E touch ${KIVO_TEXT_CHECK_STAMP}
  DEPENDS kivo-text-check ${KIVO_CHECKED_SOURCES}
  COMMENT "Checking that only the text sources hold non-ASCII literals")
add_custom_target(kivo_text_check ALL DEPENDS ${KIVO_TEXT_CHECK_STAMP})
