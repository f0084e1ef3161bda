#include "platform/socket.h"

#include <cstring>
#include <winsock.h>

namespace platform {
namespace {

SOCKET Sock(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    return sa;
}

timeval MakeTimeout(std::int32_t timeout_ms) {
    timeval tv;
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
    return tv;
}

// One socket per set, filled by hand: FD_SET's loop is the same thing with casts.
fd_set SetOf(SocketHandle socket) {
    fd_set set;
    set.fd_count = 1;
    set.fd_array[0] = Sock(socket);
    return set;
}

// Winsock ignores select's first argument and reports a failed non-blocking connect in the
// exception set, not the write set; both count as ready here.
int Select(SocketHandle socket, bool for_write, std::int32_t timeout_ms) {
    fd_set ready = SetOf(socket);
    fd_set failed = SetOf(socket);
    timeval tv = MakeTimeout(timeout_ms);
    int n = select(0, for_write ? nullptr : &ready, for_write ? &ready : nullptr,
                   for_write ? &failed : nullptr, timeout_ms < 0 ? nullptr : &tv);
    if (n == SOCKET_ERROR)
        return -1;
    return n > 0 ? 1 : 0;
}

} // namespace

bool SocketStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void SocketCleanup() {
    WSACleanup();
}

SocketHandle OpenSocket(SocketType type) {
    SOCKET s = socket(AF_INET, type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? InvalidSocket : static_cast<SocketHandle>(s);
}

void CloseSocket(SocketHandle socket) {
    if (socket != InvalidSocket)
        closesocket(Sock(socket));
}

std::uint32_t InetAddr(const char* text) {
    return static_cast<std::uint32_t>(inet_addr(text));
}

bool ResolveFirstAddress(const char* name, std::uint32_t* address) {
    const hostent* host = gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
        host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr)
        return false;
    std::memcpy(address, host->h_addr_list[0], 4);
    return true;
}

ConnectResult Connect(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    if (connect(Sock(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0)
        return ConnectResult::Connected;
    // A non-blocking connect that has started reports WSAEWOULDBLOCK.
    return WSAGetLastError() == WSAEWOULDBLOCK ? ConnectResult::InProgress : ConnectResult::Failed;
}

bool SetNonBlocking(SocketHandle socket, bool non_blocking) {
    u_long on = non_blocking ? 1 : 0;
    return ioctlsocket(Sock(socket), static_cast<long>(FIONBIO), &on) == 0;
}

int WaitReadable(SocketHandle socket, std::int32_t timeout_ms) {
    return Select(socket, false, timeout_ms);
}

int WaitWritable(SocketHandle socket, std::int32_t timeout_ms) {
    return Select(socket, true, timeout_ms);
}

int WaitWritableOrReadable(SocketHandle writable, SocketHandle readable, std::int32_t timeout_ms) {
    fd_set ready = SetOf(writable);
    fd_set failed = SetOf(writable);
    fd_set woken = SetOf(readable);
    timeval tv = MakeTimeout(timeout_ms);
    const int n = select(0, &woken, &ready, &failed, timeout_ms < 0 ? nullptr : &tv);
    if (n == SOCKET_ERROR)
        return -1;
    if (n == 0)
        return 0;
    return FD_ISSET(Sock(writable), &ready) || FD_ISSET(Sock(writable), &failed) ? 1 : 2;
}

int SocketError(SocketHandle socket) {
    int error = 0;
    int size = sizeof error;
    if (getsockopt(Sock(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        return -1;
    return error;
}

bool BytesWaiting(SocketHandle socket, std::int32_t* count) {
    u_long n = 0;
    if (ioctlsocket(Sock(socket), static_cast<long>(FIONREAD), &n) != 0)
        return false;
    *count = n > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(n);
    return true;
}

std::int32_t Send(SocketHandle socket, const void* data, std::int32_t length) {
    return send(Sock(socket), static_cast<const char*>(data), length, 0);
}

std::int32_t SendTo(SocketHandle socket, const void* data, std::int32_t length,
                    std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    return sendto(Sock(socket), static_cast<const char*>(data), length, 0,
                  reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

std::int32_t Recv(SocketHandle socket, void* buffer, std::int32_t length) {
    return recv(Sock(socket), static_cast<char*>(buffer), length, 0);
}

// A datagram longer than the buffer fails with WSAEMSGSIZE and is discarded.
std::int32_t RecvFrom(SocketHandle socket, void* buffer, std::int32_t length,
                      std::uint32_t* from_address, std::uint16_t* from_port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    int size = sizeof sa;
    int n = recvfrom(Sock(socket), static_cast<char*>(buffer), length, 0,
                     reinterpret_cast<sockaddr*>(&sa), &size);
    if (n == SOCKET_ERROR)
        return -1;
    *from_address = static_cast<std::uint32_t>(sa.sin_addr.s_addr);
    *from_port = ntohs(sa.sin_port);
    return n;
}

bool Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    return bind(Sock(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool SetReuseAddress(SocketHandle socket) {
    BOOL on = TRUE;
    return setsockopt(Sock(socket), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

bool Listen(SocketHandle socket, std::int32_t backlog) {
    return listen(Sock(socket), backlog) == 0;
}

SocketHandle Accept(SocketHandle socket) {
    SOCKET s = accept(Sock(socket), nullptr, nullptr);
    return s == INVALID_SOCKET ? InvalidSocket : static_cast<SocketHandle>(s);
}

bool LocalPort(SocketHandle socket, std::uint16_t* port) {
    sockaddr_in sa;
    int size = sizeof sa;
    if (getsockname(Sock(socket), reinterpret_cast<sockaddr*>(&sa), &size) != 0)
        return false;
    *port = ntohs(sa.sin_port);
    return true;
}

} // namespace platform
