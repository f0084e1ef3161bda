// In-process peers on loopback for the connection tests, driven step by step from the test's
// own thread: a UDP peer that takes requests and sends scripted datagrams, and a TCP listener
// that accepts, sends scripted bytes and closes. Both bind 127.0.0.1 on a free port unless
// told otherwise. Also counts the process's open descriptors for leak checks.
#pragma once

#include "platform/socket.h"

#include <cstdint>
#include <vector>

namespace test_support {

using PeerBytes = std::vector<std::uint8_t>;

// Bytes 0, 1, 2, ... (mod 251, so no period matches a power of two) plus a tag.
PeerBytes PatternBytes(std::size_t count, std::uint8_t tag = 0);

class LoopbackUdpPeer {
  public:
    explicit LoopbackUdpPeer(const char* address = "127.0.0.1", std::uint16_t port = 0);
    ~LoopbackUdpPeer();
    LoopbackUdpPeer(const LoopbackUdpPeer&) = delete;
    LoopbackUdpPeer& operator=(const LoopbackUdpPeer&) = delete;

    bool Ok() const { return socket_ != platform::InvalidSocket; }
    std::uint16_t Port() const { return port_; }

    // Waits up to timeout_ms for one datagram and remembers its sender as the client;
    // false when none came.
    bool Receive(PeerBytes* bytes, std::int32_t timeout_ms);

    // Sends one datagram to the client last heard from; false on failure.
    bool SendToClient(const PeerBytes& bytes);

    // Sends one datagram to the client of another peer (as a foreign sender).
    bool SendToClientOf(const LoopbackUdpPeer& other, const PeerBytes& bytes);

  private:
    std::uint16_t port_ = 0; // before socket_: its initialiser fills this in
    platform::SocketHandle socket_ = platform::InvalidSocket;
    std::uint32_t client_address_ = 0;
    std::uint16_t client_port_ = 0;
};

class LoopbackTcpListener {
  public:
    // listening = false leaves the socket bound but not listening: connects are refused.
    explicit LoopbackTcpListener(std::int32_t backlog = 8, bool listening = true,
                                 const char* address = "127.0.0.1", std::uint16_t port = 0);
    ~LoopbackTcpListener();
    LoopbackTcpListener(const LoopbackTcpListener&) = delete;
    LoopbackTcpListener& operator=(const LoopbackTcpListener&) = delete;

    bool Ok() const { return socket_ != platform::InvalidSocket; }
    std::uint16_t Port() const { return port_; }

    // Waits up to timeout_ms for a connection, sends bytes on it and closes it; false when
    // no connection came or the send failed. hold_ms > 0: first holds the connection that
    // long and reads the request that came meanwhile (a slow server).
    bool ServeOne(const PeerBytes& bytes, std::int32_t timeout_ms, std::int32_t hold_ms = 0);

  private:
    std::uint16_t port_ = 0; // before socket_: its initialiser fills this in
    platform::SocketHandle socket_ = platform::InvalidSocket;
};

// Descriptors open in this process (POSIX: /proc/self/fd); -1 where they cannot be counted.
int CountOpenDescriptors();

} // namespace test_support
