# Cross-build for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# x86_64 rather than i686: Debian's Wine runs 64-bit programs with the wine64
# package alone, while 32-bit ones need the i386 architecture and wine32.
#
# The "-posix" compilers use the POSIX thread model (winpthreads): only with it
# does libstdc++ provide std::thread, std::mutex and std::call_once, which the
# core uses. The "-win32" variants lack them in GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KIVO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KIVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KIVO_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KIVO_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${KIVO_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KIVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread are linked in, so a built program needs no
# DLL beside it: it runs as it is, on Windows and under Wine. System DLLs
# (kernel32, wininet, advapi32...) are still imported as usual.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine when it is installed (ctest, gtest discovery).
find_program(KIVO_WINE NAMES wine)
if(KIVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KIVO_WINE})
endif()
