# Cross-compiling for Windows (i686) with mingw-w64, posix thread model: the win32 model of
# GCC 12 has no std::mutex or std::thread. Libraries are linked statically (see the top-level
# CMakeLists.txt), so no libgcc, libstdc++ or winpthread DLL is needed beside our files.
# Usage: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(RIZI_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${RIZI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RIZI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RIZI_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RIZI_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lua 5.1 for this architecture, as scripts/build-lua-windows.sh leaves it.
get_filename_component(RIZI_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(RIZI_LUA_WIN_DIR "${RIZI_SOURCE_ROOT}/build/lua-win/i686" CACHE PATH
    "Lua 5.1 built for this Windows architecture")

# Every program and the plug-in in one folder, beside lua5.1.dll, so Windows finds the DLL.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
