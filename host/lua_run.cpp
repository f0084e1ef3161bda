// `run` and `-e`: a fresh Lua 5.1 state, the plug-in's actions registered, one chunk run,
// in the manner of the stand-alone interpreter (arg table, traceback on errors).
#include "host/commands.h"
#include "platform/library.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace host {
namespace {

struct LuaCloser {
    void operator()(lua_State* L) const { lua_close(L); }
};
using LuaOwner = std::unique_ptr<lua_State, LuaCloser>;

// Message handler for lua_pcall: adds a stack traceback to a string error.
int Traceback(lua_State* L) {
    if (!lua_isstring(L, 1))
        return 1;                               // keep a non-string error object as it is
    lua_getfield(L, LUA_GLOBALSINDEX, "debug"); // stack: msg, debug
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return 1;
    }
    lua_getfield(L, -1, "traceback"); // stack: msg, debug, traceback
    if (!lua_isfunction(L, -1)) {
        lua_pop(L, 2);
        return 1;
    }
    lua_pushvalue(L, 1);   // stack: msg, debug, traceback, msg
    lua_pushinteger(L, 2); // skip this handler
    lua_call(L, 2, 1);     // stack: msg, debug, msg with traceback
    return 1;
}

// The error on top of the stack, as one message.
int ReportLuaError(lua_State* L) {
    const char* message = lua_tostring(L, -1);
    return Fail(message != nullptr ? message : "(error object is not a string)");
}

// Global arg: the chunk at 0, its arguments from 1, the words before it at negative indexes.
void SetArgTable(lua_State* L, const LuaJob& job) {
    const auto before = static_cast<int>(job.words_before.size());
    const auto after = static_cast<int>(job.args.size());
    lua_createtable(L, after, before + 1); // stack: arg
    for (int i = 0; i < before; ++i) {
        lua_pushstring(L, job.words_before[static_cast<std::size_t>(i)].c_str());
        lua_rawseti(L, -2, i - before);
    }
    lua_pushstring(L, job.chunk.c_str());
    lua_rawseti(L, -2, 0);
    for (int i = 0; i < after; ++i) {
        lua_pushstring(L, job.args[static_cast<std::size_t>(i)].c_str());
        lua_rawseti(L, -2, i + 1);
    }
    lua_setfield(L, LUA_GLOBALSINDEX, "arg"); // stack: (empty)
}

const PluginLibrary& PluginOf(lua_State* L) {
    return *static_cast<const PluginLibrary*>(lua_touserdata(L, lua_upvalueindex(1)));
}

// host.Info(): the identity exports as a table, or nil and the reason.
int HostInfo(lua_State* L) {
    const PluginLibrary& plugin = PluginOf(L);
    const char* names[] = {"irPlg_GetPluginName", "irPlg_GetPluginVersion", "irPlg_GetAuthorInfo",
                           "irPlg_GetLuaVersion"};
    const char* keys[] = {"name", "version", "author", "luaVersion"};
    std::string texts[4];
    std::string error;
    auto sdk_version = plugin.Find<SdkVersionExport>("irPlg_GetSDKVersion", error);
    bool ok = sdk_version != nullptr;
    for (int i = 0; ok && i < 4; ++i)
        ok = ReadText(plugin, names[i], texts[i], error);
    if (!ok) {
        lua_pushnil(L);
        lua_pushstring(L, error.c_str());
        return 2;
    }
    lua_createtable(L, 0, 5); // stack: info
    for (int i = 0; i < 4; ++i) {
        lua_pushlstring(L, texts[i].data(), texts[i].size());
        lua_setfield(L, -2, keys[i]);
    }
    lua_pushinteger(L, sdk_version());
    lua_setfield(L, -2, "sdkVersion");
    return 1;
}

// host.Actions(): the action description document, or nil and the reason.
int HostActions(lua_State* L) {
    std::string document, error;
    if (!ReadText(PluginOf(L), "irPlg_GetPluginActionXML", document, error)) {
        lua_pushnil(L);
        lua_pushstring(L, error.c_str());
        return 2;
    }
    lua_pushlstring(L, document.data(), document.size());
    return 1;
}

