#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

// The largest answer the resolver may need room for (names with very many addresses).
constexpr std::size_t MaxResolverBytes = 1 << 20;

int Fd(SocketHandle socket) {
    return static_cast<int>(socket);
}

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    return sa;
}

// Nanoseconds on the monotonic clock; only differences mean anything.
std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// poll() over the descriptors until one is ready or timeout_ms have passed (negative: no
// limit). A signal that interrupts it resumes it for what is left of a deadline fixed at the
// start, rounded up to whole milliseconds, so that a host with a periodic signal (a profiler,
// an interval timer) still sees it end on time. poll's result, or -1 on error.
int PollUntilDeadline(pollfd* p, nfds_t count, std::int32_t timeout_ms) {
    const std::int64_t deadline = MonotonicNs() + std::int64_t{timeout_ms} * 1000000;
    int left = timeout_ms < 0 ? -1 : timeout_ms;
    int n;
    while ((n = poll(p, count, left)) < 0 && errno == EINTR) {
        if (timeout_ms >= 0) {
            const std::int64_t rest = deadline - MonotonicNs();
            left = rest <= 0 ? 0 : static_cast<int>((rest + 999999) / 1000000);
        }
    }
    return n;
}

// poll() stands in for select(): it has no limit on descriptor numbers.
int WaitFor(SocketHandle socket, short events, std::int32_t timeout_ms) {
    pollfd p{Fd(socket), events, 0};
    const int n = PollUntilDeadline(&p, 1, timeout_ms);
    if (n < 0)
        return -1;
    if (n == 0)
        return 0;
    // A socket whose connect failed reports POLLERR or POLLHUP: ready, SO_ERROR tells.
    if ((p.revents & POLLNVAL) != 0)
        return -1;
    return 1;
}

// A message header for one datagram into io, its sender into sender, and control messages
// into control (none when null).
msghdr MessageFor(iovec* io, void* sender, socklen_t sender_size, void* control,
                  std::size_t control_size) {
    msghdr msg;
    std::memset(&msg, 0, sizeof msg);
    msg.msg_name = sender;
    msg.msg_namelen = sender_size;
    msg.msg_iov = io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = control_size;
    return msg;
}

