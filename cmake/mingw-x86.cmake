set(PELKO_MINGW_TRIPLE i686-w64-mingw32)
set(PELKO_WIDL_TARGET_FLAGS -m32 --win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
