# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VS_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VS_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VS_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VS_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${VS_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${VS_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything the compiler brings (libgcc, libstdc++, winpthread) is linked in,
# so the module and the test programs need no DLL beyond Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
