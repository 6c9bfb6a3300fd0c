# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the arm64 packages of the dependencies
# installed through multiarch (libgtest-dev:arm64, libhwy-dev:arm64,
# libsegyio1:arm64).
# Test programs run under user-mode QEMU, which CTest (and the test
# discovery at test time) call through CMAKE_CROSSCOMPILING_EMULATOR.
#
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#     -DVANTIR3_BUILD_BENCH=OFF -DVANTIR3_BUILD_TOOLS=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VANTIR3_CROSS_TRIPLE aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${VANTIR3_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VANTIR3_CROSS_TRIPLE}-g++)

# Headers and libraries of the target: the multiarch folders of the host's
# root for arm64 packages, the cross toolchain's own folder for its runtime.
set(CMAKE_FIND_ROOT_PATH /usr/${VANTIR3_CROSS_TRIPLE})
set(CMAKE_LIBRARY_ARCHITECTURE ${VANTIR3_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# libsegyio-dev cannot be installed for two architectures at once (it is not
# "Multi-Arch: same"; installing the arm64 one removes the native one), so
# the survey library links the arm64 runtime library (libsegyio1:arm64)
# and takes the native package's headers, which do not depend on the
# architecture.
set(SEGYIO_LIBRARY /usr/lib/${VANTIR3_CROSS_TRIPLE}/libsegyio.so.1 CACHE FILEPATH "segyio for ${VANTIR3_CROSS_TRIPLE}")

find_program(VANTIR3_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTIR3_QEMU_AARCH64} -L /usr/${VANTIR3_CROSS_TRIPLE})
