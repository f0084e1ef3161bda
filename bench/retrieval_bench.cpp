// What one retrieval costs against the loopback servers of scripts/servers.sh: a call of
// Rizi.RetrieveNTPTime, Rizi.RetrieveTSTime and Rizi.QueryNTP made from Lua through the real
// plug-in (loaded and registered as a host does it), next to a minimal blocking client of the
// same protocol built into this program (a fresh socket per query, the same request), which
// marks the floor that the network and the server set. Then how well Rizi.QueryNTP measures a
// server that serves this machine's own clock, next to the NTP clients of Debian (ntpdig,
// python3-ntplib) in the same run; what waiting on a server that never answers costs (CPU time
// over wall time); and, when the plug-in has Rizi.QueryNTPServers, five servers in one call
// against the minimal client asking the same five at once and against one server in one call,
// and five of which some hold their answers. Then, when it has Rizi.Start, how long starting a
// query takes and 32 queries in the background against 32 direct calls in turn; and a list of
// one NTP server and two web servers that hold their answers 300 ms against the slowest of
// them alone. Also, when the plug-in has Rizi.QueryNTS, its first call with a server (key
// exchange and NTP exchange), a repeat call against Rizi.QueryNTP on the same chronyd, and the
// offsets that the two measure.
//
// Usage: rizi-bench-retrieval [--plugin PATH] [--server ADDRESS] [--silent ADDRESS] [--calls N]
//                             [--samples N]
// The silent address needs nothing on UDP port 123; this program listens on its TCP port 37
// itself (never accepting, never sending), which needs root or a private network namespace.
// The five servers are chronyd on 127.0.0.11 to 127.0.0.15 (bench/extra_servers.sh); this
// program starts them when they do not answer, and stops them again at its end. The web
// servers are bench/held_web_servers.py on 127.0.0.21 and 127.0.0.22, started and stopped here.
// The NTS server is chronyd on 127.0.0.31 and ::1 (bench/nts_server.sh), started at the
// beginning and stopped after its lines. Its test CA is trusted by this process alone: as root,
// before the plug-in loads, it moves into a private mount namespace and binds a bundle of the
// system's roots and the test CA over the system's bundle (Linux only; n/a otherwise).
#include "host/plugin_library.h"
#include "platform/cpu_time.h"
#include "platform/random.h"
#include "platform/socket.h"
#include "timelib/lua_api.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t NtpPort = 123;
constexpr std::uint16_t TimePort = 37;
constexpr std::int32_t ReplyWaitMs = 2000; // how long the C clients wait before giving up
constexpr std::uint32_t NtpEpochOffset = 2208988800u;
// The most a call may cost over the minimal client doing the same: Rizi.QueryNTP against one
// exchange, Rizi.QueryNTPServers against the same five exchanges at once.
constexpr double TargetRatio = 1.2;

// The servers of Rizi.QueryNTPServers: five chronyd (bench/extra_servers.sh), and the NTP
// lab's server that holds each request 50 ms before it answers (scripts/servers.sh).
const char* const ExtraServers[] = {"127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14",
                                    "127.0.0.15"};
constexpr const char* HeldServer = "127.0.0.1:12312";
constexpr double HeldMs = 50;
// Also held, 20 ms, and 2.5 s ahead (outvoted): with both, waiting in turn would last 70 ms.
constexpr const char* ShorterHeldServer = "127.0.0.1:12302";
constexpr double ShorterHeldMs = 20;

// Queries in the background at once against as many direct calls in turn: half of the most
// that may run at once in one process.
constexpr int BatchQueries = 32;
// Plain HTTP servers (bench/held_web_servers.py) that hold each answer 300 ms, for a list of one
// NTP server and both of them, against one of them alone.
const char* const HeldWebAddresses[] = {"127.0.0.21", "127.0.0.22"};
constexpr std::uint16_t HeldWebPort = 8123;
constexpr int HeldWebMs = 300;
constexpr double MixedTargetRatio = 1.2;

// The NTS server of bench/nts_server.sh: chronyd's key exchange, the same server under its IPv6
// address (another name, so a session of its own), and its NTP port, which Rizi.QueryNTP asks.
constexpr const char* NtsKeServer = "127.0.0.31:14431";
constexpr const char* NtsKeServerV6 = "[::1]:14431";
constexpr const char* NtsNtpServer = "127.0.0.31:14432";
constexpr const char* SystemBundle = "/etc/ssl/certs/ca-certificates.crt";
constexpr double NtsFirstTargetMs = 10;
constexpr double NtsOffsetTargetUs = 1;

struct Options {
    std::string plugin = host::DefaultPluginPath();
    std::string server = "127.0.0.1";
    std::string silent = "127.0.0.3";
    int calls = 2000;
    int samples = 20; // queries per client for the accuracy lines
};

// The value below which a fraction q of the values lie (the nearest rank); 0 for none.
double Quantile(std::vector<double> values, double q) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

// Wall-clock samples of single calls, and the CPU time per call of a separate run of them.
struct Series {
    std::vector<double> seconds;
    double cpu_seconds_per_call = 0;
    int failed = 0;

    double Quantile(double q) const { return ::Quantile(seconds, q); }
};

// What one NTP client measured in one exchange, in seconds.
struct NtpSample {
    double offset;
    double delay;
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

std::uint64_t ReadBigEndian64(const std::uint8_t* at) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = value << 8 | at[i];
    return value;
}

// This machine's clock as an NTP timestamp (seconds since 1900 and a 32-bit binary fraction).
std::uint64_t NtpNow() {
    const std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
    const auto seconds = static_cast<std::uint64_t>(ns / 1000000000) + NtpEpochOffset;
    const auto fraction = (static_cast<std::uint64_t>(ns % 1000000000) << 32) / 1000000000u;
    return seconds << 32 | fraction;
}

// The difference of two NTP timestamps in seconds; right when they lie within 68 years.
double NtpSeconds(std::uint64_t later, std::uint64_t earlier) {
    return static_cast<double>(static_cast<std::int64_t>(later - earlier)) / 4294967296.0;
}

