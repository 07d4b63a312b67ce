# 64-bit x86 Windows: the same sources, for the tests on machines that cannot run 32-bit code.
set(triple x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
