# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix). Not what is
# deployed: it runs the Windows tests under 64-bit wine on machines that cannot execute 32-bit
# programs (scripts/windows.sh chooses).
#   cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KAVLO_MINGW x86_64-w64-mingw32)
# /usr/bin/wine prefers the 32-bit loader whenever wine32 is installed; this is the 64-bit one
# (package wine64).
set(KAVLO_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-comum.cmake)
