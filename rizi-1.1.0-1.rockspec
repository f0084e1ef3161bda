-- The Lua module rizi for LuaRocks: `luarocks make` in a checkout builds it with CMake and
-- installs rizi.so (rizi.dll) alone. The version is the release's, RIZI_RELEASE_VERSION in
-- CMakeLists.txt; the test rockspec_version keeps this file's name and version equal to it.
rockspec_format = "3.0"
package = "rizi"
version = "1.1.0-1"
source = {
   url = "git+https://www.vadorov.example/rizi.git",
   tag = "v1.1.0",
}
description = {
   summary = "Network time (SNTP and RFC 868 Time Protocol) and the local time zone",
   detailed = [[
      local rizi = require "rizi" gives the four functions of the Rizi plug-in:
      rizi.RetrieveNTPTime(server [, timeout]) and rizi.RetrieveTSTime(server [, timeout])
      return the server's time as UTC and as local time, or nil; rizi.GetTimezoneName() and
      rizi.GetTimezoneBias() report the local time zone.
   ]],
   homepage = "https://www.vadorov.example/rizi",
   license = "MIT",
}
dependencies = {
   "lua >= 5.1, < 5.5",
}
build = {
   type = "cmake",
   variables = {
      CMAKE_BUILD_TYPE = "Release",
      CMAKE_INSTALL_PREFIX = "$(PREFIX)",
      RIZI_MODULE_ONLY = "ON",
      RIZI_LUA_CMOD_DIR = "$(LIBDIR)",
      LUA_INCDIR = "$(LUA_INCDIR)",
      LUA_LIBDIR = "$(LUA_LIBDIR)",
      LUALIB = "$(LUALIB)",
   },
}
