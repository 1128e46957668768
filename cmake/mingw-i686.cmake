# Cross-build for 32-bit Windows with Debian's MinGW-w64. The posix thread
# model is needed by GoogleTest (std::mutex); the installer itself uses no
# thread support from the compiler's libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZV_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${ZV_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZV_TRIPLET}-windres)
set(CMAKE_OBJDUMP      ${ZV_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZV_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
