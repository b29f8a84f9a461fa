# A plain cross toolchain file whose compiler names a target that Debian
# has no architecture for (unknown-target-g++: this machine's g++ under
# another name).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR sparc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/unknown-target-g++)
set(CMAKE_FIND_ROOT_PATH /nonexistent/sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