// One NTPv4 exchange, blocking: the plug-in's request (version 4, a random nonce as the
// transmit time), a reply that must echo the nonce, then offset and delay from the server's
// two timestamps and this machine's clock read before the send and after the receive.
bool CNtpQuery(std::uint32_t address, std::int32_t wait_ms, NtpSample* sample) {
    const platform::SocketHandle s = platform::OpenSocket(platform::SocketType::Datagram);
    if (s == platform::InvalidSocket)
        return false;
    std::uint8_t request[48] = {0x23}; // leap 0, version 4, mode 3 (client)
    bool ok = false;
    std::uint8_t reply[2048];
    std::uint32_t from_address = 0;
    std::uint16_t from_port = 0;
    if (platform::RandomBytes(request + 40, 8)) {
        const std::uint64_t t1 = NtpNow();
        if (platform::SendTo(s, request, 48, address, NtpPort) == 48 &&
            platform::WaitReadable(s, wait_ms) == 1) {
            const std::int32_t n =
                platform::RecvFrom(s, reply, sizeof reply, &from_address, &from_port);
            const std::uint64_t t4 = NtpNow();
            ok = n >= 48 && (reply[0] & 7) == 4 && std::memcmp(reply + 24, request + 40, 8) == 0;
            if (ok && sample != nullptr) {
                const std::uint64_t t2 = ReadBigEndian64(reply + 32);
                const std::uint64_t t3 = ReadBigEndian64(reply + 40);
                *sample = {(NtpSeconds(t2, t1) + NtpSeconds(t3, t4)) / 2,
                           NtpSeconds(t4, t1) - NtpSeconds(t3, t2)};
            }
        }
    }
    platform::CloseSocket(s);
    return ok;
}

// NTPv4 exchanges with several servers at once, as a minimal client of several makes them: a
// fresh socket and nonce for each, every request sent, then one wait over the sockets still
// waiting until each has its reply. True when every server answered.
bool CNtpQueryAll(const std::vector<std::uint32_t>& addresses) {
    struct Exchange {
        platform::SocketHandle socket;
        std::uint8_t request[48];
    };
    std::vector<Exchange> exchanges(addresses.size(), Exchange{platform::InvalidSocket, {0x23}});
    bool ok = true;
    for (std::size_t i = 0; i < addresses.size() && ok; ++i) {
        Exchange& e = exchanges[i];
        e.socket = platform::OpenSocket(platform::SocketType::Datagram);
        ok = e.socket != platform::InvalidSocket && platform::SetNonBlocking(e.socket, true) &&
             platform::RandomBytes(e.request + 40, 8) &&
             platform::SendTo(e.socket, e.request, 48, addresses[i], NtpPort) == 48;
    }
    std::vector<Exchange*> waiting;
    for (Exchange& e : exchanges)
        waiting.push_back(&e);
    std::vector<platform::SocketHandle> sockets;
    while (ok && !waiting.empty()) {
        sockets.clear();
        for (const Exchange* e : waiting)
            sockets.push_back(e->socket);
        ok = platform::WaitAnyReadable(sockets.data(), static_cast<int>(sockets.size()),
                                       ReplyWaitMs) == 1;
        // Each socket read once without waiting: a reply that echoes its nonce ends it.
        for (auto it = waiting.begin(); ok && it != waiting.end();) {
            std::uint8_t reply[2048];
            std::uint32_t from_address = 0;
            std::uint16_t from_port = 0;
            const std::int32_t n =
                platform::RecvFrom((*it)->socket, reply, sizeof reply, &from_address, &from_port);
            if (n >= 48 && (reply[0] & 7) == 4 &&
                std::memcmp(reply + 24, (*it)->request + 40, 8) == 0)
                it = waiting.erase(it);
            else
                ++it;
        }
    }
    for (const Exchange& e : exchanges)
        platform::CloseSocket(e.socket);
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

    // Whether table Rizi holds a function of that name: plug-ins of other versions may not.
    bool Has(const char* name) {
        lua_getglobal(L_, "Rizi"); // stack: Rizi
        if (!lua_istable(L_, -1)) {
            lua_settop(L_, 0);
            return false;
        }
        lua_getfield(L_, -1, name); // stack: Rizi, function
        const bool found = lua_isfunction(L_, -1);
        lua_settop(L_, 0);
        return found;
    }

    // A Lua function of no arguments that calls Rizi.<name>(server, limit) and returns its
    // value; kept in the registry under the returned reference.
    int Prepare(const char* name, const std::string& server, int limit) {
        return PrepareWith(name, limit, [&] { lua_pushstring(L_, server.c_str()); });
    }

    // The same with an array of servers as the first argument, built once.
    int Prepare(const char* name, const std::vector<std::string>& servers, int limit) {
        return PrepareWith(name, limit, [&] {
            lua_createtable(L_, static_cast<int>(servers.size()), 0); // stack: array
            for (std::size_t i = 0; i < servers.size(); ++i) {
                lua_pushstring(L_, servers[i].c_str()); // stack: array, server
                lua_rawseti(L_, -2, static_cast<int>(i + 1));
            }
        });
    }

    // Compiles chunk, runs it with (server, number) and keeps each of the count functions it
    // returns in the registry; the references, or none when it fails.
    std::vector<int> PrepareFunctions(const char* chunk, const std::string& server, int number,
                                      int count) {
        std::vector<int> refs;
        if (luaL_loadstring(L_, chunk) != 0) { // stack: chunk
            lua_settop(L_, 0);
            return refs;
        }
        lua_pushstring(L_, server.c_str()); // stack: chunk, server
        lua_pushinteger(L_, number);        // stack: chunk, server, number
        if (lua_pcall(L_, 2, count, 0) != 0) {
            lua_settop(L_, 0);
            return refs;
        }
        for (int i = 1; i <= count; ++i) {
            lua_pushvalue(L_, i); // stack: functions..., function i
            refs.push_back(luaL_ref(L_, LUA_REGISTRYINDEX));
        }
        lua_settop(L_, 0);
        return refs;
    }

    // Calls a prepared function; true when it returned true.
    bool CallTrue(int ref) {
        lua_rawgeti(L_, LUA_REGISTRYINDEX, ref);
        const bool ok = lua_pcall(L_, 0, 1, 0) == 0 && lua_toboolean(L_, -1) != 0;
        lua_settop(L_, 0);
        return ok;
    }

    // Calls a prepared function that returns two numbers; false when it did not.
    bool CallNumbers(int ref, double* first, double* second) {
        lua_rawgeti(L_, LUA_REGISTRYINDEX, ref);
        const bool ok = lua_pcall(L_, 0, 2, 0) == 0 && lua_isnumber(L_, 1) && lua_isnumber(L_, 2);
        *first = lua_tonumber(L_, 1);
        *second = lua_tonumber(L_, 2);
        lua_settop(L_, 0);
        return ok;
    }

    // Calls a prepared function; true when it returned a table.
    bool Call(int ref) { return Call(ref, nullptr); }

    // The same, also reading the number under key in the table into value.
    bool Call(int ref, const char* key, double* value) {
        lua_rawgeti(L_, LUA_REGISTRYINDEX, ref);
        bool ok = lua_pcall(L_, 0, 1, 0) == 0 && lua_istable(L_, -1); // stack: result
        if (ok) {
            lua_getfield(L_, 1, key); // stack: result, value
            ok = lua_isnumber(L_, 2);
            *value = lua_tonumber(L_, 2);
        }
        lua_settop(L_, 0);
        return ok;
    }

    // The same, also reading the table's offset and delay into sample when it has them.
    bool Call(int ref, NtpSample* sample) {
        lua_rawgeti(L_, LUA_REGISTRYINDEX, ref);
        bool ok = lua_pcall(L_, 0, 1, 0) == 0 && lua_istable(L_, -1); // stack: result
        if (ok && sample != nullptr) {
            lua_getfield(L_, 1, "offset"); // stack: result, offset
            lua_getfield(L_, 1, "delay");  // stack: result, offset, delay
            ok = lua_isnumber(L_, 2) && lua_isnumber(L_, 3);
            *sample = {lua_tonumber(L_, 2), lua_tonumber(L_, 3)};
        }
        lua_settop(L_, 0);
        return ok;
    }

  private:
    // Compiles the caller around Rizi.<name>; push_first pushes the first argument.
    template <class PushFirst> int PrepareWith(const char* name, int limit, PushFirst push_first) {
        const std::string chunk = std::string("local f, server, limit = Rizi.") + name +
                                  ", ...\nreturn function() return f(server, limit) end";
        if (luaL_loadstring(L_, chunk.c_str()) != 0)
            return LUA_NOREF;
        push_first();
        lua_pushinteger(L_, limit);
        if (lua_pcall(L_, 2, 1, 0) != 0)
            return LUA_NOREF;
        return luaL_ref(L_, LUA_REGISTRYINDEX);
    }

    lua_State* L_;
};

