# 32-bit x86 Windows: what ships, so that one build runs on 32-bit Windows 7 too.
set(triple i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
