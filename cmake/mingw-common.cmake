# Shared part of the two mingw-w64 toolchains. QP_MINGW_TRIPLE is set by the caller.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QP_MINGW_ARCH})

# The posix thread model: std::thread and std::mutex (GoogleTest needs them; linked statically).
find_program(CMAKE_C_COMPILER ${QP_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER ${QP_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER ${QP_MINGW_TRIPLE}-windres REQUIRED)
# Debian names it after the target; older packages also had a plain "widl".
find_program(QP_WIDL NAMES ${QP_MINGW_TRIPLE}-widl widl REQUIRED)
find_program(QP_WINE wine REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests run under Wine in the build tree's own prefix (tools/wine-run sets it up).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
