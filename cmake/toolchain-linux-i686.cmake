# Builds for 32-bit x86 Linux on a 64-bit x86 Debian machine (gcc -m32, from
# g++-multilib), with the i386 architecture's libraries (libmp3lame-dev:i386
# and the test libraries; tools/setup.sh i386 installs them). The programs run
# under qemu-user, ctest's emulator: the machine's kernel need not run 32-bit
# code itself (tools/test-i386.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
# Debian's multiarch folders of the i386 packages (/usr/lib/i386-linux-gnu).
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# pkg-config reads the i386 packages' .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
# -L /: the programs' loader (/lib/ld-linux.so.2, libc6:i386) and libraries
# are the machine's own.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /)
