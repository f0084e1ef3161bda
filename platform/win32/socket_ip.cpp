// The address-family-independent calls of platform/socket.h, over WS2_32: kept apart from
// socket.cpp, whose Winsock 1.1 header cannot share a file with Winsock 2's. Sockets are the
// same kernel objects for both, so the 1.1 calls (close, select) serve them.
#include "platform/socket.h"

#include <cstring>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace platform {
namespace {

SOCKET Sock(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

// A NetAddress as the system's address record; its size, 0 for an unknown family.
int ToSockaddr(const NetAddress& address, sockaddr_storage* out) {
    std::memset(out, 0, sizeof *out);
    if (address.family == 4) {
        auto* sa = reinterpret_cast<sockaddr_in*>(out);
        sa->sin_family = AF_INET;
        sa->sin_port = htons(address.port);
        std::memcpy(&sa->sin_addr, address.bytes, 4);
        return sizeof *sa;
    }
    if (address.family == 6) {
        auto* sa = reinterpret_cast<sockaddr_in6*>(out);
        sa->sin6_family = AF_INET6;
        sa->sin6_port = htons(address.port);
        std::memcpy(&sa->sin6_addr, address.bytes, 16);
        sa->sin6_scope_id = address.scope_id;
        return sizeof *sa;
    }
    return 0;
}

// The system's address record as a NetAddress; false for another family.
bool FromSockaddr(const sockaddr* sa, int size, NetAddress* out) {
    *out = NetAddress{};
    if (sa->sa_family == AF_INET && size >= static_cast<int>(sizeof(sockaddr_in))) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
        out->family = 4;
        std::memcpy(out->bytes, &in->sin_addr, 4);
        out->port = ntohs(in->sin_port);
        return true;
    }
    if (sa->sa_family == AF_INET6 && size >= static_cast<int>(sizeof(sockaddr_in6))) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(sa);
        out->family = 6;
        std::memcpy(out->bytes, &in6->sin6_addr, 16);
        out->port = ntohs(in6->sin6_port);
        out->scope_id = in6->sin6_scope_id;
        return true;
    }
    return false;
}

} // namespace

int ResolveAddresses(const char* name, std::uint16_t port, NetAddress* out, int capacity,
                     bool numeric_only) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = numeric_only ? AI_NUMERICHOST : 0;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0)
        return 0;
    int count = 0;
    for (const addrinfo* ai = list; ai != nullptr && count < capacity; ai = ai->ai_next) {
        if (FromSockaddr(ai->ai_addr, static_cast<int>(ai->ai_addrlen), &out[count])) {
            out[count].port = port;
            ++count;
        }
    }
    freeaddrinfo(list);
    return count;
}

namespace {

// Winsock has no flag for non-blocking mode at socket(); ioctlsocket sets it here, so callers
// make one call either way. Nothing to do for inheritance: the plug-in starts programs without
// handing on its handles.
SocketHandle OpenNonBlocking(std::int32_t family, int type) {
    SOCKET s = socket(family == 6 ? AF_INET6 : AF_INET, type, 0);
    if (s == INVALID_SOCKET)
        return InvalidSocket;
    u_long on = 1;
    if (ioctlsocket(s, static_cast<long>(FIONBIO), &on) != 0) {
        closesocket(s);
        return InvalidSocket;
    }
    return static_cast<SocketHandle>(s);
}

} // namespace

SocketHandle OpenDatagramSocket(std::int32_t family) {
    return OpenNonBlocking(family, SOCK_DGRAM);
}

std::int32_t SendToAddress(SocketHandle socket, const void* data, std::int32_t length,
                           const NetAddress& address) {
    sockaddr_storage sa;
    const int size = ToSockaddr(address, &sa);
    return sendto(Sock(socket), static_cast<const char*>(data), length, 0,
                  reinterpret_cast<const sockaddr*>(&sa), size);
}

// A datagram longer than the buffer fails with WSAEMSGSIZE and is discarded; an ICMP port
// unreachable for an earlier send fails one receive with WSAECONNRESET (10054).
// Winsock keeps no receive time stamp that every version offers: the wait counts as 0.
std::int32_t ReceiveFromAddress(SocketHandle socket, void* buffer, std::int32_t length,
                                NetAddress* from, std::int64_t* queued_ns) {
    *queued_ns = 0;
    sockaddr_storage sa;
    std::memset(&sa, 0, sizeof sa);
    int size = sizeof sa;
    const int n = recvfrom(Sock(socket), static_cast<char*>(buffer), length, 0,
                           reinterpret_cast<sockaddr*>(&sa), &size);
    if (n == SOCKET_ERROR)
        return WSAGetLastError() == WSAEWOULDBLOCK ? NothingReceived : -1;
    if (!FromSockaddr(reinterpret_cast<const sockaddr*>(&sa), size, from))
        *from = NetAddress{};
    return n;
}

int WaitAnyReadable(const SocketHandle* sockets, int count, std::int32_t timeout_ms) {
    if (count < 0 || count > FD_SETSIZE)
        return -1;
    fd_set set;
    set.fd_count = static_cast<u_int>(count);
    for (int i = 0; i < count; ++i)
        set.fd_array[i] = Sock(sockets[i]);
    const std::int32_t limit = timeout_ms < 0 ? 0 : timeout_ms;
    timeval tv;
    tv.tv_sec = limit / 1000;
    tv.tv_usec = (limit % 1000) * 1000;
    // Winsock ignores the first argument; select with no sockets fails, so none sleeps.
    if (count == 0) {
        Sleep(static_cast<DWORD>(limit));
        return 0;
    }
    const int n = select(0, &set, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR)
        return -1;
    return n > 0 ? 1 : 0;
}

bool AddressToText(const NetAddress& address, char (&text)[AddressTextBytes]) {
    sockaddr_storage sa;
    const int size = ToSockaddr(address, &sa);
    return size != 0 && getnameinfo(reinterpret_cast<const sockaddr*>(&sa), size, text,
                                    AddressTextBytes, nullptr, 0, NI_NUMERICHOST) == 0;
}

SocketHandle OpenStreamSocket(std::int32_t family) {
    return OpenNonBlocking(family, SOCK_STREAM);
}

ConnectResult ConnectTo(SocketHandle socket, const NetAddress& address) {
    sockaddr_storage sa;
    const int size = ToSockaddr(address, &sa);
    if (size == 0)
        return ConnectResult::Failed;
    if (connect(Sock(socket), reinterpret_cast<const sockaddr*>(&sa), size) == 0)
        return ConnectResult::Connected;
    // A non-blocking connect that has started reports WSAEWOULDBLOCK.
    return WSAGetLastError() == WSAEWOULDBLOCK ? ConnectResult::InProgress : ConnectResult::Failed;
}

bool SetNoDelay(SocketHandle socket) {
    BOOL on = TRUE;
    return setsockopt(Sock(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

// Winsock raises no signal on a broken connection: send's flags stay 0.
std::int32_t SendStream(SocketHandle socket, const void* data, std::int32_t length) {
    const int n = send(Sock(socket), static_cast<const char*>(data), length, 0);
    if (n == SOCKET_ERROR)
        return WSAGetLastError() == WSAEWOULDBLOCK ? WouldBlock : -1;
    return n;
}

std::int32_t ReceiveStream(SocketHandle socket, void* buffer, std::int32_t length) {
    const int n = recv(Sock(socket), static_cast<char*>(buffer), length, 0);
    if (n == SOCKET_ERROR)
        return WSAGetLastError() == WSAEWOULDBLOCK ? WouldBlock : -1;
    return n;
}

} // namespace platform
