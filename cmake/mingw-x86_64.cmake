# 64-bit Windows: PE32+ x86-64, whose programs run here under wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PSRL_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs run through Wine, in a prefix of their own inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
