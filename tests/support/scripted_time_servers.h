// Misbehaving time servers on the product's fixed ports, in-process on their own loopback
// address: an SNTP server on UDP 127.0.0.2:123 and an RFC 868 server on TCP 127.0.0.2:37,
// each following a script. Binding ports below 1024 needs root or a private user namespace.
#pragma once

#include "platform/socket.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace test_support {

using Bytes = std::vector<std::uint8_t>;

// The servers' address; 127.0.0.3 is the foreign sender's, 127.0.0.254 has no server at all.
constexpr const char* ScriptedServerAddress = "127.0.0.2";

// wine binds a UDP socket asked for a loopback address to 0.0.0.0 (tied to lo), so there the
// scripted server collides with a real one on 127.0.0.1:123 and answers from 127.0.0.1, which
// the client rightly drops. The reply rules are the same code as in the Linux build; the
// Windows build meets a real server in the Lua end-to-end tests instead.
#if defined(_WIN32)
constexpr bool ScriptedUdpServerUsable = false;
#else
constexpr bool ScriptedUdpServerUsable = true;
#endif
constexpr const char* ForeignSenderAddress = "127.0.0.3";
constexpr const char* NoServerAddress = "127.0.0.254";

// Where a scripted datagram comes from.
enum class SntpSource {
    Server,       // 127.0.0.2:123, as a real reply
    OtherPort,    // 127.0.0.2, another port
    OtherAddress, // 127.0.0.3, port 123 where the system allows it
};

struct SntpDatagram {
    Bytes bytes;
    SntpSource source = SntpSource::Server;
    int delay_ms = 0; // a pause before it is sent
};

// Given one request, the datagrams to send back, in order (none for silence).
using SntpScript = std::function<std::vector<SntpDatagram>(const Bytes& request)>;

// A valid server reply (version 3, stratum 2) to request, carrying the given Transmit
// Timestamp words.
Bytes SntpReplyTo(const Bytes& request, std::uint32_t seconds, std::uint32_t fraction);

class ScriptedSntpServer {
  public:
    explicit ScriptedSntpServer(SntpScript script);
    ~ScriptedSntpServer();
    ScriptedSntpServer(const ScriptedSntpServer&) = delete;
    ScriptedSntpServer& operator=(const ScriptedSntpServer&) = delete;

    // True once every socket is bound (retrying for a few seconds while another test holds
    // the port) and the server thread runs.
    bool Ready() const { return ready_; }
    int Requests() const;
    Bytes LastRequest() const;

  private:
    void Serve();

    SntpScript script_;
    platform::SocketHandle server_ = platform::InvalidSocket;
    platform::SocketHandle other_port_ = platform::InvalidSocket;
    platform::SocketHandle other_address_ = platform::InvalidSocket;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    int requests_ = 0;
    Bytes last_request_;
    std::thread thread_;
};

// One step of an RFC 868 server's script for each connection it accepts.
struct TimeStep {
    enum Kind { Send, Pause, Close } kind;
    Bytes bytes;
    int pause_ms;
};

inline TimeStep SendBytes(Bytes bytes) {
    return {TimeStep::Send, std::move(bytes), 0};
}
inline TimeStep PauseMs(int ms) {
    return {TimeStep::Pause, {}, ms};
}
inline TimeStep CloseConnection() {
    return {TimeStep::Close, {}, 0};
}

// Runs the script on each accepted connection; a script that does not close holds the
// connection open, silent, until the client closes it.
class ScriptedTimeServer {
  public:
    explicit ScriptedTimeServer(std::vector<TimeStep> script);
    ~ScriptedTimeServer();
    ScriptedTimeServer(const ScriptedTimeServer&) = delete;
    ScriptedTimeServer& operator=(const ScriptedTimeServer&) = delete;

    bool Ready() const { return ready_; }
    int Connections() const { return connections_; }

  private:
    void Serve();
    void RunScript(platform::SocketHandle conn);

    std::vector<TimeStep> script_;
    platform::SocketHandle listener_ = platform::InvalidSocket;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

} // namespace test_support
