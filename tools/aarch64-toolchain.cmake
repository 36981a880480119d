# Cross build for aarch64 Linux with Debian's cross compiler, against the arm64 root of
# tools/toolchains.sh; the interpreter runs under qemu-user (tools/check_aarch64.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