void PrintSeries(const char* protocol, const char* client, const Series& s) {
    std::printf("%-8s %-32s %9.1f us %9.1f us %9.1f us %7d\n", protocol, client,
                s.Quantile(0.5) * 1e6, s.Quantile(0.99) * 1e6, s.cpu_seconds_per_call * 1e6,
                s.failed);
}

// A ratio of medians, and whether it meets its target where it has one (target 0: none).
void PrintRatio(const char* protocol, const char* what, double ratio, double target) {
    std::printf("%-8s %-32s %9.2f x", protocol, what, ratio);
    if (target > 0)
        std::printf("    target at most %.1f x: %s", target, ratio <= target ? "met" : "missed");
    std::printf("\n");
}

// The median seconds of two kinds of call.
struct Medians {
    double first;
    double second;

    double Ratio() const { return first / second; }
};

// Two kinds of call take turns, so that both see the same state of the machine and the
// servers. Prints a line for each.
template <class FirstCall, class SecondCall>
Medians CompareCalls(const char* protocol, const char* first_name, FirstCall first,
                     const char* second_name, SecondCall second, int calls) {
    Series first_series, second_series;
    for (int i = 0; i < calls / 20 + 1; ++i) { // warm-up: caches, the servers' first answers
        first();
        second();
    }
    for (int i = 0; i < calls; ++i) {
        // Each goes first every other round, so neither profits from following the other.
        if (i % 2 == 0)
            Measure(first_series, first);
        Measure(second_series, second);
        if (i % 2 != 0)
            Measure(first_series, first);
    }
    first_series.cpu_seconds_per_call = CpuSecondsPerCall(first, calls);
    second_series.cpu_seconds_per_call = CpuSecondsPerCall(second, calls);
    PrintSeries(protocol, first_name, first_series);
    PrintSeries(protocol, second_name, second_series);
    return {first_series.Quantile(0.5), second_series.Quantile(0.5)};
}

// The lines a shell command writes to its standard output; none when it cannot run.
std::vector<std::string> CommandLines(const std::string& command) {
    std::vector<std::string> lines;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return lines;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr)
        lines.emplace_back(line);
    pclose(pipe);
    return lines;
}

// ntpdig (Debian ntpsec-ntpdig), one process per query as people run it. Its debug output
// holds T2 - T1 and T3 - T4, which give offset and delay.
std::vector<NtpSample> NtpdigSamples(const std::string& server, int count) {
    std::vector<NtpSample> samples;
    for (int i = 0; i < count; ++i) {
        for (const std::string& line : CommandLines("ntpdig -d -t 1 " + server + " 2>&1")) {
            double t21 = 0, t34 = 0;
            if (std::sscanf(line.c_str(), " rec-org t21: %lf xmt-dst t34: %lf", &t21, &t34) == 2)
                samples.push_back({(t21 + t34) / 2, t21 - t34});
        }
    }
    return samples;
}

// python3-ntplib (Debian): every query from one interpreter, as a program makes them, after
// one more that loads what the first needs. Debian's own interpreter, which the package is
// installed for: a python3 earlier in PATH may not see it.
std::vector<NtpSample> NtplibSamples(const std::string& server, int count) {
    const std::string command = "/usr/bin/python3 -c \"import ntplib\n"
                                "c = ntplib.NTPClient()\n"
                                "for i in range(" +
                                std::to_string(count + 1) +
                                "):\n"
                                "    try:\n"
                                "        r = c.request('" +
                                server +
                                "', version=4, timeout=1)\n"
                                "    except Exception:\n"
                                "        continue\n"
                                "    if i:\n"
                                "        print(r.offset, r.delay)\" 2>/dev/null";
    std::vector<NtpSample> samples;
    for (const std::string& line : CommandLines(command)) {
        NtpSample sample{};
        if (std::sscanf(line.c_str(), "%lf %lf", &sample.offset, &sample.delay) == 2)
            samples.push_back(sample);
    }
    return samples;
}

