# Warnings, sanitizers and the static Windows runtime, for every target of the tree.
option(QM_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QM_BUILD_TESTS "Build the test programs" ON)

add_compile_options(-Wall -Wextra)

if(QM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # Binaries need no DLL beyond the system's: static C and C++ runtimes and winpthreads.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# zlib: the system's shared library on Linux, the static MinGW one for Windows.
if(WIN32)
  find_library(QM_ZLIB NAMES libz.a z REQUIRED)
  add_library(QmZlib INTERFACE)
  target_link_libraries(QmZlib INTERFACE ${QM_ZLIB})
else()
  find_package(ZLIB REQUIRED)
  add_library(QmZlib INTERFACE)
  target_link_libraries(QmZlib INTERFACE ZLIB::ZLIB)
endif()
