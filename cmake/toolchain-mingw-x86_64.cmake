set(QP_MINGW_TRIPLE x86_64-w64-mingw32)
set(QP_MINGW_ARCH AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