// The median and spread (90th less 10th percentile) of the offsets and delays one client
// measured, and how many of its queries were answered; n/a when none was.
void PrintAccuracy(const char* protocol, const char* client, const std::vector<NtpSample>& samples,
                   int asked) {
    if (samples.empty()) {
        std::printf("%-8s %-32s %12s   (not installed, or no answer)\n", protocol, client, "n/a");
        return;
    }
    std::vector<double> offsets, delays;
    for (const NtpSample& sample : samples) {
        offsets.push_back(sample.offset);
        delays.push_back(sample.delay);
    }
    const auto spread = [](const std::vector<double>& v) {
        return Quantile(v, 0.9) - Quantile(v, 0.1);
    };
    std::printf("%-8s %-32s %9.1f us %9.1f us %9.1f us %9.1f us %4zu/%d\n", protocol, client,
                Quantile(offsets, 0.5) * 1e6, spread(offsets) * 1e6, Quantile(delays, 0.5) * 1e6,
                spread(delays) * 1e6, samples.size(), asked);
}

// What Rizi.QueryNTP, the minimal client and Debian's NTP clients measure against a server
// that serves this machine's own clock, so that the true offset is 0.
void CompareAccuracy(LuaHost& lua, const Options& options, std::uint32_t server) {
    std::printf("accuracy against %s, which serves this machine's clock (the true offset is 0)\n"
                "%d queries per client: medians, and spread = 90th less 10th percentile\n",
                options.server.c_str(), options.samples);
    std::printf("%-8s %-32s %12s %12s %12s %12s %7s\n", "protocol", "client", "offset", "spread",
                "delay", "spread", "answers");
    const int ref = lua.Prepare("QueryNTP", options.server, 1000);
    std::vector<NtpSample> lua_samples, c_samples;
    for (int i = 0; i < options.samples; ++i) {
        NtpSample sample{};
        if (lua.Call(ref, &sample))
            lua_samples.push_back(sample);
        if (CNtpQuery(server, ReplyWaitMs, &sample))
            c_samples.push_back(sample);
    }
    PrintAccuracy("NTPv4", "Rizi.QueryNTP (Lua)", lua_samples, options.samples);
    PrintAccuracy("NTPv4", "blocking C client", c_samples, options.samples);
    PrintAccuracy("NTPv4", "ntpdig", NtpdigSamples(options.server, options.samples),
                  options.samples);
    PrintAccuracy("NTPv4", "python3-ntplib", NtplibSamples(options.server, options.samples),
                  options.samples);
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
    std::printf("%-8s %-32s %d calls, %6.1f to %6.1f ms each, CPU %6.2f ms in all = %.2f%% of "
                "wall time%s\n",
                protocol, lua_name, Calls, series.Quantile(0) * 1e3, series.Quantile(1) * 1e3,
                cpu * 1e3, 100 * cpu / wall, series.failed != 0 ? " (some got an answer!)" : "");
}

#ifndef RIZI_EXTRA_SERVERS_SCRIPT
#define RIZI_EXTRA_SERVERS_SCRIPT "bench/extra_servers.sh"
#endif
#ifndef RIZI_HELD_WEB_SERVERS_SCRIPT
#define RIZI_HELD_WEB_SERVERS_SCRIPT "bench/held_web_servers.py"
#endif
#ifndef RIZI_NTS_SERVER_SCRIPT
#define RIZI_NTS_SERVER_SCRIPT "bench/nts_server.sh"
#endif

// Whether each of the five extra servers answers now.
bool ExtraServersAnswer() {
    for (const char* address : ExtraServers) {
        if (!CNtpQuery(platform::InetAddr(address), 200, nullptr))
            return false;
    }
    return true;
}

// Runs a script of servers with start or stop; true when it succeeded.
bool RunServersScript(const char* script, const char* verb) {
    std::fflush(stdout); // its messages come after ours
    const std::string command = std::string("bash \"") + script + "\" " + verb + " >/dev/null";
    return std::system(command.c_str()) == 0;
}

bool RunExtraServers(const char* verb) {
    return RunServersScript(RIZI_EXTRA_SERVERS_SCRIPT, verb);
}

