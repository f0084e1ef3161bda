// What one retrieval costs against the loopback servers of scripts/servers.sh: a call of
// Rizi.RetrieveNTPTime and of Rizi.RetrieveTSTime made from Lua through the real plug-in
// (loaded and registered as a host does it), next to a minimal blocking client of the same
// protocol built into this program (a fresh socket per query, the same request bytes), which
// marks the floor that the network and the server set. Then what waiting on a server that never
// answers costs: CPU time over wall time.
//
// Usage: rizi-bench-retrieval [--plugin PATH] [--server ADDRESS] [--silent ADDRESS] [--calls N]
// The silent address needs nothing on UDP port 123; this program listens on its TCP port 37
// itself (never accepting, never sending), which needs root or a private network namespace.
#include "host/plugin_library.h"
#include "platform/cpu_time.h"
#include "platform/socket.h"
#include "timelib/lua_api.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t NtpPort = 123;
constexpr std::uint16_t TimePort = 37;
constexpr std::int32_t ReplyWaitMs = 2000; // how long the C clients wait before giving up
constexpr std::uint32_t NtpEpochOffset = 2208988800u;

struct Options {
    std::string plugin = host::DefaultPluginPath();
    std::string server = "127.0.0.1";
    std::string silent = "127.0.0.3";
    int calls = 2000;
};

// Wall-clock samples of single calls, and the CPU time per call of a separate run of them.
struct Series {
    std::vector<double> seconds;
    double cpu_seconds_per_call = 0;
    int failed = 0;

    double Quantile(double q) const {
        if (seconds.empty())
            return 0;
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        const auto at = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
        return sorted[at];
    }
};

// One timed call; adds its wall time to the series and counts a failure.
template <class Call> void Measure(Series& series, Call call) {
    const auto start = Clock::now();
    const bool ok = call();
    const auto end = Clock::now();
    series.seconds.push_back(std::chrono::duration<double>(end - start).count());
    if (!ok)
        ++series.failed;
}

// CPU seconds per call over a run of calls (the system's CPU clock may tick in 10 ms steps,
// too coarse for one call).
template <class Call> double CpuSecondsPerCall(Call call, int calls) {
    const double before = platform::ProcessCpuSeconds();
    for (int i = 0; i < calls; ++i)
        call();
    return (platform::ProcessCpuSeconds() - before) / calls;
}

void WriteBigEndian32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

// The plug-in's request: 0x1B, then the UTC transmit time with milliseconds as 2^21 units.
void BuildRequest(std::uint8_t (&request)[48]) {
    std::memset(request, 0, sizeof request);
    request[0] = 0x1B;
    const auto since_1970 = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
    WriteBigEndian32(request + 40, static_cast<std::uint32_t>(since_1970 / 1000) + NtpEpochOffset);
    WriteBigEndian32(request + 44, static_cast<std::uint32_t>(since_1970 % 1000) << 21);
}

// One SNTP exchange, blocking: send, wait for the reply, check it answers our request.
bool CSntpQuery(std::uint32_t address) {
    const platform::SocketHandle s = platform::OpenSocket(platform::SocketType::Datagram);
    if (s == platform::InvalidSocket)
        return false;
    std::uint8_t request[48];
    BuildRequest(request);
    bool ok = false;
    std::uint8_t reply[2048];
    std::uint32_t from_address = 0;
    std::uint16_t from_port = 0;
    if (platform::SendTo(s, request, 48, address, NtpPort) == 48 &&
        platform::WaitReadable(s, ReplyWaitMs) == 1) {
        const std::int32_t n =
            platform::RecvFrom(s, reply, sizeof reply, &from_address, &from_port);
        ok = n >= 48 && (reply[0] & 7) == 4 && std::memcmp(reply + 24, request + 40, 8) == 0;
    }
    platform::CloseSocket(s);
    return ok;
}

