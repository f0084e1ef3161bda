#include "runtime/net.h"

#include "platform/clock.h"
#include "platform/socket.h"
#include "runtime/clock.h"
#include "runtime/heap.h"
#include "runtime/name_lookup.h"

#include <cstring>
#include <new>

namespace runtime {

// One open connection. TCP uses kind and socket only; the rest belongs to UDP.
struct ClientConnection {
    std::int32_t kind;             // ProtocolTcp or ProtocolUdp
    std::uint32_t peer_address;    // IPv4, network byte order
    std::int32_t peer_port;        // as passed to OpenClientConnection; low 16 bits used
    platform::SocketHandle socket; //
    std::uint8_t* pending;         // copy of the last polled datagram, or null
    std::int32_t remaining;        // bytes of it not yet read
    std::uint8_t* read_position;   // where the next read copies from
};

namespace {

// The largest datagram a poll takes; a longer one is discarded whole.
constexpr std::int32_t DatagramBytes = 2048;

bool started = false;

// Owns a socket until it is handed to a connection record; closes it on every early return.
class SocketHolder {
  public:
    explicit SocketHolder(platform::SocketHandle socket) : socket_(socket) {}
    ~SocketHolder() { platform::CloseSocket(socket_); }
    SocketHolder(const SocketHolder&) = delete;
    SocketHolder& operator=(const SocketHolder&) = delete;

    platform::SocketHandle Get() const { return socket_; }
    platform::SocketHandle Release() {
        platform::SocketHandle s = socket_;
        socket_ = platform::InvalidSocket;
        return s;
    }

