# Cross build for Windows with MinGW-w64; tests run under Wine. Included by the toolchain
# file of each processor, which sets CMAKE_SYSTEM_PROCESSOR and QM_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix variants carry std::thread and std::mutex.
set(CMAKE_C_COMPILER   ${QM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${QM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Each build tree has a Wine prefix of its own; scripts/wine-exec sets up the environment
# and picks the Wine that runs the program's processor.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec)
