# What the Linux cross toolchain files share. Each sets VARDEL_TRIPLET (the
# Debian cross compiler's prefix), CMAKE_SYSTEM_PROCESSOR and the command
# that runs the target's programs on this machine, then includes this file.
set(CMAKE_SYSTEM_NAME Linux)

find_program(VARDEL_CROSS_CXX NAMES ${VARDEL_TRIPLET}-g++ REQUIRED)
set(CMAKE_CXX_COMPILER ${VARDEL_CROSS_CXX})

set(CMAKE_FIND_ROOT_PATH /usr/${VARDEL_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
