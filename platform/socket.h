// Sockets, one function per system call that runtime/net, runtime/datagram, runtime/name_lookup,
// runtime/tls_client and the in-process test peers rely on, with no policy of their own. The
// IPv4 calls use Winsock 1.1 (WSOCK32) on Windows; the calls on NetAddress (IPv4 and IPv6) and
// on stream sockets of either family use WS2_32 there.
// POSIX: BSD sockets. IPv4 addresses are in network byte order; ports are in host byte order
// (converted inside).
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

// Waits as WaitWritable for writable, and at the same time until readable is readable (a
// wake-up that ends the wait early). 1 when writable is ready, 2 when only readable is, 0
// when the time ran out, -1 on error.
int WaitWritableOrReadable(SocketHandle writable, SocketHandle readable, std::int32_t timeout_ms);

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

// IPv4 and IPv6, for the measurement functions (WS2_32 on Windows).

// An address of either family with its port, as plain bytes so no system header leaks out.
struct NetAddress {
    std::int32_t family;    // 4 or 6; 0 for none
    std::uint8_t bytes[16]; // the address in network byte order (IPv4: the first 4)
    std::uint16_t port;     //
    std::uint32_t scope_id; // IPv6 interface index, 0 for none
};

// Room for the text of any address (an IPv6 one with its zone).
constexpr int AddressTextBytes = 64;

// The addresses of name (a host name or a numeric address of either family) for datagrams to
// port, in the resolver's order (getaddrinfo); how many were stored, at most capacity, 0 when
// the name does not resolve. numeric_only: only a numeric address is taken, without asking
// any name service (AI_NUMERICHOST), so that it never waits.
int ResolveAddresses(const char* name, std::uint16_t port, NetAddress* out, int capacity,
                     bool numeric_only = false);

// A new datagram socket of the family (4 or 6), non-blocking and not inherited by programs
// the process starts, asking the kernel to stamp each datagram's arrival where it can;
// InvalidSocket on failure.
SocketHandle OpenDatagramSocket(std::int32_t family);

// sendto() one datagram to address; bytes handed over or -1.
std::int32_t SendToAddress(SocketHandle socket, const void* data, std::int32_t length,
                           const NetAddress& address);

// What ReceiveFromAddress returns when no datagram is waiting on a non-blocking socket.
constexpr std::int32_t NothingReceived = -2;

// recvfrom() one datagram and its sender, as RecvFrom; -1 on error, an error report (such as
// ICMP's port unreachable, Winsock's 10054) or a datagram cut short, each of which is used up;
// NothingReceived when none is waiting (EWOULDBLOCK). queued_ns: how long the datagram waited
// in the socket since it arrived, by the kernel's receive time stamp where the system keeps one
// (SO_TIMESTAMPNS), else 0.
std::int32_t ReceiveFromAddress(SocketHandle socket, void* buffer, std::int32_t length,
                                NetAddress* from, std::int64_t* queued_ns);

// Waits until at least one of count sockets (at most 64) is readable or timeout_ms have
// passed (poll; select on Windows); a signal does not restart the wait. 1 when one is
// readable, 0 when the time ran out, -1 on error.
int WaitAnyReadable(const SocketHandle* sockets, int count, std::int32_t timeout_ms);

// The numeric text of address, without the port (getnameinfo); false when it has none.
bool AddressToText(const NetAddress& address, char (&text)[AddressTextBytes]);

// Stream connections of either family, for the key exchange of Network Time Security.

// A new stream socket of the family (4 or 6), non-blocking and not inherited by programs the
// process starts; InvalidSocket on failure.
SocketHandle OpenStreamSocket(std::int32_t family);

// connect() to address, as Connect: InProgress while the non-blocking connect goes on.
ConnectResult ConnectTo(SocketHandle socket, const NetAddress& address);

// Sends small writes at once instead of holding them for the peer's acknowledgement
// (TCP_NODELAY); false on failure.
bool SetNoDelay(SocketHandle socket);

// What SendStream and ReceiveStream return when a non-blocking socket would have to wait
// (EWOULDBLOCK).
constexpr std::int32_t WouldBlock = -2;

// send() on a non-blocking stream socket (no signal on a broken pipe): bytes handed over,
// WouldBlock, or -1 on error.
std::int32_t SendStream(SocketHandle socket, const void* data, std::int32_t length);

// recv() on a non-blocking stream socket: bytes read, 0 when the peer has closed, WouldBlock,
// or -1 on error.
std::int32_t ReceiveStream(SocketHandle socket, void* buffer, std::int32_t length);

} // namespace platform
