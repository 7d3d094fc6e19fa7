# Cross build for 64-bit Arm Linux boards with Debian's cross compiler
# (g++-aarch64-linux-gnu). The target's libraries come from Debian multiarch
# (libjpeg62-turbo-dev:arm64, libgtest-dev:arm64, ...), which puts them under
# /usr/lib/aarch64-linux-gnu beside the host's, so there is no sysroot: the
# compiler's multiarch triplet is what keeps the two apart.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Without binfmt the host cannot start an aarch64 program by itself, so the
# build's own aarch64 programs (test discovery, the tests, the camera stand-in)
# run under qemu-user. A full path, because the tests start it with
# posix_spawn, which does not search PATH.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(PICSERIES_QEMU_AARCH64 qemu-aarch64)
    if(PICSERIES_QEMU_AARCH64)
        set(CMAKE_CROSSCOMPILING_EMULATOR "${PICSERIES_QEMU_AARCH64}")
    endif()
endif()
