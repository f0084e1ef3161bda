#include "tests/support/scripted_time_servers.h"

#include <chrono>

namespace test_support {
namespace {

constexpr std::uint16_t NtpPort = 123;
constexpr std::uint16_t TimePort = 37;
constexpr std::int32_t PollSliceMs = 20;

// Another test process may still hold the port for a moment. A stream socket is also put to
// listen within the same tries: with SO_REUSEADDR, wine (as Windows) lets a second process
// bind a port another one listens on, and only the listen then fails.
platform::SocketHandle BindWithRetry(platform::SocketType type, const char* address,
                                     std::uint16_t port) {
    for (int attempt = 0; attempt < 250; ++attempt) {
        platform::SocketHandle s = platform::OpenSocket(type);
        if (s == platform::InvalidSocket) {
            return s;
        }
        // A closed connection's TIME_WAIT must not keep the next test from listening.
        if (type == platform::SocketType::Stream) {
            platform::SetReuseAddress(s);
        }
        if (platform::Bind(s, platform::InetAddr(address), port) &&
            (type != platform::SocketType::Stream || platform::Listen(s, 4))) {
            return s;
        }
        platform::CloseSocket(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return platform::InvalidSocket;
}

void PutBigEndian32(Bytes& packet, std::size_t at, std::uint32_t value) {
    packet[at] = static_cast<std::uint8_t>(value >> 24);
    packet[at + 1] = static_cast<std::uint8_t>(value >> 16);
    packet[at + 2] = static_cast<std::uint8_t>(value >> 8);
    packet[at + 3] = static_cast<std::uint8_t>(value);
}

} // namespace

Bytes SntpReplyTo(const Bytes& request, std::uint32_t seconds, std::uint32_t fraction) {
    Bytes reply(48, 0);
    reply[0] = (3 << 3) | 4;                 // LI 0, version 3, server mode
    reply[1] = 2;                            // stratum
    reply[2] = 6;                            // poll
    reply[3] = 0xEC;                         // precision
    PutBigEndian32(reply, 16, seconds - 60); // reference timestamp
    // The originate timestamp echoes the request's transmit timestamp.
    for (std::size_t i = 0; i < 8 && 40 + i < request.size(); ++i) {
        reply[24 + i] = request[40 + i];
    }
    PutBigEndian32(reply, 32, seconds);
    PutBigEndian32(reply, 36, fraction);
    PutBigEndian32(reply, 40, seconds);
    PutBigEndian32(reply, 44, fraction);
    return reply;
}

ScriptedSntpServer::ScriptedSntpServer(SntpScript script) : script_(std::move(script)) {
    platform::SocketStartup();
    server_ = BindWithRetry(platform::SocketType::Datagram, ScriptedServerAddress, NtpPort);
    other_port_ = BindWithRetry(platform::SocketType::Datagram, ScriptedServerAddress, 0);
    // The foreign sender's port is 123 as well where the system allows it (wine refuses a
    // second port 123 on another loopback address); then any port serves.
    other_address_ = platform::OpenSocket(platform::SocketType::Datagram);
    if (!platform::Bind(other_address_, platform::InetAddr(ForeignSenderAddress), NtpPort)) {
        platform::CloseSocket(other_address_);
        other_address_ = BindWithRetry(platform::SocketType::Datagram, ForeignSenderAddress, 0);
    }
    ready_ = server_ != platform::InvalidSocket && other_port_ != platform::InvalidSocket &&
             other_address_ != platform::InvalidSocket;
    if (ready_) {
        thread_ = std::thread([this] { Serve(); });
    }
}

ScriptedSntpServer::~ScriptedSntpServer() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    platform::CloseSocket(server_);
    platform::CloseSocket(other_port_);
    platform::CloseSocket(other_address_);
    platform::SocketCleanup();
}

int ScriptedSntpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

Bytes ScriptedSntpServer::LastRequest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_request_;
}

void ScriptedSntpServer::Serve() {
    std::uint8_t buffer[2048];
    while (!stop_) {
        if (platform::WaitReadable(server_, PollSliceMs) != 1) {
            continue;
        }
        std::uint32_t client_address = 0;
        std::uint16_t client_port = 0;
        const std::int32_t n =
            platform::RecvFrom(server_, buffer, sizeof buffer, &client_address, &client_port);
        if (n <= 0) {
            continue;
        }
        const Bytes request(buffer, buffer + n);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++requests_;
            last_request_ = request;
        }
        for (const SntpDatagram& datagram : script_(request)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(datagram.delay_ms));
            platform::SocketHandle from = datagram.source == SntpSource::Server ? server_
                                          : datagram.source == SntpSource::OtherPort
                                              ? other_port_
                                              : other_address_;
            platform::SendTo(from, datagram.bytes.data(),
                             static_cast<std::int32_t>(datagram.bytes.size()), client_address,
                             client_port);
        }
    }
}

ScriptedTimeServer::ScriptedTimeServer(std::vector<TimeStep> script) : script_(std::move(script)) {
    platform::SocketStartup();
    listener_ = BindWithRetry(platform::SocketType::Stream, ScriptedServerAddress, TimePort);
    ready_ = listener_ != platform::InvalidSocket;
    if (ready_) {
        thread_ = std::thread([this] { Serve(); });
    }
}

ScriptedTimeServer::~ScriptedTimeServer() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    platform::CloseSocket(listener_);
    platform::SocketCleanup();
}

void ScriptedTimeServer::Serve() {
    while (!stop_) {
        if (platform::WaitReadable(listener_, PollSliceMs) != 1) {
            continue;
        }
        const platform::SocketHandle conn = platform::Accept(listener_);
        if (conn == platform::InvalidSocket) {
            continue;
        }
        ++connections_;
        RunScript(conn);
        platform::CloseSocket(conn);
    }
}

void ScriptedTimeServer::RunScript(platform::SocketHandle conn) {
    for (const TimeStep& step : script_) {
        switch (step.kind) {
        case TimeStep::Send:
            platform::Send(conn, step.bytes.data(), static_cast<std::int32_t>(step.bytes.size()));
            break;
        case TimeStep::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.pause_ms));
            break;
        case TimeStep::Close:
            return;
        }
    }
    // Hold the connection, silent, until the client closes it or the server stops.
    std::uint8_t scratch[16];
    while (!stop_) {
        const int ready = platform::WaitReadable(conn, PollSliceMs);
        if (ready < 0 || (ready == 1 && platform::Recv(conn, scratch, sizeof scratch) <= 0)) {
            return;
        }
    }
}

} // namespace test_support
