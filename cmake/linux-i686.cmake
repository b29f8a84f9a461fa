# Linux x86 32-bit with Debian's g++-i686-linux-gnu:
#   cmake -S . -B build-i686-linux -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake
# The x86-64 kernel runs the programs itself; the target's own dynamic loader
# finds the target's libraries in the cross compiler's folder.
set(VARDEL_TRIPLET i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/${VARDEL_TRIPLET}/lib/ld-linux.so.2;--library-path;/usr/${VARDEL_TRIPLET}/lib)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
