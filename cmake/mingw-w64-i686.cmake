# Cross-compiling for Windows (i686) with Debian's mingw-w64 compilers (posix threads, for std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QM4107_MINGW_TRIPLE i686-w64-mingw32)

set(CMAKE_C_COMPILER ${QM4107_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM4107_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QM4107_MINGW_TRIPLE}-windres)

# Libraries built for Windows (libmodbus, Qt, GoogleTest) live in prefixes of their own, listed in
# QM4107_WINDOWS_PREFIXES; headers, libraries and packages are only looked for there, never on the host.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QM4107_WINDOWS_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/${QM4107_MINGW_TRIPLE} ${QM4107_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
