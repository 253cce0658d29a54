# Cross build for 32-bit Windows with MinGW-w64; tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QM_MINGW_PREFIX i686-w64-mingw32)

# The -posix variants carry std::thread and std::mutex.
set(CMAKE_C_COMPILER   ${QM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${QM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Each build tree has a Wine prefix of its own; scripts/wine-exec sets up the environment.
get_filename_component(QM_TOOLCHAIN_DIR ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QM_TOOLCHAIN_DIR}/../scripts/wine-exec)
