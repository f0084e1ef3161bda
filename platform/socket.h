// IPv4 sockets, one function per system call that runtime/net and the in-process test peers
// rely on, with no policy of their own. Windows: Winsock 1.1 (WSOCK32); POSIX: BSD sockets.
// Addresses are IPv4 in network byte order; ports are in host byte order (converted inside).
#pragma once

#include <cstdint>

namespace platform {

// A socket, kept opaque: SOCKET on Windows, a descriptor on POSIX.
using SocketHandle = std::intptr_t;

constexpr SocketHandle InvalidSocket = -1;

// What InetAddr returns for text that is not a dotted address (and for 255.255.255.255).
constexpr std::uint32_t NoAddress = 0xFFFFFFFFu;

enum class SocketType { Stream, Datagram };

enum class ConnectResult { Connected, InProgress, Failed };

// Starts the socket library (WSAStartup, version 1.1); false when it could not be started.
bool SocketStartup();

// Balances one successful SocketStartup (WSACleanup).
void SocketCleanup();

// A new IPv4 socket of the given type, default protocol; InvalidSocket on failure.
SocketHandle OpenSocket(SocketType type);

// Closes the socket. InvalidSocket is ignored.
void CloseSocket(SocketHandle socket);

// The dotted IPv4 address in text (inet_addr); NoAddress when it is not one.
std::uint32_t InetAddr(const char* text);

// The first IPv4 address the resolver lists for name; false if none. Safe from several
// threads at once (Winsock's gethostbyname keeps its answer per thread; POSIX uses the
// reentrant gethostbyname_r).
bool ResolveFirstAddress(const char* name, std::uint32_t* address);

// connect(). InProgress when a non-blocking socket (or an interrupted call) has not finished
// yet; the outcome is then read with WaitWritable and SocketError.
ConnectResult Connect(SocketHandle socket, std::uint32_t address, std::uint16_t port);

// Switches non-blocking mode on or off (FIONBIO); false on failure.
bool SetNonBlocking(SocketHandle socket, bool non_blocking);

// Waits until the socket is readable (select); a negative timeout waits without limit.
// 1 when readable, 0 when the time ran out, -1 on error.
int WaitReadable(SocketHandle socket, std::int32_t timeout_ms);

// Waits until the socket is writable or a pending connect has failed; as WaitReadable.
int WaitWritable(SocketHandle socket, std::int32_t timeout_ms);

// The socket's pending error (SO_ERROR), 0 for none; -1 if it cannot be read.
int SocketError(SocketHandle socket);

// Bytes waiting to be read (FIONREAD); false when the query fails.
bool BytesWaiting(SocketHandle socket, std::int32_t* count);

// send() with flags 0 (and no signal on a broken pipe); bytes handed over or -1.
std::int32_t Send(SocketHandle socket, const void* data, std::int32_t length);

// sendto() one datagram; bytes handed over or -1.
std::int32_t SendTo(SocketHandle socket, const void* data, std::int32_t length,
                    std::uint32_t address, std::uint16_t port);

// recv() with flags 0; bytes read, 0 when the peer has closed, -1 on error.
std::int32_t Recv(SocketHandle socket, void* buffer, std::int32_t length);

// recvfrom() one datagram and its sender; bytes read, or -1 on error, including a datagram
// longer than length (it is discarded, as Winsock does).
std::int32_t RecvFrom(SocketHandle socket, void* buffer, std::int32_t length,
                      std::uint32_t* from_address, std::uint16_t* from_port);

// Server side, for the in-process test peers only.

// bind() to address and port (0: any free port); false on failure.
bool Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port);

// Lets a listening socket bind its port while closed connections of it wait out TIME_WAIT
// (SO_REUSEADDR); false on failure.
bool SetReuseAddress(SocketHandle socket);

// listen() with the given backlog; false on failure.
bool Listen(SocketHandle socket, std::int32_t backlog);

// accept() one connection; InvalidSocket on failure.
SocketHandle Accept(SocketHandle socket);

// The local port the socket is bound to (getsockname); false on failure.
bool LocalPort(SocketHandle socket, std::uint16_t* port);

} // namespace platform
