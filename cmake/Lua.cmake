# Built for LuaRocks (RIZI_MODULE_ONLY): the headers of the Lua it names in LUA_INCDIR, for
# the module alone, whatever version they are; on Windows also the DLL's import library,
# LUA_LIBDIR/LUALIB.
if(RIZI_MODULE_ONLY AND LUA_INCDIR)
    add_library(lua::headers INTERFACE IMPORTED)
    target_include_directories(lua::headers INTERFACE "${LUA_INCDIR}")
    add_library(lua::lua INTERFACE IMPORTED)
    target_link_libraries(lua::lua INTERFACE lua::headers)
    if(WIN32 AND LUA_LIBDIR AND LUALIB)
        target_link_libraries(lua::lua INTERFACE "${LUA_LIBDIR}/${LUALIB}")
    endif()
    return()
endif()

# Lua 5.1 for our targets:
#   lua::headers  the C API's headers only (the plug-in on POSIX takes the API from its host)
#   lua::lua      headers and the library to link against
# On Linux both come from Debian's liblua5.1-0-dev. For Windows, RIZI_LUA_WIN_DIR names a
# folder made by scripts/build-lua-windows.sh: include/, lua5.1.dll and liblua5.1.dll.a.
if(WIN32)
    set(RIZI_LUA_WIN_DIR "" CACHE PATH "Lua 5.1 built for this Windows architecture")
    if(NOT EXISTS "${RIZI_LUA_WIN_DIR}/liblua5.1.dll.a")
        message(FATAL_ERROR "RIZI_LUA_WIN_DIR must hold lua5.1.dll and liblua5.1.dll.a "
                            "(run scripts/build-lua-windows.sh)")
    endif()
    add_library(lua::headers INTERFACE IMPORTED)
    target_include_directories(lua::headers INTERFACE "${RIZI_LUA_WIN_DIR}/include")
    add_library(lua::lua INTERFACE IMPORTED)
    # The DLL itself, linked by its path (-static ignores *.dll.a), not its import library: ld
    # orders the import tables of archives by the archives' paths, so the place of an import
    # library among the system ones would follow the folder the tree sits in. The imports ld
    # makes from the DLL take the same place wherever the tree is.
    target_link_libraries(lua::lua INTERFACE lua::headers "${RIZI_LUA_WIN_DIR}/lua5.1.dll")
    set(RIZI_LUA_DLL "${RIZI_LUA_WIN_DIR}/lua5.1.dll")
    # Programs and the plug-in in bin/ load the DLL from beside them.
    configure_file("${RIZI_LUA_DLL}" "${CMAKE_BINARY_DIR}/bin/lua5.1.dll" COPYONLY)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(LUA51 REQUIRED IMPORTED_TARGET lua5.1)
    add_library(lua::headers INTERFACE IMPORTED)
    target_include_directories(lua::headers INTERFACE ${LUA51_INCLUDE_DIRS})
    add_library(lua::lua INTERFACE IMPORTED)
    target_link_libraries(lua::lua INTERFACE PkgConfig::LUA51)
endif()

# Lua 5.4 on Linux, when Debian's liblua5.4-dev is there: the second module is compiled
# against its headers (lua54::headers), its tests link the library (lua54::lua).
if(NOT WIN32)
    pkg_check_modules(LUA54 IMPORTED_TARGET lua5.4)
    if(LUA54_FOUND)
        add_library(lua54::headers INTERFACE IMPORTED)
        target_include_directories(lua54::headers INTERFACE ${LUA54_INCLUDE_DIRS})
        add_library(lua54::lua INTERFACE IMPORTED)
        target_link_libraries(lua54::lua INTERFACE PkgConfig::LUA54)
    endif()
endif()
