# Cross-build of the 32-bit Windows DLL with Debian's MinGW-w64 (g++-mingw-w64-i686-posix): the
# DLL the payroll application loads.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KAVLO_MINGW i686-w64-mingw32)
# Debian's wine runs 32-bit programs with wine32 (wine32:i386).
set(KAVLO_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-comum.cmake)
