# Cross compilation for 32-bit x86 Windows with mingw-w64.
set(RAVLOK_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
