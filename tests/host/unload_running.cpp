// A host that closes its Lua state and unloads the plug-in while queries it started in the
// background are still running, then carries on for two seconds: the queries' threads must
// not lose the plug-in's code under them. Usage: unload_running PLUGIN; prints "carried on"
// and exits 0 when the process lived through it.
#include "platform/library.h"
#include "platform/socket.h"
#include "timelib/lua_api.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 2 || !platform::SocketStartup())
        return 2;
    // A web server that takes connections and never answers, and an NTP server that never
    // answers: the queries wait on them, for up to 1.5 s, or until cancelled.
    const platform::SocketHandle web = platform::OpenSocket(platform::SocketType::Stream);
    const platform::SocketHandle ntp = platform::OpenSocket(platform::SocketType::Datagram);
    std::uint16_t web_port = 0;
    std::uint16_t ntp_port = 0;
    if (!platform::Bind(web, platform::InetAddr("127.0.0.1"), 0) || !platform::Listen(web, 16) ||
        !platform::LocalPort(web, &web_port) ||
        !platform::Bind(ntp, platform::InetAddr("127.0.0.1"), 0) ||
        !platform::LocalPort(ntp, &ntp_port))
        return 2;
    platform::LibraryHandle plugin = platform::LoadLibraryFile(argv[1]);
    using Register = std::int32_t (*)(lua_State*);
    const auto register_actions = reinterpret_cast<Register>(
        platform::FindLibrarySymbol(plugin, "irPlg_Action_RegisterActions"));
    if (register_actions == nullptr)
        return 2;
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    register_actions(L);
    const std::string script = "for i = 1, 4 do\n"
                               "  Rizi.Start(Rizi.QueryHTTPS, 'http://127.0.0.1:" +
                               std::to_string(web_port) +
                               "/', 1500)\n"
                               "  Rizi.Start(Rizi.QueryNTP, '127.0.0.1:" +
                               std::to_string(ntp_port) +
                               "', 1500)\n"
                               "  Rizi.Start(Rizi.RetrieveNTPTime, '127.0.0.1', 1500)\n"
                               "end\n";
    if (luaL_dostring(L, script.c_str()) != 0) {
        std::printf("%s\n", lua_tostring(L, -1));
        return 1;
    }
    lua_close(L);
    platform::FreeLibraryFile(plugin);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    platform::CloseSocket(web);
    platform::CloseSocket(ntp);
    std::printf("carried on\n");
    return 0;
}
