#include "tests/support/loopback_peer.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

namespace test_support {
namespace {

// Opens and binds a socket; InvalidSocket (with nothing left open) on failure.
platform::SocketHandle OpenBound(platform::SocketType type, const char* address, std::uint16_t port,
                                 std::uint16_t* bound_port) {
    platform::SocketHandle s = platform::OpenSocket(type);
    if (s == platform::InvalidSocket)
        return s;
    if (!platform::Bind(s, platform::InetAddr(address), port) ||
        !platform::LocalPort(s, bound_port)) {
        platform::CloseSocket(s);
        return platform::InvalidSocket;
    }
    return s;
}

} // namespace

PeerBytes PatternBytes(std::size_t count, std::uint8_t tag) {
    PeerBytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>((i % 251 + tag) & 0xFF);
    return bytes;
}

LoopbackUdpPeer::LoopbackUdpPeer(const char* address, std::uint16_t port)
    : socket_(OpenBound(platform::SocketType::Datagram, address, port, &port_)) {}

LoopbackUdpPeer::~LoopbackUdpPeer() {
    platform::CloseSocket(socket_);
}

bool LoopbackUdpPeer::Receive(PeerBytes* bytes, std::int32_t timeout_ms) {
    if (platform::WaitReadable(socket_, timeout_ms) != 1)
        return false;
    bytes->resize(65536);
    std::int32_t n = platform::RecvFrom(socket_, bytes->data(), static_cast<std::int32_t>(65536),
                                        &client_address_, &client_port_);
    if (n < 0)
        return false;
    bytes->resize(static_cast<std::size_t>(n));
    return true;
}

bool LoopbackUdpPeer::SendToClient(const PeerBytes& bytes) {
    const auto length = static_cast<std::int32_t>(bytes.size());
    return platform::SendTo(socket_, bytes.data(), length, client_address_, client_port_) == length;
}

bool LoopbackUdpPeer::SendToClientOf(const LoopbackUdpPeer& other, const PeerBytes& bytes) {
    const auto length = static_cast<std::int32_t>(bytes.size());
    return platform::SendTo(socket_, bytes.data(), length, other.client_address_,
                            other.client_port_) == length;
}

LoopbackTcpListener::LoopbackTcpListener(std::int32_t backlog, bool listening, const char* address,
                                         std::uint16_t port)
    : socket_(OpenBound(platform::SocketType::Stream, address, port, &port_)) {
    if (listening && socket_ != platform::InvalidSocket && !platform::Listen(socket_, backlog)) {
        platform::CloseSocket(socket_);
        socket_ = platform::InvalidSocket;
    }
}

LoopbackTcpListener::~LoopbackTcpListener() {
    platform::CloseSocket(socket_);
}

bool LoopbackTcpListener::ServeOne(const PeerBytes& bytes, std::int32_t timeout_ms,
                                   std::int32_t hold_ms) {
    if (platform::WaitReadable(socket_, timeout_ms) != 1)
        return false;
    platform::SocketHandle s = platform::Accept(socket_);
    if (s == platform::InvalidSocket)
        return false;
    if (hold_ms > 0) {
        // Read what was asked, so that closing with it unread does not reset the connection.
        std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
        std::uint8_t request[4096];
        if (platform::WaitReadable(s, 0) == 1)
            platform::Recv(s, request, sizeof request);
    }
    const auto length = static_cast<std::int32_t>(bytes.size());
    const bool sent = length == 0 || platform::Send(s, bytes.data(), length) == length;
    platform::CloseSocket(s);
    return sent;
}

int CountOpenDescriptors() {
#ifdef _WIN32
    return -1;
#else
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error))
        ++count;
    return error ? -1 : count;
#endif
}

} // namespace test_support
