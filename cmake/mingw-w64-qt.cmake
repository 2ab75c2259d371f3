# Cross-building against a Qt for 64-bit Windows (scripts/windows-kit) with
# Debian's MinGW-w64, POSIX thread flavour. Unlike mingw-w64.cmake, nothing is
# linked statically: Qt's DLLs use the compiler's own runtime DLLs, and the
# program must share them, so that one C++ runtime and one heap serve both.
# PRICELOOKUP_QT_KIT names the kit's folder; scripts/windows-kit prints it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Kept for try_compile projects, which do not see the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PRICELOOKUP_QT_KIT)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${PRICELOOKUP_QT_KIT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# moc, rcc and uic are the host's own, of the same Qt version as the kit.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