// Five servers in one call of Rizi.QueryNTPServers against the minimal client asking the same
// five at once, and against one of them in one call of Rizi.QueryNTP; then five of which some
// hold their answers, which the call should wait out together, not in turn.
void CompareServerCounts(LuaHost& lua, const Options& options) {
    std::printf("several servers in one call\n");
    if (!lua.Has("QueryNTPServers")) {
        std::printf("%-8s %-32s %12s   (this plug-in has no Rizi.QueryNTPServers)\n", "NTPv4",
                    "Rizi.QueryNTPServers (Lua)", "n/a");
        return;
    }
    bool started = false;
    if (!ExtraServersAnswer()) {
        started = RunExtraServers("start");
        if (!started || !ExtraServersAnswer()) {
            std::printf(
                "%-8s %-32s %12s   (no chronyd on 127.0.0.11-15, and %s could not start them)\n",
                "NTPv4", "Rizi.QueryNTPServers (Lua)", "n/a", RIZI_EXTRA_SERVERS_SCRIPT);
            if (started)
                RunExtraServers("stop");
            return;
        }
    }
    const std::vector<std::string> five(std::begin(ExtraServers), std::end(ExtraServers));
    const int five_ref = lua.Prepare("QueryNTPServers", five, 1000);
    const int one_ref = lua.Prepare("QueryNTP", five[0], 1000);
    std::vector<std::uint32_t> addresses;
    for (const char* address : ExtraServers)
        addresses.push_back(platform::InetAddr(address));
    // The call against the floor that the network and the servers set, taking turns: the
    // minimal client's five exchanges, all sent before one wait for their replies.
    std::printf("five chronyd on 127.0.0.11-15 in one call, against the C client asking them at "
                "once and against %s alone\n",
                five[0].c_str());
    const Medians five_medians = CompareCalls(
        "NTPv4", "Rizi.QueryNTPServers, 5 (Lua)", [&] { return lua.Call(five_ref); },
        "C client, 5 at once", [&] { return CNtpQueryAll(addresses); }, options.calls);
    PrintRatio("NTPv4", "five servers Lua / C five at once, median", five_medians.Ratio(),
               TargetRatio);
    // One server alone, by both. On loopback the round trip is short and each exchange's own
    // work sets the time.
    const Medians medians = CompareCalls(
        "NTPv4", "Rizi.QueryNTP, 1 (Lua)", [&] { return lua.Call(one_ref); },
        "blocking C client, 1", [&] { return CNtpQuery(addresses[0], ReplyWaitMs, nullptr); },
        options.calls);
    PrintRatio("NTPv4", "five / one, median", five_medians.first / medians.first, 0);
    PrintRatio("NTPv4", "C five / C one, median", five_medians.second / medians.second, 0);

    // The first four with the lab's server that holds each request 50 ms, then three with both
    // of its servers that hold requests; and each of those alone, all taking turns.
    constexpr int HeldCalls = 10;
    std::vector<std::string> one_held(five.begin(), five.begin() + 4);
    one_held.push_back(HeldServer);
    std::vector<std::string> two_held(five.begin(), five.begin() + 3);
    two_held.push_back(HeldServer);
    two_held.push_back(ShorterHeldServer);
    const int one_held_ref = lua.Prepare("QueryNTPServers", one_held, 1000);
    const int two_held_ref = lua.Prepare("QueryNTPServers", two_held, 1000);
    const int held_ref = lua.Prepare("QueryNTP", HeldServer, 1000);
    const int shorter_ref = lua.Prepare("QueryNTP", ShorterHeldServer, 1000);
    Series with_one, with_two, held, shorter;
    for (int i = 0; i < HeldCalls; ++i) {
        Measure(held, [&] { return lua.Call(held_ref); });
        Measure(with_one, [&] { return lua.Call(one_held_ref); });
        Measure(shorter, [&] { return lua.Call(shorter_ref); });
        Measure(with_two, [&] { return lua.Call(two_held_ref); });
    }
    std::printf("the lab's servers that hold each answer: %s %.0f ms, %s %.0f ms (2.5 s ahead)\n"
                "%d calls each; in turn = the medians of the five alone added up\n",
                HeldServer, HeldMs, ShorterHeldServer, ShorterHeldMs, HeldCalls);
    const auto print_held = [](const char* client, const Series& s, double in_turn) {
        std::printf("%-8s %-32s %9.1f ms (%.1f to %.1f) %3d failed", "NTPv4", client,
                    s.Quantile(0.5) * 1e3, s.Quantile(0) * 1e3, s.Quantile(1) * 1e3, s.failed);
        if (in_turn > 0)
            std::printf(", in turn %.1f ms", in_turn * 1e3);
        std::printf("\n");
    };
    const double prompt = medians.first;
    print_held("Rizi.QueryNTP, the 50 ms one", held, 0);
    print_held("Rizi.QueryNTP, the 20 ms one", shorter, 0);
    print_held("Rizi.QueryNTPServers, 4 + 50 ms", with_one, held.Quantile(0.5) + 4 * prompt);
    print_held("Rizi.QueryNTPServers, 3 + 50 + 20", with_two,
               held.Quantile(0.5) + shorter.Quantile(0.5) + 3 * prompt);
    // Where the wait is the server's, not this machine's work, five cost what one costs.
    PrintRatio("NTPv4", "4 + 50 ms / the 50 ms one", with_one.Quantile(0.5) / held.Quantile(0.5),
               0);
    if (started)
        RunExtraServers("stop");
}

// Lua callers of Rizi.Start, compiled once with (server, n): a start and the wait for it,
// kept apart so that only the start is timed (the object waits between them in an upvalue).
const char* const SingleStartChunk = R"(
local server = ...
local Start, QueryNTP = Rizi.Start, Rizi.QueryNTP
local q
return function()
    q = Start(QueryNTP, server, 1000)
    return q ~= nil
end, function()
    local t = q and q:Wait()
    q = nil
    return type(t) == "table"
end)";

