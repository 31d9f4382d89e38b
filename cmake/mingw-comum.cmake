# What the two MinGW-w64 toolchain files share; each sets KAVLO_MINGW (the target triplet) and
# KAVLO_WINE (the wine loader for programs of that width) before including this file.
# The "-posix" compilers are the ones whose libstdc++ has std::mutex and std::thread.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KAVLO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAVLO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KAVLO_MINGW}-windres)
set(CMAKE_OBJDUMP ${KAVLO_MINGW}-objdump CACHE FILEPATH "objdump of the cross toolchain")

set(CMAKE_FIND_ROOT_PATH /usr/${KAVLO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under wine when CMake or ctest need to run them.
set(CMAKE_CROSSCOMPILING_EMULATOR ${KAVLO_WINE})
