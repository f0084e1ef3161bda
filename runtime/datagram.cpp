#include "runtime/datagram.h"

#include "runtime/clock.h"

#include <cstring>

namespace runtime {
namespace {

// The largest datagram taken; a longer one is dropped whole.
constexpr std::int32_t DatagramBytes = 2048;

// The longest wait in the socket believed.
constexpr std::int64_t MaxQueuedNs = 1000000000;

// An IPv4-mapped IPv6 address (::ffff:a.b.c.d) as the IPv4 address it stands for.
platform::NetAddress Unmapped(const platform::NetAddress& address) {
    static const std::uint8_t Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (address.family != 6 || std::memcmp(address.bytes, Mapped, sizeof Mapped) != 0)
        return address;
    platform::NetAddress v4{4, {}, address.port, 0};
    std::memcpy(v4.bytes, address.bytes + 12, 4);
    return v4;
}

} // namespace

bool OpenDatagramPeer(const platform::NetAddress& address, DatagramPeer* peer) {
    // Opened non-blocking, so a receive with nothing waiting says so instead of waiting.
    const platform::SocketHandle socket = platform::OpenDatagramSocket(address.family);
    if (socket == platform::InvalidSocket)
        return false;
    *peer = DatagramPeer{socket, address};
    return true;
}

bool SendToPeer(const DatagramPeer& peer, const void* data, std::int32_t length) {
    return peer.socket != platform::InvalidSocket &&
           platform::SendToAddress(peer.socket, data, length, peer.address) == length;
}

std::int32_t ReceiveFromPeer(const DatagramPeer& peer, void* buffer, std::int32_t length,
                             std::int64_t* queued_ns) {
    *queued_ns = 0;
    if (peer.socket == platform::InvalidSocket)
        return NothingWaiting;
    // Step 1: one datagram with its sender, straight away: the socket is non-blocking, and
    // the receive tells "none waiting" apart from an error report, which it uses up.
    std::uint8_t datagram[DatagramBytes];
    platform::NetAddress from{};
    std::int64_t queued = 0;
    const std::int32_t n =
        platform::ReceiveFromAddress(peer.socket, datagram, DatagramBytes, &from, &queued);
    if (n == platform::NothingReceived)
        return NothingWaiting;
    // Step 2: only a datagram from the peer that fits the caller's buffer is handed on.
    if (n <= 0 || n > length || !SameEndpoint(from, peer.address))
        return 0;
    std::memcpy(buffer, datagram, static_cast<std::size_t>(n));
    // The stamp and the clock read after it are both the wall clock: a wait beyond a second,
    // or below zero, means the clock was stepped (or faked) in between, and counts as none.
    *queued_ns = queued >= 0 && queued < MaxQueuedNs ? queued : 0;
    return n;
}

void WaitForPeers(const DatagramPeer* peers, int count, std::int32_t timeout_ms) {
    if (timeout_ms < 0)
        return;
    platform::SocketHandle sockets[64];
    int open = 0;
    for (int i = 0; i < count && open < 64; ++i) {
        if (peers[i].socket != platform::InvalidSocket)
            sockets[open++] = peers[i].socket;
    }
    if (platform::WaitAnyReadable(sockets, open, timeout_ms) < 0)
        SleepMs(timeout_ms);
}

void CloseDatagramPeer(DatagramPeer* peer) {
    platform::CloseSocket(peer->socket);
    peer->socket = platform::InvalidSocket;
}

bool SameEndpoint(const platform::NetAddress& a, const platform::NetAddress& b) {
    const platform::NetAddress x = Unmapped(a);
    const platform::NetAddress y = Unmapped(b);
    const std::size_t size = x.family == 4 ? 4 : 16;
    return x.family == y.family && x.port == y.port && std::memcmp(x.bytes, y.bytes, size) == 0;
}

} // namespace runtime
