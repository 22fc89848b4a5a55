# linux-i386.cmake: CMake toolchain for a 32-bit x86 Linux build on an amd64 Debian host, with
# g++-multilib and the i386 multiarch packages of Tcl and GoogleTest (see .ci/run, linux-32bit).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# SSE2 arithmetic, as 32-bit Windows compilers use by default: x87's wider registers would
# round a double product twice, and times and values must come out exactly.
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
# Libraries and package files come from /usr/lib/i386-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
# FindTCL also wants Tk, which nothing here uses and whose i386 package would pull in X11:
# point it at Tcl's own files.
set(TK_LIBRARY /usr/lib/i386-linux-gnu/libtcl8.6.so CACHE FILEPATH "not used")
set(TK_INCLUDE_PATH /usr/include/tcl8.6 CACHE PATH "not used")
set(TK_WISH /bin/false CACHE FILEPATH "not used")
