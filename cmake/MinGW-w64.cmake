# Windows x64 programs built on Debian with MinGW-w64 (g++-mingw-w64-x86-64-posix), run by
# Wine where a build runs them (its tests, the package's smoke test):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/MinGW-w64.cmake
# Everything is linked statically, so that a program runs from any folder with no MinGW DLL
# beside it, under Wine as on Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(tandra_mingw x86_64-w64-mingw32)
# The posix flavour: std::thread and std::mutex, which the tests use, need its threads.
set(CMAKE_C_COMPILER ${tandra_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tandra_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${tandra_mingw}-windres)

# Libraries and headers of MinGW's own (zlib from libz-mingw-w64-dev), never the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${tandra_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config would otherwise offer the build machine's libftdi1.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${tandra_mingw}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# zlib as a static library: the one MinGW ships as a DLL import library would need zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${tandra_mingw}/lib/libz.a CACHE FILEPATH "zlib for Windows")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# The Windows programs of a build run under Wine: the tests through ctest, and gtest's listing
# of each test program's cases at build time.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh)
