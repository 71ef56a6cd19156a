# Lumo Listen for 64-bit Raspberry Pi OS and other arm64 Linux machines, cross-built with
# Debian's aarch64-linux-gnu toolchain against the arm64 libraries of the build machine's
# multiarch folders (dpkg --add-architecture arm64, libpulse-dev:arm64), and run under qemu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# The compiler's own runtime lies under /usr/aarch64-linux-gnu; the arm64 libraries that dpkg
# installs lie in the usual folders, under /usr/lib/aarch64-linux-gnu, which the library
# architecture above selects. Programs are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must answer with the arm64 libraries' flags, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# The unit tests run under user-mode qemu, with the arm64 loader and C and C++ runtime of the
# cross toolchain's folder. Its libraries come first: left to the loader's cache it takes the C
# library of the arm64 packages (libc6:arm64, which libpulse-dev:arm64 brings), another build
# of glibc than the toolchain's loader, and a program hangs in its first pthread_create.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu
                                  -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
