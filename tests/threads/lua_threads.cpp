// Eight host threads at once, each with a Lua state of its own in which the plug-in's
// actions are registered the way a host registers them, each running the same script
// against the real loopback servers. Usage: lua_threads PLUGIN SCRIPT ROUNDS
// Exits 0 when every thread's script ran without error.
#include "host/plugin_library.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int Threads = 8;

struct ThreadRun {
    int index = 0;
    std::string error; // empty when the script ran through
};

// One thread: a fresh state with the standard libraries and the actions, the script run
// with the globals thread (its index) and rounds set.
void RunScript(host::RegisterActionsExport register_actions, const char* script, int rounds,
               ThreadRun* run) {
    lua_State* L = luaL_newstate();
    if (L == nullptr) {
        run->error = "no Lua state";
        return;
    }
    luaL_openlibs(L);
    register_actions(L);
    lua_pushinteger(L, run->index);
    lua_setfield(L, LUA_GLOBALSINDEX, "thread"); // stack: (empty)
    lua_pushinteger(L, rounds);
    lua_setfield(L, LUA_GLOBALSINDEX, "rounds"); // stack: (empty)
    if (luaL_loadfile(L, script) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
        const char* message = lua_tostring(L, -1);
        run->error = message != nullptr ? message : "(error object is not a string)";
    }
    lua_close(L);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: lua_threads PLUGIN SCRIPT ROUNDS\n");
        return 2;
    }
    host::PluginLibrary plugin;
    std::string error;
    if (!plugin.Open(argv[1], error)) {
        std::fprintf(stderr, "lua_threads: %s\n", error.c_str());
        return 1;
    }
    const auto register_actions =
        plugin.Find<host::RegisterActionsExport>("irPlg_Action_RegisterActions", error);
    if (register_actions == nullptr) {
        std::fprintf(stderr, "lua_threads: %s\n", error.c_str());
        return 1;
    }
    const int rounds = std::atoi(argv[3]);

    std::vector<ThreadRun> runs(Threads);
    std::vector<std::thread> threads;
    for (int i = 0; i < Threads; ++i) {
        runs[static_cast<std::size_t>(i)].index = i;
        threads.emplace_back(RunScript, register_actions, argv[2], rounds,
                             &runs[static_cast<std::size_t>(i)]);
    }
    for (std::thread& thread : threads)
        thread.join();

    int failed = 0;
    for (const ThreadRun& run : runs) {
        if (run.error.empty()) {
            std::printf("ok thread %d\n", run.index);
        } else {
            std::printf("not ok thread %d: %s\n", run.index, run.error.c_str());
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
