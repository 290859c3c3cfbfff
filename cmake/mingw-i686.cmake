# Cross build for Windows with mingw-w64. The -posix compiler variants use winpthreads, which
# gives std::thread and std::mutex; the runtime is linked statically, so the executables import
# nothing but Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run the executables under Wine, started with the loader of their own bitness so that the
# process id seen from Linux is the program's own.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
set(STEWARD_OBJDUMP i686-w64-mingw32-objdump)
