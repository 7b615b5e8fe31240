# Cross build of the Windows program with mingw-w64 (64-bit, posix threads).
# Test executables run through Wine; everything is linked statically so that
# no runtime DLL has to sit beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ZT_WINE_PROGRAM NAMES wine wine64)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZT_WINE_PROGRAM})

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
