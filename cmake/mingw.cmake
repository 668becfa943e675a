# Cross build for Windows with Debian's mingw-w64 toolchains. The preset
# names the target in VELDCONF_MINGW_ARCH: i686 (32-bit) or x86_64 (64-bit).
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELDCONF_MINGW_ARCH)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VELDCONF_MINGW_ARCH})
# The posix thread model: std::thread for veldconf-provision.
set(CMAKE_CXX_COMPILER ${VELDCONF_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_FIND_ROOT_PATH /usr/${VELDCONF_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
