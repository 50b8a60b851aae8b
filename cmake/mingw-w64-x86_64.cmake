# Cross-builds the Windows programs (x64) with Debian's mingw-w64 compiler, the posix thread
# model for std::thread. Test programs run under Wine through scripts/wine-run, with a Wine
# prefix of the build folder's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVANE_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELVANE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVANE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVANE_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVANE_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, winpthread and zlib are linked in, so that the programs and the DLL run
# on a Windows machine with nothing installed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${CMAKE_BINARY_DIR})

# zlib linked in as well (libz.a, not zlib1.dll).
set(ZLIB_USE_STATIC_LIBS ON)

# Test programs are listed when ctest runs them, not while building: Wine starts slowly,
# and more so while the build keeps both cores busy.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
