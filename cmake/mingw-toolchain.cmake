# Cross toolchain for the Windows deliverables. PELKO_MINGW_TRIPLE is set by
# the per-architecture files that include this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 5.1)

set(CMAKE_C_COMPILER   ${PELKO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELKO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${PELKO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELKO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No libstdc++/libgcc/winpthread DLL is shipped: link everything in.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