// n queries started at once and then waited for; n direct calls in turn; the median delay
// that each kind measured.
const char* const BatchChunk = R"(
local server, n = ...
local Start, QueryNTP = Rizi.Start, Rizi.QueryNTP
local background_delays, direct_delays = {}, {}
local function median(v)
    table.sort(v)
    return v[math.floor((#v + 1) / 2)] or 0
end
return function()
    local queries = {}
    for i = 1, n do
        queries[i] = Start(QueryNTP, server, 1000)
    end
    local answered = 0
    for i = 1, n do
        local t = queries[i] and queries[i]:Wait()
        if type(t) == "table" then
            answered = answered + 1
            background_delays[#background_delays + 1] = t.delay
        end
    end
    return answered == n
end, function()
    local answered = 0
    for i = 1, n do
        local t = QueryNTP(server, 1000)
        if type(t) == "table" then
            answered = answered + 1
            direct_delays[#direct_delays + 1] = t.delay
        end
    end
    return answered == n
end, function()
    return median(background_delays), median(direct_delays)
end)";

// How long Rizi.Start takes to return, each query waited for before the next starts; then
// BatchQueries queries started at once and waited for, against as many direct calls of
// Rizi.QueryNTP in turn, with what each kind measured as its delay.
void CompareBackground(LuaHost& lua, const Options& options) {
    std::printf("queries in the background, against %s\n", options.server.c_str());
    if (!lua.Has("Start")) {
        std::printf("%-8s %-32s %12s   (this plug-in has no Rizi.Start)\n", "NTPv4",
                    "Rizi.Start (Lua)", "n/a");
        return;
    }
    const std::vector<int> single = lua.PrepareFunctions(SingleStartChunk, options.server, 1, 2);
    const std::vector<int> batch =
        lua.PrepareFunctions(BatchChunk, options.server, BatchQueries, 3);
    if (single.size() != 2 || batch.size() != 3) {
        std::printf("%-8s %-32s %12s   (the Lua callers did not compile)\n", "NTPv4",
                    "Rizi.Start (Lua)", "n/a");
        return;
    }

    std::printf("%-8s %-32s %12s %12s %12s %7s\n", "protocol", "client", "median", "p99",
                "CPU/call", "failed");
    Series starts;
    for (int i = 0; i < options.calls / 20 + 1; ++i) { // warm-up
        lua.CallTrue(single[0]);
        lua.CallTrue(single[1]);
    }
    for (int i = 0; i < options.calls; ++i) {
        Measure(starts, [&] { return lua.CallTrue(single[0]); });
        if (!lua.CallTrue(single[1]))
            ++starts.failed;
    }
    // CPU of the start and of the whole query, the thread that waits included.
    starts.cpu_seconds_per_call = CpuSecondsPerCall(
        [&] { return lua.CallTrue(single[0]) && lua.CallTrue(single[1]); }, options.calls);
    std::printf("%-8s %-32s %9.1f us %9.1f us %9.1f us %7d   (CPU: start to answer)\n", "NTPv4",
                "Rizi.Start returns", starts.Quantile(0.5) * 1e6, starts.Quantile(0.99) * 1e6,
                starts.cpu_seconds_per_call * 1e6, starts.failed);

    const std::string background_name = std::to_string(BatchQueries) + " started, then waited";
    const std::string direct_name = std::to_string(BatchQueries) + " Rizi.QueryNTP in turn";
    const Medians medians = CompareCalls(
        "NTPv4", background_name.c_str(), [&] { return lua.CallTrue(batch[0]); },
        direct_name.c_str(), [&] { return lua.CallTrue(batch[1]); },
        std::max(10, options.calls / 20));
    PrintRatio("NTPv4", "background / direct, median", medians.Ratio(), 0);
    double background_delay = 0, direct_delay = 0;
    if (lua.CallNumbers(batch[2], &background_delay, &direct_delay))
        std::printf("%-8s %-32s %9.1f us in the background, %.1f us direct\n", "NTPv4",
                    "delay measured, median", background_delay * 1e6, direct_delay * 1e6);
}

// Whether something accepts TCP connections on address:port.
bool Listening(const char* address, std::uint16_t port) {
    const platform::SocketHandle s = platform::OpenSocket(platform::SocketType::Stream);
    if (s == platform::InvalidSocket)
        return false;
    const bool ok = platform::Connect(s, platform::InetAddr(address), port) ==
                    platform::ConnectResult::Connected;
    platform::CloseSocket(s);
    return ok;
}

// One NTP server and two web servers that hold their answers HeldWebMs in one call of
// Rizi.QueryNTPServers, against one of the web servers alone: asked at once, the list costs
// what its slowest source costs.
void CompareMixedList(LuaHost& lua, const Options& options) {
    std::printf("one NTP server and two web servers that hold each answer %d ms\n", HeldWebMs);
    if (!lua.Has("QueryNTPServers") || !lua.Has("QueryHTTPS")) {
        std::printf("%-8s %-32s %12s   (this plug-in has no web sources)\n", "mixed",
                    "Rizi.QueryNTPServers (Lua)", "n/a");
        return;
    }
    std::string command =
        "exec /usr/bin/python3 \"" RIZI_HELD_WEB_SERVERS_SCRIPT "\" " + std::to_string(HeldWebMs);
    std::vector<std::string> urls;
    for (const char* address : HeldWebAddresses) {
        command += " " + std::string(address) + ":" + std::to_string(HeldWebPort);
        urls.push_back("http://" + std::string(address) + ":" + std::to_string(HeldWebPort) + "/");
    }
    std::fflush(stdout);
    std::FILE* servers = popen((command + " >/dev/null 2>&1").c_str(), "w");
    bool ready = servers != nullptr;
    for (const char* address : HeldWebAddresses) {
        int tries = 0;
        while (ready && !Listening(address, HeldWebPort) && ++tries < 100)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ready = ready && tries < 100;
    }
    if (!ready) {
        std::printf("%-8s %-32s %12s   (%s did not start)\n", "mixed", "Rizi.QueryNTPServers (Lua)",
                    "n/a", RIZI_HELD_WEB_SERVERS_SCRIPT);
        if (servers != nullptr)
            pclose(servers);
        return;
    }
#if !defined(_WIN32)
    // The servers are on loopback: a proxy set in the environment must not be asked for them.
    std::string no_proxy;
    for (const char* address : HeldWebAddresses)
        no_proxy += (no_proxy.empty() ? "" : ",") + std::string(address);
    setenv("no_proxy", no_proxy.c_str(), 1);
#endif

    std::vector<std::string> mixed = {options.server};
    mixed.insert(mixed.end(), urls.begin(), urls.end());
    const int mixed_ref = lua.Prepare("QueryNTPServers", mixed, 3000);
    const int web_ref = lua.Prepare("QueryHTTPS", urls[0], 3000);
    const int ntp_ref = lua.Prepare("QueryNTP", options.server, 1000);
    constexpr int Calls = 10;
    lua.Call(web_ref); // warm-up: the HTTP client loads on first use
    lua.Call(mixed_ref);
    Series list, web, ntp;
    for (int i = 0; i < Calls; ++i) {
        Measure(web, [&] { return lua.Call(web_ref); });
        // Every source must have answered, or the list did not wait for them all.
        Measure(list, [&] {
            double answered = 0;
            return lua.Call(mixed_ref, "answered", &answered) &&
                   answered == static_cast<double>(mixed.size());
        });
        Measure(ntp, [&] { return lua.Call(ntp_ref); });
    }
    pclose(servers);

    std::printf("NTP %s, web %s and %s\n%d calls each; in turn = the medians of the three "
                "alone added up\n",
                options.server.c_str(), urls[0].c_str(), urls[1].c_str(), Calls);
    const auto print_line = [](const char* client, const Series& series, double in_turn) {
        std::printf("%-8s %-32s %9.1f ms (%.1f to %.1f) %3d failed", "mixed", client,
                    series.Quantile(0.5) * 1e3, series.Quantile(0) * 1e3, series.Quantile(1) * 1e3,
                    series.failed);
        if (in_turn > 0)
            std::printf(", in turn %.1f ms", in_turn * 1e3);
        std::printf("\n");
    };
    print_line("Rizi.QueryHTTPS, one web server", web, 0);
    print_line("Rizi.QueryNTPServers, 1 + 2 web", list, ntp.Quantile(0.5) + 2 * web.Quantile(0.5));
    PrintRatio("mixed", "list / slowest alone, median", list.Quantile(0.5) / web.Quantile(0.5),
               MixedTargetRatio);
}

// The NTS server and this process's trust in its test CA; why not, when either is missing.
struct NtsSetup {
    bool started = false;
    bool trusted = false;
    std::string reason;
};

// Starts the NTS server and trusts its test CA in this process alone. Runs before the plug-in
// loads, which reads the roots once per process, and before any thread exists: a process with
// threads cannot leave its mount namespace.
NtsSetup SetUpNts() {
    NtsSetup nts;
#if defined(__linux__)
    if (geteuid() != 0) {
        nts.reason = "needs root: chronyd, and a private mount namespace for the test CA";
        return nts;
    }
    nts.started = RunServersScript(RIZI_NTS_SERVER_SCRIPT, "start");
    if (!nts.started) {
        nts.reason = std::string(RIZI_NTS_SERVER_SCRIPT) + " could not start chronyd";
        return nts;
    }
    const char* dir = std::getenv("RIZI_NTS_SERVER_DIR"); // the script's own default otherwise
    const std::string bundle =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp/rizi-bench-nts") + "/bundle.crt";
    // A mount namespace of our own whose mounts no other process sees, then the bundle of the
    // system's roots and the test CA over the system's: what this process and its children read
    // there.
    nts.trusted = unshare(CLONE_NEWNS) == 0 &&
                  mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                  mount(bundle.c_str(), SystemBundle, nullptr, MS_BIND, nullptr) == 0;
    if (!nts.trusted)
        nts.reason = std::string("cannot bind the test CA's bundle over ") + SystemBundle + ": " +
                     std::strerror(errno);
#else
    nts.reason = "Linux only: a private mount namespace trusts the test CA";
#endif
    return nts;
}

// What one first call of Rizi.QueryNTS took, and the offset it measured.
struct FirstCall {
    double seconds;
    double offset;
    bool ok;
};

#if defined(__linux__)
// The threads of this process, from Linux's status file; 0 when unknown.
int ThreadCount() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return 0;
    int threads = 0;
    char line[256];
    while (threads == 0 && std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "Threads: %d", &threads) != 1)
            threads = 0;
    }
    std::fclose(status);
    return threads;
}

// One call of a prepared caller in a child of fork(). The child has the loaded plug-in, the
// Lua state and this process's sessions as they are, none for the server asked; the session its
// call makes dies with it, so every child makes a first call. It times the call alone, not the
// fork, nor a process start and plug-in load as running rizi-host per call would; only the
// pages it first writes to are copied, a few microseconds. False when no child answered.
bool CallInChild(LuaHost& lua, int ref, FirstCall* call) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        return false;
    std::fflush(stdout); // nothing buffered twice
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        NtpSample sample{};
        const auto start = Clock::now();
        const bool ok = lua.Call(ref, &sample);
        const auto end = Clock::now();
        const FirstCall made{std::chrono::duration<double>(end - start).count(), sample.offset, ok};
        // No exit handlers, no destructors: the plug-in is the parent's.
        _exit(write(pipe_ends[1], &made, sizeof made) == sizeof made ? 0 : 1);
    }
    close(pipe_ends[1]);
    bool ok = false;
    if (child > 0) {
        ok = read(pipe_ends[0], call, sizeof *call) == sizeof *call;
        int status = 0;
        waitpid(child, &status, 0);
    }
    close(pipe_ends[0]);
    return ok;
}

