# Cross-builds Kelvarn for 64-bit Windows with mingw-w64 (the posix thread
# model, so std::thread and std::mutex work), and runs what it builds, tests
# included, under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# json-c, uchardet, libxml2 and libxlsxwriter, cross-built by scripts/setup-windows.
set(KELVARN_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build/windows-deps/prefix" CACHE PATH
    "Where scripts/setup-windows installed the cross-built libraries")
# try_compile re-reads this file in a project of its own: hand it the choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELVARN_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${KELVARN_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 package puts no wine64 on the PATH.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)

# One .exe that needs only the system's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# pkg-config finds the cross-built libraries' .pc files, never the machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${KELVARN_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
