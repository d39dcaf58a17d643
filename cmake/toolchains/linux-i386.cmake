# 32-bit Linux (-m32): the build where the host's 32-bit offsets hold. Tests
# run under qemu-i386 where the kernel cannot run 32-bit programs itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
find_program(FD_QEMU_I386 qemu-i386)
if(FD_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FD_QEMU_I386})
endif()
# Only i386 libraries count: pkg-config must not offer the 64-bit ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