// One RFC 868 exchange, blocking: connect, read until four bytes or the server's close.
bool CTimeQuery(std::uint32_t address) {
    const platform::SocketHandle s = platform::OpenSocket(platform::SocketType::Stream);
    if (s == platform::InvalidSocket)
        return false;
    std::uint8_t reply[4];
    std::int32_t received = 0;
    if (platform::Connect(s, address, TimePort) == platform::ConnectResult::Connected) {
        while (received < 4 && platform::WaitReadable(s, ReplyWaitMs) == 1) {
            const std::int32_t n = platform::Recv(s, reply + received, 4 - received);
            if (n <= 0)
                break;
            received += n;
        }
    }
    platform::CloseSocket(s);
    return received == 4;
}

// A Lua state with the standard libraries and the plug-in's actions, as a host sets it up.
class LuaHost {
  public:
    LuaHost() : L_(luaL_newstate()) { luaL_openlibs(L_); }
    ~LuaHost() { lua_close(L_); }
    LuaHost(const LuaHost&) = delete;
    LuaHost& operator=(const LuaHost&) = delete;

    bool Register(const host::PluginLibrary& plugin, std::string& error) {
        auto reg = plugin.Find<host::RegisterActionsExport>("irPlg_Action_RegisterActions", error);
        if (reg == nullptr)
            return false;
        reg(L_);
        return true;
    }

    // A Lua function of no arguments that calls Rizi.<name>(server, limit) and returns its
    // value; kept in the registry under the returned reference.
    int Prepare(const char* name, const std::string& server, int limit) {
        const std::string chunk = std::string("local f, server, limit = Rizi.") + name +
                                  ", ...\nreturn function() return f(server, limit) end";
        if (luaL_loadstring(L_, chunk.c_str()) != 0)
            return LUA_NOREF;
        lua_pushstring(L_, server.c_str());
        lua_pushinteger(L_, limit);
        if (lua_pcall(L_, 2, 1, 0) != 0)
            return LUA_NOREF;
        return luaL_ref(L_, LUA_REGISTRYINDEX);
    }

    // Calls a prepared function; true when it returned a table.
    bool Call(int ref) {
        lua_rawgeti(L_, LUA_REGISTRYINDEX, ref);
        const bool ok = lua_pcall(L_, 0, 1, 0) == 0 && lua_istable(L_, -1);
        lua_settop(L_, 0);
        return ok;
    }

  private:
    lua_State* L_;
};

void PrintSeries(const char* protocol, const char* client, const Series& s) {
    std::printf("%-8s %-28s %9.1f us %9.1f us %9.1f us %7d\n", protocol, client,
                s.Quantile(0.5) * 1e6, s.Quantile(0.99) * 1e6, s.cpu_seconds_per_call * 1e6,
                s.failed);
}

// Lua and C calls alternate, so that both see the same state of the machine and the servers.
template <class CCall>
void CompareProtocol(const char* protocol, const char* lua_name, LuaHost& lua, int lua_ref,
                     CCall c_call, int calls) {
    Series lua_series, c_series;
    for (int i = 0; i < calls / 20 + 1; ++i) { // warm-up: caches, the servers' first answers
        lua.Call(lua_ref);
        c_call();
    }
    for (int i = 0; i < calls; ++i) {
        // Each goes first every other round, so neither profits from following the other.
        if (i % 2 == 0)
            Measure(lua_series, [&] { return lua.Call(lua_ref); });
        Measure(c_series, c_call);
        if (i % 2 != 0)
            Measure(lua_series, [&] { return lua.Call(lua_ref); });
    }
    lua_series.cpu_seconds_per_call = CpuSecondsPerCall([&] { return lua.Call(lua_ref); }, calls);
    c_series.cpu_seconds_per_call = CpuSecondsPerCall(c_call, calls);
    PrintSeries(protocol, lua_name, lua_series);
    PrintSeries(protocol, "blocking C client", c_series);
    std::printf("%-8s %-28s %9.2f x\n", protocol, "Lua / C, median",
                lua_series.Quantile(0.5) / c_series.Quantile(0.5));
}

