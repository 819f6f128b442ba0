# Cross build for 64-bit Windows 10 and later with Debian's mingw-w64 (POSIX thread model, so
# std::thread and std::mutex work), everything linked statically: the test programs and the local
# cloud run under Wine, or on Windows, without DLLs beside them.
#
# The third-party libraries (GoogleTest, libcurl, OpenSSL's libcrypto, the JSON and HTTP-server
# headers) are looked up only in KELVO_WINDOWS_DEPS_PREFIX, which scripts/test-windows fills; the
# build machine's own Linux libraries are never taken.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_triplet}-windres)
set(CMAKE_AR ${_triplet}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${_triplet}-ranlib CACHE FILEPATH "")

# try_compile re-reads this file in a fresh project: pass the prefix on to it.
if(NOT KELVO_WINDOWS_DEPS_PREFIX AND DEFINED ENV{KELVO_WINDOWS_DEPS_PREFIX})
  set(KELVO_WINDOWS_DEPS_PREFIX "$ENV{KELVO_WINDOWS_DEPS_PREFIX}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELVO_WINDOWS_DEPS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${_triplet} ${KELVO_WINDOWS_DEPS_PREFIX})
set(CMAKE_PREFIX_PATH ${KELVO_WINDOWS_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config (the HTTP-server header is found through it) sees the prefix's .pc files only.
if(KELVO_WINDOWS_DEPS_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${KELVO_WINDOWS_DEPS_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()

# Windows 10 API level, for the project and for the checks configure compiles.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs, gtest_discover_tests and the local cloud run through 64-bit Wine. Debian's wine64
# package puts the loader in /usr/lib/wine without a command in PATH.
find_program(KELVO_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(KELVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVO_WINE})
endif()
