-- The Lua module rizi for LuaRocks: `luarocks make` in a checkout builds it with CMake and
-- installs rizi.so (rizi.dll) alone. The version is the release's, RIZI_RELEASE_VERSION in
-- CMakeLists.txt; the test rockspec_version keeps this file's name and version equal to it.
-- Mbed TLS, linked statically, comes from build/mbedtls/<arch> of the checkout, built at
-- configure time by scripts/build-mbedtls.sh when missing; `luarocks make MBEDTLS_DIR=DIR`
-- names one built already (without it LuaRocks warns of an unmatched variable, and the
-- default holds).
rockspec_format = "3.0"
package = "rizi"
version = "1.2.0-1"
source = {
   url = "git+https://www.vadorov.example/rizi.git",
   tag = "v1.2.0",
}
description = {
   summary = "Network time (SNTP, RFC 868, NTPv4, NTS, HTTPS) and the local time zone",
   detailed = [[
      local rizi = require "rizi" gives the functions of the Rizi plug-in:
      rizi.RetrieveNTPTime(server [, timeout]) and rizi.RetrieveTSTime(server [, timeout])
      return the server's time as UTC and as local time, or nil; rizi.GetTimezoneName() and
      rizi.GetTimezoneBias() report the local time zone. The measurement functions give the
      time with its fraction, the local clock's offset and an error bound, or nil and a
      message: rizi.QueryNTP (NTPv4), rizi.QueryNTS (NTPv4 authenticated with Network Time
      Security, RFC 8915), rizi.QueryNTPServers (the time a majority of several servers
      agrees on), rizi.QueryHTTPS (a web server's Date header); rizi.Now() carries the best
      measurement forward, and rizi.Start runs any of them in the background. Mbed TLS
      (Apache-2.0) is linked in statically.
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
      RIZI_MBEDTLS_DIR = "$(MBEDTLS_DIR)",
   },
}
