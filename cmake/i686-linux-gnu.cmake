# 32-bit x86 build on a Debian amd64 host (g++-multilib and the :i386 -dev packages).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
# find_library and find_path then look in the i386 multiarch directories.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# A bare -m32 still gives the x86_64 .pc files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