// The median and spread (90th less 10th percentile) of first calls, their extremes, and
// failures; the median against target_ms where it has one (0: none).
void PrintFirstCalls(const char* client, const std::vector<FirstCall>& calls, int asked,
                     double target_ms) {
    std::vector<double> ms;
    for (const FirstCall& call : calls) {
        if (call.ok)
            ms.push_back(call.seconds * 1e3);
    }
    const double median = Quantile(ms, 0.5);
    std::printf("%-8s %-32s %9.2f ms, spread %.2f ms (%.2f to %.2f) %3d failed", "NTS", client,
                median, Quantile(ms, 0.9) - Quantile(ms, 0.1), Quantile(ms, 0), Quantile(ms, 1),
                asked - static_cast<int>(ms.size()));
    if (target_ms > 0 && !ms.empty())
        std::printf("    target at most %.0f ms: %s", target_ms,
                    median <= target_ms ? "met" : "missed");
    std::printf("\n");
}
#endif

// A difference of offsets in microseconds, against target_us where it has one (0: none).
void PrintOffsetDifference(const char* what, double seconds, double target_us) {
    std::printf("%-8s %-32s %9.1f us", "NTS", what, seconds * 1e6);
    if (target_us > 0)
        std::printf("    target at most %.0f us: %s", target_us,
                    std::fabs(seconds) * 1e6 <= target_us ? "met" : "missed");
    std::printf("\n");
}

