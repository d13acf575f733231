# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix threads),
# statically linked so that the .exe needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# PLONEMAIL_OPENSSL_ROOT: the cross-built OpenSSL (scripts/win-openssl.sh).
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${PLONEMAIL_OPENSSL_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config sees only what was built for Windows, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${PLONEMAIL_OPENSSL_ROOT}/lib/pkgconfig")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# -O2: GCC 12's -O3 warns of overlapping copies inside std::string that
# cannot happen (-Wrestrict). Released programs go without symbols.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE "-s" CACHE STRING "")
# Windows 7 and later; no min/max macros in the way of the standard library.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
# Tests run the programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
