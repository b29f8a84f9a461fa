# Linux ARM 64-bit with Debian's g++-aarch64-linux-gnu; the programs run here
# under qemu-user:
#   cmake -S . -B build-aarch64-linux -DCMAKE_TOOLCHAIN_FILE=cmake/linux-aarch64.cmake
set(VARDEL_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
find_program(VARDEL_QEMU NAMES qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VARDEL_QEMU};-L;/usr/${VARDEL_TRIPLET})
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
