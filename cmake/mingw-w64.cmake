# Cross-building the Windows program on Debian with mingw-w64 (x86-64, the POSIX thread model).
# Everything is linked statically, so the program needs no DLL beyond Windows' own; the tests run
# under Wine through the emulator below (scripts/test-windows makes its prefix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KV_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libgcc, libstdc++ and winpthread; zlib is found as its static archive. Each function and
# datum in a section of its own, and the linker keeps only the sections reached: the static C++
# library then brings only what the program uses (the update program is downloaded by every
# workstation).
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--gc-sections")
set(ZLIB_USE_STATIC_LIBS ON)

# Wine runs the test programs: its 64-bit loader, a prefix of the caller's choice (the test
# script makes a fresh one per run), no debug channels.
set(KV_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "The Wine prefix the Windows tests run in")
find_program(KV_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(KV_WINE64 NAMES wine64)
if(KV_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEPREFIX=${KV_WINEPREFIX} WINEDEBUG=-all ${KV_WINE64})
endif()
