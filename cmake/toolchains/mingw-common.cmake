# Shared part of the MinGW-w64 cross toolchains: the including file sets
# SLV_MINGW_TRIPLE (x86_64-w64-mingw32 or i686-w64-mingw32) first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${SLV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SLV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SLV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SLV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe each: the compiler's own run-time libraries
# (libstdc++, libgcc, winpthread) are linked in, so nothing but the client
# library has to lie beside the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine (scripts/windows.sh sets up the prefix).
get_filename_component(_slv_root "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR /bin/bash ${_slv_root}/scripts/windows.sh run)
