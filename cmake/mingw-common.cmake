# Shared part of the two mingw-w64 toolchains. QP_MINGW_TRIPLE is set by the caller.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QP_MINGW_ARCH})

# The posix thread model: std::thread and std::mutex (GoogleTest needs them; linked statically).
find_program(CMAKE_C_COMPILER ${QP_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER ${QP_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER ${QP_MINGW_TRIPLE}-windres REQUIRED)
# Debian names it after the target; older packages also had a plain "widl".
find_program(QP_WIDL NAMES ${QP_MINGW_TRIPLE}-widl widl REQUIRED)
# The Wine loader of this build's bitness, called directly everywhere (CMake, tests, tools): with
# wine32 installed, Debian's "wine" launcher starts the 32-bit loader first even for a 64-bit
# program, which costs seconds a start where 32-bit programs run emulated. A 32-bit tree without
# the 32-bit loader still builds and packages.
if(QP_MINGW_ARCH STREQUAL "AMD64")
  find_program(QP_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
else()
  find_program(QP_WINE wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
endif()

# widl's standard IDL imports (oaidl.idl, ocidl.idl) and stdole2.tlb come from Wine's packages
# (libwine-dev, wine64).
find_path(QP_WINE_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows NO_DEFAULT_PATH REQUIRED)
find_path(QP_STDOLE2_DIR stdole2.tlb
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows
          NO_DEFAULT_PATH REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
