# Cross-building for 64-bit Arm Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu), whose own libraries live in /usr/aarch64-linux-gnu:
#
#   cmake -B build-arm64 --toolchain packaging/aarch64-linux-gnu.cmake \
#         -DPython_EXECUTABLE=$PWD/.deps/python3.15-arm64/usr/bin/python3.15 \
#         -DPython_ROOT_DIR=$PWD/.deps/python3.15-arm64/usr
#
# The interpreter is the arm64 one (tools/bootstrap-python 3.15-arm64), run
# under qemu's user-mode emulation. Cross-compiling, FindPython takes its
# headers from the config script in Python_ROOT_DIR/bin rather than from the
# interpreter (scikit-build-core passes both). The tests run under the same
# emulation, with the cross compiler's C and C++ runtimes.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/aarch64-linux-gnu)

# Libraries and packages come from the cross compiler's tree only, so that
# none of this machine's x86-64 ones (its GoogleTest, say) is linked in.
# Headers may also come from elsewhere: the interpreter's are in its prefix.
# Programs are this machine's.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
