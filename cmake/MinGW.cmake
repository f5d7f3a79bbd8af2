# Cross-compiles the Windows program with mingw-w64 from Debian's packages.
# QUORVADEL_MINGW_ARCH chooses the flavour: x86_64 (default) or i686. The
# tests run the programs under wine as emulator: wine64 for x86_64, the 32-bit
# loader for i686 (-DCMAKE_CROSSCOMPILING_EMULATOR=... names another).
set(CMAKE_SYSTEM_NAME Windows)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVADEL_MINGW_ARCH)
if(NOT QUORVADEL_MINGW_ARCH)
  set(QUORVADEL_MINGW_ARCH x86_64)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${QUORVADEL_MINGW_ARCH})
set(MINGW_TRIPLE ${QUORVADEL_MINGW_ARCH}-w64-mingw32)

# The POSIX thread model: GoogleTest needs std::mutex, which the win32 one lacks.
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLL beyond Windows' own: the C and C++ run-times are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

if(QUORVADEL_MINGW_ARCH STREQUAL "i686")
  set(MINGW_WINE /usr/lib/wine/wine)
else()
  set(MINGW_WINE /usr/lib/wine/wine64)
endif()
if(EXISTS ${MINGW_WINE} AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MINGW_WINE})
endif()
