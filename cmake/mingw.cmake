# Cross compilation for Windows with mingw-w64 (win32 thread model), for the
# target that the including toolchain file names in RAVLOK_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${RAVLOK_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${RAVLOK_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${RAVLOK_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${RAVLOK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine, in the sandbox prefix of the test run.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/support/wine-run)
