// Client connections over TCP and UDP, IPv4 only. Owns the socket layer's started flag and
// the connection records (from the module heap); the sockets themselves come from
// platform/socket.h. Every operation runs on the caller's thread (a name lookup that a cancel
// may end on one of runtime/name_lookup's) and, apart from name resolution, a TCP connect and
// the wait for an event, never blocks.
#pragma once

#include "runtime/cancellation.h"

#include <cstdint>

namespace runtime {

enum Protocol : std::int32_t { ProtocolTcp = 1, ProtocolUdp = 2 };

enum Event : std::int32_t { EventNone = 0, EventData = 2, EventDisconnect = 4 };

struct ClientConnection;

// Opaque handle of one open connection; 0 means none.
using ConnectionHandle = ClientConnection*;

// Starts the socket library once; 1 when started, 0 when starting failed (a later call retries).
std::int32_t NetworkStartup();

// Cleans the socket library up if it was started.
void NetworkShutdown();

// Opens a connection to host (dotted IPv4 first, then the resolver) and port (low 16 bits).
// Protocol 0 counts as TCP. A TCP connect waits for the platform's own limit when
// connect_timeout_ms is negative, else at most that many milliseconds. A cancel (a query in
// the background) ends the name lookup and the connect at once. 0 on any failure, with
// nothing left open.
ConnectionHandle OpenClientConnection(const char* host, std::int32_t port, std::int32_t protocol,
                                      std::int32_t connect_timeout_ms = -1,
                                      const Cancellation* cancel = nullptr);

// Sends length bytes (one datagram for UDP); the count handed over, or -1 on error.
std::int32_t SendToConnection(ConnectionHandle conn, const void* data, std::int32_t length);

// Never waits. TCP: EventData while bytes wait, EventDisconnect once the peer closed or the
// connection failed. UDP: takes one datagram from the peer into the pending storage;
// EventNone for nothing, an empty or oversized datagram, an error, or a foreign sender.
std::int32_t PollConnectionEvent(ConnectionHandle conn);

// Waits until the connection has something to report (a datagram, data, the peer's close or
// a failure) or timeout_ms milliseconds have passed, whichever comes first, without taking
// anything; PollConnectionEvent then tells what it was. A negative timeout does not wait.
// Null waits the time out, so that a caller's loop keeps its pace.
void WaitConnectionEvent(ConnectionHandle conn, std::int32_t timeout_ms);

// Copies at most length bytes into buffer. TCP: one recv, 0 on close, -1 on error.
// UDP: from the pending datagram, 0 when none is pending.
std::int32_t ReceiveFromConnection(ConnectionHandle conn, void* buffer, std::int32_t length);

// Closes the socket and releases the record and any pending datagram. Null is ignored.
void CloseClientConnection(ConnectionHandle conn);

} // namespace runtime
