# Cross build for 64-bit Windows with MinGW-w64, from the same sources; its tests run under
# 64-bit Wine, also where the machine runs no 32-bit process.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QM_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
