# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads,
# which std::thread and Qt need). TARLO_WINDOWS_PREFIX lists the folders that
# hold what was built for Windows (Qt, SQLite, GoogleTest); only they and the
# toolchain's own root are searched for libraries, headers and packages.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARLO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARLO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARLO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TARLO_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARLO_MINGW} $ENV{TARLO_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
