# mingw-i686.cmake: CMake toolchain for 32-bit Windows DLLs built with Debian's mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUORVEL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVEL_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW_PREFIX}-windres)
# SSE2 arithmetic, as 32-bit Windows compilers use by default: x87's wider registers would
# round a double product twice, and times and values must come out exactly.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
find_program(QUORVEL_DLLTOOL ${QUORVEL_MINGW_PREFIX}-dlltool REQUIRED)
find_program(QUORVEL_OBJDUMP ${QUORVEL_MINGW_PREFIX}-objdump REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