// Five calls against a server that never answers: each should last its whole limit and use
// almost no CPU.
void WaitOnSilence(const char* protocol, const char* lua_name, LuaHost& lua, int ref) {
    constexpr int Calls = 5;
    Series series;
    lua.Call(ref); // warm-up
    const double cpu_before = platform::ProcessCpuSeconds();
    for (int i = 0; i < Calls; ++i)
        Measure(series, [&] { return !lua.Call(ref); }); // nil is the expected answer
    const double cpu = platform::ProcessCpuSeconds() - cpu_before;
    double wall = 0;
    for (double s : series.seconds)
        wall += s;
    std::printf("%-8s %-28s %d calls, %6.1f to %6.1f ms each, CPU %6.2f ms in all = %.2f%% of "
                "wall time%s\n",
                protocol, lua_name, Calls, series.Quantile(0) * 1e3, series.Quantile(1) * 1e3,
                cpu * 1e3, 100 * cpu / wall, series.failed != 0 ? " (some got an answer!)" : "");
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        if (word == "--plugin")
            options.plugin = value;
        else if (word == "--server")
            options.server = value;
        else if (word == "--silent")
            options.silent = value;
        else if (word == "--calls")
            options.calls = std::max(1, std::atoi(value.c_str()));
        else
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: rizi-bench-retrieval [--plugin PATH] [--server ADDRESS] "
                             "[--silent ADDRESS] [--calls N]\n");
        return 2;
    }
    host::PluginLibrary plugin;
    std::string error;
    LuaHost lua;
    if (!plugin.Open(options.plugin, error) || !lua.Register(plugin, error)) {
        std::fprintf(stderr, "rizi-bench-retrieval: %s\n", error.c_str());
        return 1;
    }
    // The plug-in has started the socket layer in this process; the C clients share it.
    const std::uint32_t server = platform::InetAddr(options.server.c_str());
    const std::uint32_t silent = platform::InetAddr(options.silent.c_str());
    if (server == platform::NoAddress || silent == platform::NoAddress) {
        std::fprintf(stderr, "rizi-bench-retrieval: addresses must be dotted IPv4\n");
        return 2;
    }

    std::printf("%d calls each against %s, Lua and C alternating\n", options.calls,
                options.server.c_str());
    std::printf("%-8s %-28s %12s %12s %12s %7s\n", "protocol", "client", "median", "p99",
                "CPU/call", "failed");
    CompareProtocol(
        "SNTP", "Rizi.RetrieveNTPTime (Lua)", lua,
        lua.Prepare("RetrieveNTPTime", options.server, 1000), [&] { return CSntpQuery(server); },
        options.calls);
    CompareProtocol(
        "RFC 868", "Rizi.RetrieveTSTime (Lua)", lua,
        lua.Prepare("RetrieveTSTime", options.server, 1000), [&] { return CTimeQuery(server); },
        options.calls);

    std::printf("silent server %s, limit 200 ms\n", options.silent.c_str());
    WaitOnSilence("SNTP", "Rizi.RetrieveNTPTime (Lua)", lua,
                  lua.Prepare("RetrieveNTPTime", options.silent, 200));
    // A listener that completes connections in its backlog and never sends.
    const platform::SocketHandle listener = platform::OpenSocket(platform::SocketType::Stream);
    if (listener != platform::InvalidSocket && platform::SetReuseAddress(listener) &&
        platform::Bind(listener, silent, TimePort) && platform::Listen(listener, 16)) {
        WaitOnSilence("RFC 868", "Rizi.RetrieveTSTime (Lua)", lua,
                      lua.Prepare("RetrieveTSTime", options.silent, 200));
    } else {
        std::printf("%-8s cannot listen on %s:%u (needs root or a private namespace)\n", "RFC 868",
                    options.silent.c_str(), TimePort);
    }
    platform::CloseSocket(listener);
    return 0;
}
