# 32-bit Windows, the shipping target: PE32 i386.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PSRL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
