# Shared part of the mingw-w64 toolchain files: cross-compiling for Windows with the
# compilers of the Debian mingw-w64 packages (their -posix variants, whose thread model
# gives std::mutex, which GoogleTest needs). Include after setting PSRL_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${PSRL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PSRL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PSRL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PSRL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and library carries its own copy of libgcc, libstdc++ and winpthread, so
# that it runs without the toolchain's DLLs beside it (under Wine, or copied to Windows).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