  private:
    platform::SocketHandle socket_;
};

std::uint16_t PortBits(std::int32_t port) {
    return static_cast<std::uint16_t>(port & 0xFFFF);
}

// The resolver's first IPv4 answer for name; with a cancel, on a lookup thread whose wait
// the cancel ends.
bool ResolveFirst(const char* name, std::uint32_t* address, const Cancellation* cancel) {
    if (cancel == nullptr)
        return platform::ResolveFirstAddress(name, address);
    NameLookup lookup{name, 0, LookupKind::FirstIpv4, {}, 0};
    if (!ResolveNames(&lookup, 1, cancel) || lookup.count <= 0)
        return false;
    std::memcpy(address, lookup.addresses[0].bytes, 4);
    return true;
}

// Dotted address first, then the resolver's first answer; the all-ones address (what
// inet_addr reports for "not a dotted address") is never usable.
bool ResolveHost(const char* host, std::uint32_t* address, const Cancellation* cancel) {
    std::uint32_t a = platform::InetAddr(host);
    if (a == platform::NoAddress && !ResolveFirst(host, &a, cancel))
        return false;
    if (a == platform::NoAddress)
        return false;
    *address = a;
    return true;
}

// Connects a blocking stream socket. With a limit, the connect runs non-blocking, the wait
// for writability ends it after limit_ms, SO_ERROR gives the outcome, and the socket goes
// back to blocking mode. Without one, only the platform's own connect timeout applies. A
// cancel ends the wait at once.
bool ConnectStream(platform::SocketHandle socket, std::uint32_t address, std::uint16_t port,
                   std::int32_t limit_ms, const Cancellation* cancel) {
    const bool bounded = limit_ms >= 0;
    if (bounded && !platform::SetNonBlocking(socket, true))
        return false;
    switch (platform::Connect(socket, address, port)) {
    case platform::ConnectResult::Connected:
        break;
    case platform::ConnectResult::InProgress:
        // Also reached unbounded when a signal interrupted the connect: wait it out.
        if (cancel != nullptr && cancel->WakeHandle() != platform::InvalidSocket) {
            if (platform::WaitWritableOrReadable(socket, cancel->WakeHandle(),
                                                 bounded ? limit_ms : -1) != 1)
                return false;
        } else if (platform::WaitWritable(socket, bounded ? limit_ms : -1) != 1) {
            return false;
        }
        if (platform::SocketError(socket) != 0)
            return false;
        break;
    case platform::ConnectResult::Failed:
        return false;
    }
    return !bounded || platform::SetNonBlocking(socket, false);
}

// A new record in the module heap, holding the socket; null if no memory is left.
ClientConnection* NewConnection(std::int32_t kind, std::uint32_t address, std::int32_t port,
                                platform::SocketHandle socket) {
    void* block = AllocateBlock(Heap::Module, sizeof(ClientConnection));
    if (block == nullptr)
        return nullptr;
    return new (block) ClientConnection{kind, address, port, socket, nullptr, 0, nullptr};
}

void DropPending(ClientConnection* conn) {
    ReleaseBlock(Heap::Module, conn->pending);
    conn->pending = nullptr;
    conn->read_position = nullptr;
    conn->remaining = 0;
}

std::int32_t PollStream(const ClientConnection* conn) {
    // Step 1: a zero-time readability test; it consumes nothing.
    const int readable = platform::WaitReadable(conn->socket, 0);
    // Step 2: a failing test means the connection failed.
    if (readable < 0)
        return EventDisconnect;
    // Step 3: nothing arrived.
    if (readable == 0)
        return EventNone;
    // Step 4: readable with nothing to read means the peer has closed.
    std::int32_t waiting = 0;
    if (!platform::BytesWaiting(conn->socket, &waiting) || waiting <= 0)
        return EventDisconnect;
    return EventData;
}

std::int32_t PollDatagram(ClientConnection* conn) {
    // Step 1: one datagram from the non-blocking socket, with its sender.
    std::uint8_t buffer[DatagramBytes];
    std::uint32_t from_address = 0;
    std::uint16_t from_port = 0;
    const std::int32_t n =
        platform::RecvFrom(conn->socket, buffer, DatagramBytes, &from_address, &from_port);
    // Step 2: nothing, an empty or oversized datagram, or an error.
    if (n <= 0)
        return EventNone;
    // Step 3: only the peer's own address and port may answer; anything else is dropped.
    if (from_address != conn->peer_address || from_port != PortBits(conn->peer_port))
        return EventNone;
    // Step 4: keep a copy of exactly its length; it replaces unread bytes of the last one.
    // Without memory the datagram is lost and the previous one stays as it was.
    auto* copy = static_cast<std::uint8_t*>(AllocateBlock(Heap::Module, n));
    if (copy == nullptr)
        return EventNone;
    std::memcpy(copy, buffer, static_cast<std::size_t>(n));
    DropPending(conn);
    conn->pending = copy;
    conn->read_position = copy;
    conn->remaining = n;
    return EventData;
}

std::int32_t ReadDatagram(ClientConnection* conn, void* buffer, std::int32_t length) {
    if (conn->pending == nullptr)
        return 0;
    const std::int32_t n = length < conn->remaining ? length : conn->remaining;
    std::memcpy(buffer, conn->read_position, static_cast<std::size_t>(n));
    conn->read_position += n;
    conn->remaining -= n;
    if (conn->remaining == 0)
        DropPending(conn);
    return n;
}

} // namespace

std::int32_t NetworkStartup() {
    if (!started)
        started = platform::SocketStartup();
    return started ? 1 : 0;
}

// The flag is cleared as well, so that a later start-up in the same process starts the
// library again instead of trusting a cleaned-up one.
void NetworkShutdown() {
    if (started)
        platform::SocketCleanup();
    started = false;
}

ConnectionHandle OpenClientConnection(const char* host, std::int32_t port, std::int32_t protocol,
                                      std::int32_t connect_timeout_ms, const Cancellation* cancel) {
    // Step 1: no host, no network.
    if (host == nullptr)
        return nullptr;
    // Step 2: protocol 0 means TCP; only the two known protocols open anything.
    if (protocol == 0)
        protocol = ProtocolTcp;
    if (protocol != ProtocolTcp && protocol != ProtocolUdp)
        return nullptr;
    // Step 3: the socket; from here on every failure closes it.
    SocketHolder socket(platform::OpenSocket(
        protocol == ProtocolTcp ? platform::SocketType::Stream : platform::SocketType::Datagram));
    if (socket.Get() == platform::InvalidSocket)
        return nullptr;
    // Step 4: the peer's address.
    std::uint32_t address = 0;
    if (!ResolveHost(host, &address, cancel))
        return nullptr;
    ClientConnection* conn = nullptr;
    if (protocol == ProtocolTcp) {
        // Step 5: TCP connects now and stays in blocking mode.
        if (!ConnectStream(socket.Get(), address, PortBits(port), connect_timeout_ms, cancel))
            return nullptr;
        conn = NewConnection(ProtocolTcp, 0, 0, socket.Get());
    } else {
        // Step 6: UDP only turns non-blocking; it is neither bound nor connected, the first
        // send gives it a local port.
        if (!platform::SetNonBlocking(socket.Get(), true))
            return nullptr;
        conn = NewConnection(ProtocolUdp, address, port, socket.Get());
    }
    if (conn != nullptr)
        socket.Release();
    return conn;
}

std::int32_t SendToConnection(ConnectionHandle conn, const void* data, std::int32_t length) {
    if (conn == nullptr || length < 0 || (data == nullptr && length > 0))
        return -1;
    if (conn->kind == ProtocolTcp)
        return platform::Send(conn->socket, data, length);
    return platform::SendTo(conn->socket, data, length, conn->peer_address,
                            PortBits(conn->peer_port));
}

std::int32_t PollConnectionEvent(ConnectionHandle conn) {
    if (conn == nullptr)
        return EventNone;
    return conn->kind == ProtocolTcp ? PollStream(conn) : PollDatagram(conn);
}

void WaitConnectionEvent(ConnectionHandle conn, std::int32_t timeout_ms) {
    if (conn == nullptr) {
        SleepMs(timeout_ms);
        return;
    }
    // Readability is the one signal for both kinds: a datagram, bytes, or a close or error.
    // The platform reads a negative time as "no limit", so it counts as 0 here; a wait that
    // fails sleeps instead, so that no polling loop built on it can spin.
    RaiseTimerResolutionOnce();
    const std::int32_t limit = timeout_ms < 0 ? 0 : timeout_ms;
    if (platform::clock_ops.wait_readable(conn->socket, limit) < 0)
        SleepMs(limit);
}

std::int32_t ReceiveFromConnection(ConnectionHandle conn, void* buffer, std::int32_t length) {
    if (conn == nullptr || length < 0 || (buffer == nullptr && length > 0))
        return -1;
    if (conn->kind == ProtocolTcp)
        return platform::Recv(conn->socket, buffer, length);
    return ReadDatagram(conn, buffer, length);
}

void CloseClientConnection(ConnectionHandle conn) {
    if (conn == nullptr)
        return;
    platform::CloseSocket(conn->socket);
    DropPending(conn);
    conn->~ClientConnection();
    ReleaseBlock(Heap::Module, conn);
}

} // namespace runtime
