# Cross build for 64-bit ARM Linux devices with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the arm64 libraries of Debian's multiarch
# (/usr/lib/aarch64-linux-gnu). Tests run under user-mode emulation (qemu-aarch64) with
# the cross C library as its root, so no binfmt registration is needed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and headers of the target only; programs (the emulator) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The emulator takes the program loader from the cross C library (-L); the C and C++
# runtime must then come from the same place. Left to the loader's cache, the C library
# would be the multiarch arm64 one, which follows Debian's stable updates while the cross
# loader does not: loader and C library of different builds share private structures of
# different layout, and the first thread a program starts spins for ever in the C
# library's stack cache. The other arm64 libraries (GoogleTest, libjpeg, ALSA) still come
# from the multiarch directory.
find_program(VISTREL_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(VISTREL_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VISTREL_QEMU_AARCH64} -L /usr/aarch64-linux-gnu
      -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
endif()
