# The shipped program: 32-bit Windows (PE32), built with the mingw-w64 posix-thread compilers; its tests
# run under the same Wine (the prefix runs 32-bit programs through its syswow64 half).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(UNINST_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${UNINST_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UNINST_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${UNINST_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${UNINST_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