// Rizi.QueryNTS against chronyd as NTS server: the first call with a server, each in a child
// process; the repeat call against Rizi.QueryNTP on chronyd's NTP port, taking turns; and the
// offsets the two measure, in pairs.
void MeasureNts(LuaHost& lua, const Options& options) {
    constexpr int LimitMs = 3000;
    const int nts_ref = lua.Prepare("QueryNTS", NtsKeServer, LimitMs);
    const int ntp_ref = lua.Prepare("QueryNTP", NtsNtpServer, 1000);

    // 1. First calls: while this process has made no TLS connection, so that each reads the
    //    trusted roots as a process's first call does; then after one call with the server's
    //    IPv6 name here, which leaves the roots read and the TLS library set up.
#if defined(__linux__)
    if (ThreadCount() != 1) {
        std::printf("%-8s %-32s %12s   (threads exist: a child of fork() could inherit a held "
                    "lock)\n",
                    "NTS", "Rizi.QueryNTS, first call", "n/a");
    } else {
        std::printf("%d first calls each, one child process per call: median, spread = 90th "
                    "less 10th percentile\n",
                    options.samples);
        std::vector<FirstCall> first_of_process, first_with_server;
        for (int i = 0; i < options.samples; ++i) {
            FirstCall call{};
            if (CallInChild(lua, nts_ref, &call))
                first_of_process.push_back(call);
        }
        const bool warmed = lua.Call(lua.Prepare("QueryNTS", NtsKeServerV6, LimitMs));
        for (int i = 0; warmed && i < options.samples; ++i) {
            FirstCall call{};
            if (CallInChild(lua, nts_ref, &call))
                first_with_server.push_back(call);
        }
        PrintFirstCalls("Rizi.QueryNTS, first of process", first_of_process, options.samples,
                        NtsFirstTargetMs);
        if (warmed)
            PrintFirstCalls("Rizi.QueryNTS, first with server", first_with_server, options.samples,
                            NtsFirstTargetMs);
        else
            std::printf("%-8s %-32s %12s   (no answer from %s)\n", "NTS",
                        "Rizi.QueryNTS, first with server", "n/a", NtsKeServerV6);
    }
#else
    std::printf("%-8s %-32s %12s   (first calls in child processes: Linux only)\n", "NTS",
                "Rizi.QueryNTS, first call", "n/a");
#endif

    // 2. Repeat calls, one datagram each, against the same server's plain NTP.
    std::printf("%-8s %-32s %12s %12s %12s %7s\n", "protocol", "client", "median", "p99",
                "CPU/call", "failed");
    const Medians medians = CompareCalls(
        "NTS", "Rizi.QueryNTS, repeat (Lua)", [&] { return lua.Call(nts_ref); },
        "Rizi.QueryNTP, same chronyd", [&] { return lua.Call(ntp_ref); }, options.calls);
    PrintRatio("NTS", "QueryNTS / QueryNTP, median", medians.Ratio(), TargetRatio);

    // 3. Offsets of both, in pairs a moment apart; the server serves this machine's clock.
    const int pairs = 10 * options.samples;
    std::printf("offsets against the same chronyd (the true offset is 0), %d pairs: medians, "
                "spread = 90th less 10th percentile\n",
                pairs);
    std::printf("%-8s %-32s %12s %12s %12s %12s %7s\n", "protocol", "client", "offset", "spread",
                "delay", "spread", "answers");
    std::vector<NtpSample> nts_samples, ntp_samples;
    std::vector<double> nts_offsets, ntp_offsets, differences;
    for (int i = 0; i < pairs; ++i) {
        NtpSample nts{}, ntp{};
        const bool nts_answered = lua.Call(nts_ref, &nts);
        const bool ntp_answered = lua.Call(ntp_ref, &ntp);
        if (nts_answered) {
            nts_samples.push_back(nts);
            nts_offsets.push_back(nts.offset);
        }
        if (ntp_answered) {
            ntp_samples.push_back(ntp);
            ntp_offsets.push_back(ntp.offset);
        }
        if (nts_answered && ntp_answered)
            differences.push_back(std::fabs(nts.offset - ntp.offset));
    }
    PrintAccuracy("NTS", "Rizi.QueryNTS (Lua)", nts_samples, pairs);
    PrintAccuracy("NTS", "Rizi.QueryNTP, same chronyd", ntp_samples, pairs);
    PrintOffsetDifference("offset NTS - NTP, medians",
                          Quantile(nts_offsets, 0.5) - Quantile(ntp_offsets, 0.5), 0);
    PrintOffsetDifference("|NTS - NTP| in a pair, median", Quantile(differences, 0.5),
                          NtsOffsetTargetUs);
}

// The NTS lines, or n/a with the reason; then the NTS server stops, if this program started it.
void CompareNts(LuaHost& lua, const Options& options, NtsSetup& nts) {
    std::printf("Network Time Security against chronyd: key exchange %s, NTP %s\n", NtsKeServer,
                NtsNtpServer);
    const char* missing = !lua.Has("QueryNTS") ? "this plug-in has no Rizi.QueryNTS"
                          : !nts.trusted       ? nts.reason.c_str()
                                               : nullptr;
    if (missing != nullptr)
        std::printf("%-8s %-32s %12s   (%s)\n", "NTS", "Rizi.QueryNTS (Lua)", "n/a", missing);
    else
        MeasureNts(lua, options);
    if (nts.started)
        RunServersScript(RIZI_NTS_SERVER_SCRIPT, "stop");
    nts.started = false;
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
        else if (word == "--samples")
            options.samples = std::max(1, std::atoi(value.c_str()));
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
                             "[--silent ADDRESS] [--calls N] [--samples N]\n");
        return 2;
    }
    NtsSetup nts = SetUpNts(); // first: before the plug-in and any thread
    host::PluginLibrary plugin;
    std::string error;
    LuaHost lua;
    if (!plugin.Open(options.plugin, error) || !lua.Register(plugin, error)) {
        std::fprintf(stderr, "rizi-bench-retrieval: %s\n", error.c_str());
        if (nts.started)
            RunServersScript(RIZI_NTS_SERVER_SCRIPT, "stop");
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
    std::printf("%-8s %-32s %12s %12s %12s %7s\n", "protocol", "client", "median", "p99",
                "CPU/call", "failed");
    const int sntp_ref = lua.Prepare("RetrieveNTPTime", options.server, 1000);
    Medians medians = CompareCalls(
        "SNTP", "Rizi.RetrieveNTPTime (Lua)", [&] { return lua.Call(sntp_ref); },
        "blocking C client", [&] { return CSntpQuery(server); }, options.calls);
    PrintRatio("SNTP", "Lua / C, median", medians.Ratio(), 0);
    const int time_ref = lua.Prepare("RetrieveTSTime", options.server, 1000);
    medians = CompareCalls(
        "RFC 868", "Rizi.RetrieveTSTime (Lua)", [&] { return lua.Call(time_ref); },
        "blocking C client", [&] { return CTimeQuery(server); }, options.calls);
    PrintRatio("RFC 868", "Lua / C, median", medians.Ratio(), 0);
    const int ntp_ref = lua.Prepare("QueryNTP", options.server, 1000);
    medians = CompareCalls(
        "NTPv4", "Rizi.QueryNTP (Lua)", [&] { return lua.Call(ntp_ref); }, "blocking C client",
        [&] { return CNtpQuery(server, ReplyWaitMs, nullptr); }, options.calls);
    PrintRatio("NTPv4", "QueryNTP Lua / C, median", medians.Ratio(), TargetRatio);

    CompareAccuracy(lua, options, server);

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
    WaitOnSilence("NTPv4", "Rizi.QueryNTP (Lua)", lua,
                  lua.Prepare("QueryNTP", options.silent, 200));

    // Before the sections that start threads: its first calls are made in children of fork().
    CompareNts(lua, options, nts);
    CompareServerCounts(lua, options);
    CompareBackground(lua, options);
    CompareMixedList(lua, options);
    return 0;
}
