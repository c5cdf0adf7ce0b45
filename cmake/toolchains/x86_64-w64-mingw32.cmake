# Cross build of the PC side for 64-bit Windows with Debian's mingw-w64 compilers, the
# variant with POSIX threads (g++-mingw-w64-x86-64-posix: std::thread and std::mutex work).
# Programs and modules link the compiler's runtime statically, so they run on a bare
# Windows (or Wine) without any of the toolchain's DLLs beside them.
#
# Tests run under Wine (Debian's wine64) through cmake/toolchains/wine-run, which keeps a
# private Wine prefix inside the build folder and makes it on first use.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Libraries and headers of the target only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libjpeg for Windows, built from Debian's libjpeg-turbo sources by
# cmake/toolchains/build-libjpeg-windows into the build folder.
set(VISTREL_WINDOWS_LIBJPEG ${CMAKE_BINARY_DIR}/libjpeg/prefix)
if(EXISTS ${VISTREL_WINDOWS_LIBJPEG}/lib/libjpeg.a)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VISTREL_WINDOWS_LIBJPEG})
endif()

# No .pc file of the build machine describes a Windows library.
set(ENV{PKG_CONFIG_LIBDIR} /usr/x86_64-w64-mingw32/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Windows 7 and later: the condition variables, SRW locks and GetTickCount64 used by the
# platform layer.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -DUNICODE -D_UNICODE")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -DUNICODE -D_UNICODE")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

find_program(VISTREL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT VISTREL_WINE)
  find_program(VISTREL_WINE NAMES wine64 wine)
endif()
if(VISTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_LIST_DIR}/wine-run ${CMAKE_BINARY_DIR}/wine)
endif()