// recvmsg(), resumed after a signal; recvmsg rather than recvfrom, since only its flags tell
// that a datagram was cut short. The length, or -1 on error or a datagram cut short, or
// NothingReceived when a non-blocking socket has none.
ssize_t ReceiveMessage(SocketHandle socket, msghdr* msg) {
    ssize_t n;
    do {
        n = recvmsg(Fd(socket), msg, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return NothingReceived;
    return n < 0 || (msg->msg_flags & MSG_TRUNC) != 0 ? -1 : n;
}

// A NetAddress as the system's address record; its size, 0 for an unknown family.
socklen_t ToSockaddr(const NetAddress& address, sockaddr_storage* out) {
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
bool FromSockaddr(const sockaddr* sa, socklen_t size, NetAddress* out) {
    *out = NetAddress{};
    if (sa->sa_family == AF_INET && size >= sizeof(sockaddr_in)) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
        out->family = 4;
        std::memcpy(out->bytes, &in->sin_addr, 4);
        out->port = ntohs(in->sin_port);
        return true;
    }
    if (sa->sa_family == AF_INET6 && size >= sizeof(sockaddr_in6)) {
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

// Nothing to start on POSIX; broken pipes are kept from raising SIGPIPE per call instead.
bool SocketStartup() {
    return true;
}

void SocketCleanup() {}

SocketHandle OpenSocket(SocketType type) {
    int kind = type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM;
    // Close-on-exec, so a program the module launches does not inherit the socket.
    int fd = socket(AF_INET, kind | SOCK_CLOEXEC, 0);
    return fd < 0 ? InvalidSocket : fd;
}

void CloseSocket(SocketHandle socket) {
    if (socket != InvalidSocket)
        close(Fd(socket));
}

std::uint32_t InetAddr(const char* text) {
    return inet_addr(text);
}

bool ResolveFirstAddress(const char* name, std::uint32_t* address) {
    // gethostbyname_r: gethostbyname's answer in the resolver's own order, but kept in
    // storage of this call rather than in the one buffer per process that lets a thread
    // read another thread's answer. The storage grows while the answer does not fit.
    char local[1024];
    char* buffer = local;
    std::size_t size = sizeof local;
    bool resolved = false;
    for (;;) {
        hostent entry;
        hostent* host = nullptr;
        int host_error = 0;
        const int status = gethostbyname_r(name, &entry, buffer, size, &host, &host_error);
        if (status == ERANGE && size < MaxResolverBytes) {
            char* larger = static_cast<char*>(std::malloc(size * 2));
            if (larger == nullptr)
                break;
            if (buffer != local)
                std::free(buffer);
            buffer = larger;
            size *= 2;
            continue;
        }
        if (status == 0 && host != nullptr && host->h_addrtype == AF_INET && host->h_length == 4 &&
            host->h_addr_list != nullptr && host->h_addr_list[0] != nullptr) {
            std::memcpy(address, host->h_addr_list[0], 4);
            resolved = true;
        }
        break;
    }
    if (buffer != local)
        std::free(buffer);
    return resolved;
}

ConnectResult Connect(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    if (connect(Fd(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0)
        return ConnectResult::Connected;
    // An interrupted connect goes on in the background, like a non-blocking one.
    if (errno == EINPROGRESS || errno == EINTR)
        return ConnectResult::InProgress;
    return ConnectResult::Failed;
}

bool SetNonBlocking(SocketHandle socket, bool non_blocking) {
    int on = non_blocking ? 1 : 0;
    return ioctl(Fd(socket), FIONBIO, &on) == 0;
}

int WaitReadable(SocketHandle socket, std::int32_t timeout_ms) {
    return WaitFor(socket, POLLIN, timeout_ms);
}

int WaitWritable(SocketHandle socket, std::int32_t timeout_ms) {
    return WaitFor(socket, POLLOUT, timeout_ms);
}

int WaitWritableOrReadable(SocketHandle writable, SocketHandle readable, std::int32_t timeout_ms) {
    pollfd p[2] = {{Fd(writable), POLLOUT, 0}, {Fd(readable), POLLIN, 0}};
    const int n = PollUntilDeadline(p, 2, timeout_ms);
    if (n <= 0)
        return n < 0 ? -1 : 0;
    if (((p[0].revents | p[1].revents) & POLLNVAL) != 0)
        return -1;
    return p[0].revents != 0 ? 1 : 2;
}

int SocketError(SocketHandle socket) {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return -1;
    return error;
}

bool BytesWaiting(SocketHandle socket, std::int32_t* count) {
    int n = 0;
    if (ioctl(Fd(socket), FIONREAD, &n) != 0)
        return false;
    *count = n;
    return true;
}

std::int32_t Send(SocketHandle socket, const void* data, std::int32_t length) {
    ssize_t n;
    do {
        n = send(Fd(socket), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<std::int32_t>(n);
}

std::int32_t SendTo(SocketHandle socket, const void* data, std::int32_t length,
                    std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    ssize_t n;
    do {
        n = sendto(Fd(socket), data, static_cast<std::size_t>(length), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    } while (n < 0 && errno == EINTR);
    return static_cast<std::int32_t>(n);
}

std::int32_t Recv(SocketHandle socket, void* buffer, std::int32_t length) {
    ssize_t n;
    do {
        n = recv(Fd(socket), buffer, static_cast<std::size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<std::int32_t>(n);
}

std::int32_t RecvFrom(SocketHandle socket, void* buffer, std::int32_t length,
                      std::uint32_t* from_address, std::uint16_t* from_port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    iovec io{buffer, static_cast<std::size_t>(length)};
    msghdr msg = MessageFor(&io, &sa, sizeof sa, nullptr, 0);
    const ssize_t n = ReceiveMessage(socket, &msg);
    if (n < 0)
        return -1;
    *from_address = sa.sin_addr.s_addr;
    *from_port = ntohs(sa.sin_port);
    return static_cast<std::int32_t>(n);
}

bool Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    return bind(Fd(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool SetReuseAddress(SocketHandle socket) {
    int on = 1;
    return setsockopt(Fd(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool Listen(SocketHandle socket, std::int32_t backlog) {
    return listen(Fd(socket), backlog) == 0;
}

SocketHandle Accept(SocketHandle socket) {
    int fd;
    do {
        fd = accept4(Fd(socket), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? InvalidSocket : fd;
}

bool LocalPort(SocketHandle socket, std::uint16_t* port) {
    sockaddr_in sa;
    socklen_t size = sizeof sa;
    if (getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&sa), &size) != 0)
        return false;
    *port = ntohs(sa.sin_port);
    return true;
}

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
        if (FromSockaddr(ai->ai_addr, ai->ai_addrlen, &out[count])) {
            out[count].port = port;
            ++count;
        }
    }
    freeaddrinfo(list);
    return count;
}

SocketHandle OpenDatagramSocket(std::int32_t family) {
    const int domain = family == 6 ? AF_INET6 : AF_INET;
    // Both modes with the socket itself: no further call per exchange.
    int fd = socket(domain, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return InvalidSocket;
    // Without the time stamps a reply's wait in the socket counts as network delay.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    return fd;
}

std::int32_t SendToAddress(SocketHandle socket, const void* data, std::int32_t length,
                           const NetAddress& address) {
    sockaddr_storage sa;
    const socklen_t size = ToSockaddr(address, &sa);
    ssize_t n;
    do {
        n = sendto(Fd(socket), data, static_cast<std::size_t>(length), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&sa), size);
    } while (n < 0 && errno == EINTR);
    return static_cast<std::int32_t>(n);
}

std::int32_t ReceiveFromAddress(SocketHandle socket, void* buffer, std::int32_t length,
                                NetAddress* from, std::int64_t* queued_ns) {
    sockaddr_storage sa;
    std::memset(&sa, 0, sizeof sa);
    iovec io{buffer, static_cast<std::size_t>(length)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr msg = MessageFor(&io, &sa, sizeof sa, control, sizeof control);
    const ssize_t n = ReceiveMessage(socket, &msg);
    *queued_ns = 0;
    if (n < 0)
        return static_cast<std::int32_t>(n);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec arrived;
            timespec now;
            std::memcpy(&arrived, CMSG_DATA(c), sizeof arrived);
            if (clock_gettime(CLOCK_REALTIME, &now) == 0)
                *queued_ns = (now.tv_sec - arrived.tv_sec) * std::int64_t{1000000000} +
                             (now.tv_nsec - arrived.tv_nsec);
        }
    }
    if (!FromSockaddr(reinterpret_cast<const sockaddr*>(&sa), msg.msg_namelen, from))
        *from = NetAddress{};
    return static_cast<std::int32_t>(n);
}

int WaitAnyReadable(const SocketHandle* sockets, int count, std::int32_t timeout_ms) {
    pollfd p[64];
    if (count < 0 || count > 64)
        return -1;
    for (int i = 0; i < count; ++i)
        p[i] = pollfd{Fd(sockets[i]), POLLIN, 0};
    const int n = PollUntilDeadline(p, static_cast<nfds_t>(count), timeout_ms < 0 ? 0 : timeout_ms);
    return n < 0 ? -1 : n > 0 ? 1 : 0;
}

bool AddressToText(const NetAddress& address, char (&text)[AddressTextBytes]) {
    // IPv4, the common case, by hand: the C library formats it through printf, which costs
    // more than the rest of a measurement.
    if (address.family == 4) {
        char* at = text;
        for (int i = 0; i < 4; ++i) {
            const unsigned byte = address.bytes[i];
            if (byte >= 100)
                *at++ = static_cast<char>('0' + byte / 100);
            if (byte >= 10)
                *at++ = static_cast<char>('0' + byte / 10 % 10);
            *at++ = static_cast<char>('0' + byte % 10);
            *at++ = i < 3 ? '.' : '\0';
        }
        return true;
    }
    sockaddr_storage sa;
    const socklen_t size = ToSockaddr(address, &sa);
    return size != 0 && getnameinfo(reinterpret_cast<const sockaddr*>(&sa), size, text,
                                    AddressTextBytes, nullptr, 0, NI_NUMERICHOST) == 0;
}

SocketHandle OpenStreamSocket(std::int32_t family) {
    const int domain = family == 6 ? AF_INET6 : AF_INET;
    int fd = socket(domain, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return fd < 0 ? InvalidSocket : fd;
}

ConnectResult ConnectTo(SocketHandle socket, const NetAddress& address) {
    sockaddr_storage sa;
    const socklen_t size = ToSockaddr(address, &sa);
    if (size == 0)
        return ConnectResult::Failed;
    if (connect(Fd(socket), reinterpret_cast<const sockaddr*>(&sa), size) == 0)
        return ConnectResult::Connected;
    // An interrupted connect goes on in the background, like a non-blocking one.
    if (errno == EINPROGRESS || errno == EINTR)
        return ConnectResult::InProgress;
    return ConnectResult::Failed;
}

bool SetNoDelay(SocketHandle socket) {
    int on = 1;
    return setsockopt(Fd(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

std::int32_t SendStream(SocketHandle socket, const void* data, std::int32_t length) {
    ssize_t n;
    do {
        n = send(Fd(socket), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return WouldBlock;
    return static_cast<std::int32_t>(n);
}

std::int32_t ReceiveStream(SocketHandle socket, void* buffer, std::int32_t length) {
    ssize_t n;
    do {
        n = recv(Fd(socket), buffer, static_cast<std::size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return WouldBlock;
    return static_cast<std::int32_t>(n);
}

} // namespace platform
