# Cross-building for 64-bit Arm Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) against the multiarch arm64 libraries
# (/usr/lib/aarch64-linux-gnu: zlib1g-dev:arm64, libgtest-dev:arm64).
# Test programs run under user-mode emulation, at test discovery and in
# ctest alike. The emulator gets no -L: the arm64 loader and C library come
# from libc6:arm64 at their usual paths, and a second glibc build given
# through -L makes every new thread hang.
#   cmake -S . -B build/aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

find_program(CORVANE_AARCH64_EMULATOR NAMES qemu-aarch64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANE_AARCH64_EMULATOR})