// host.ShowHelp(folder [, action]): what irPlg_ShowHelpForPlugin or ...ForAction returns.
int HostShowHelp(lua_State* L) {
    const char* folder = luaL_checkstring(L, 1);
    const char* action = luaL_optstring(L, 2, nullptr);
    const PluginLibrary& plugin = PluginOf(L);
    std::string error;
    std::int32_t result = 0;
    if (action != nullptr) {
        auto show = plugin.Find<HelpForActionExport>("irPlg_ShowHelpForAction", error);
        result = show != nullptr ? show(action, folder) : -1;
    } else {
        auto show = plugin.Find<HelpForPluginExport>("irPlg_ShowHelpForPlugin", error);
        result = show != nullptr ? show(folder) : -1;
    }
    if (result == -1 && !error.empty()) {
        lua_pushnil(L);
        lua_pushstring(L, error.c_str());
        return 2;
    }
    lua_pushinteger(L, result);
    return 1;
}

// Global host: what a host application asks the plug-in outside Lua, so that one script
// can check the whole interface in one process.
void SetHostTable(lua_State* L, const PluginLibrary& plugin) {
    const luaL_Reg functions[] = {
        {"Info", HostInfo}, {"Actions", HostActions}, {"ShowHelp", HostShowHelp}};
    lua_createtable(L, 0, 3); // stack: host
    for (const luaL_Reg& f : functions) {
        lua_pushlightuserdata(L, const_cast<PluginLibrary*>(&plugin));
        lua_pushcclosure(L, f.func, 1); // stack: host, function
        lua_setfield(L, -2, f.name);
    }
    lua_setfield(L, LUA_GLOBALSINDEX, "host"); // stack: (empty)
}

} // namespace

int RunLua(const PluginLibrary& plugin, const LuaJob& job) {
    std::string error;
    auto register_actions =
        plugin.Find<RegisterActionsExport>("irPlg_Action_RegisterActions", error);
    if (register_actions == nullptr)
        return Fail(error);
    if (!job.is_code) {
        if (std::FILE* probe = std::fopen(job.chunk.c_str(), "rb"))
            std::fclose(probe);
        else
            return Fail("script not found: " + job.chunk);
    }

    // Scripts compare os.date with the plug-in's results; both follow one zone.
    platform::FollowSystemTimeZone();
    LuaOwner owner(luaL_newstate());
    lua_State* L = owner.get();
    if (L == nullptr)
        return Fail("cannot create a Lua state: out of memory");
    luaL_openlibs(L);
    SetArgTable(L, job);
    SetHostTable(L, plugin);

    // Registration must leave the stack as it found it; a host relies on that.
    lua_pushinteger(L, 1); // a marker below the plug-in's work
    const int top = lua_gettop(L);
    register_actions(L);
    if (lua_gettop(L) != top || lua_tointeger(L, -1) != 1)
        return Fail("irPlg_Action_RegisterActions changed the Lua stack depth from " +
                    std::to_string(top) + " to " + std::to_string(lua_gettop(L)));
    lua_settop(L, 0);

    lua_pushcfunction(L, Traceback); // stack: handler
    const int status =
        job.is_code ? luaL_loadbuffer(L, job.chunk.data(), job.chunk.size(), "=(command line)")
                    : luaL_loadfile(L, job.chunk.c_str());
    if (status != 0)
        return ReportLuaError(L); // stack: handler, message
    for (const std::string& a : job.args)
        lua_pushstring(L, a.c_str()); // stack: handler, chunk, args...
    if (lua_pcall(L, static_cast<int>(job.args.size()), 1, 1) != 0)
        return ReportLuaError(L);
    if (job.result_is_status && !lua_toboolean(L, -1))
        return ExitFailure;
    return ExitOk;
}

} // namespace host
