#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
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

// poll() stands in for select(): it has no limit on descriptor numbers. A signal that
// interrupts the wait resumes it for the time that is left (rounded up to whole
// milliseconds), not the whole timeout again, so a host with a periodic signal (a profiler,
// an interval timer) still sees it end.
int WaitFor(SocketHandle socket, short events, std::int32_t timeout_ms) {
    pollfd p{Fd(socket), events, 0};
    const std::int64_t deadline = MonotonicNs() + std::int64_t{timeout_ms} * 1000000;
    int left = timeout_ms < 0 ? -1 : timeout_ms;
    int n;
    while ((n = poll(&p, 1, left)) < 0 && errno == EINTR) {
        if (timeout_ms >= 0) {
            const std::int64_t rest = deadline - MonotonicNs();
            left = rest <= 0 ? 0 : static_cast<int>((rest + 999999) / 1000000);
        }
    }
    if (n < 0)
        return -1;
    if (n == 0)
        return 0;
    // A socket whose connect failed reports POLLERR or POLLHUP: ready, SO_ERROR tells.
    if ((p.revents & POLLNVAL) != 0)
        return -1;
    return 1;
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
    // recvmsg rather than recvfrom: only its flags tell that a datagram was cut short.
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    iovec io{buffer, static_cast<std::size_t>(length)};
    msghdr msg;
    std::memset(&msg, 0, sizeof msg);
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    ssize_t n;
    do {
        n = recvmsg(Fd(socket), &msg, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || (msg.msg_flags & MSG_TRUNC) != 0)
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

} // namespace platform
