# Linux ARM 32-bit (armhf, e.g. Raspberry Pi OS) with Debian's
# g++-arm-linux-gnueabihf; the programs run here under qemu-user:
#   cmake -S . -B build-armhf-linux -DCMAKE_TOOLCHAIN_FILE=cmake/linux-armhf.cmake
set(VARDEL_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
find_program(VARDEL_QEMU NAMES qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VARDEL_QEMU};-L;/usr/${VARDEL_TRIPLET})
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
