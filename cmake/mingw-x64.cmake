set(PELKO_MINGW_TRIPLE x86_64-w64-mingw32)
set(PELKO_WIDL_TARGET_FLAGS -m64 --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
