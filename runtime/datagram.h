// Datagram exchanges with servers of either address family, for the measurement functions:
// a socket per peer address, sends, receives that only the peer may answer, and one wait over
// several peers at once. The caller owns each DatagramPeer and closes it; the sockets come
// from platform/socket.h. Nothing here blocks but the wait.
#pragma once

#include "platform/socket.h"

#include <cstdint>

namespace runtime {

// One server address and the non-blocking socket that talks to it.
struct DatagramPeer {
    platform::SocketHandle socket; // InvalidSocket when closed
    platform::NetAddress address;  // where requests go; only answers from here count
};

// A closed peer, for arrays that are filled later.
constexpr DatagramPeer NoPeer = {platform::InvalidSocket, {}};

// What ReceiveFromPeer found when no datagram of the peer's was taken.
constexpr std::int32_t NothingWaiting = -1;

// Opens a non-blocking socket of address's family; false (and nothing open) on failure.
bool OpenDatagramPeer(const platform::NetAddress& address, DatagramPeer* peer);

// Sends one datagram to the peer; false when the system refuses it at once (no route, no
// IPv6 on this machine, no socket).
bool SendToPeer(const DatagramPeer& peer, const void* data, std::int32_t length);

// Takes one waiting datagram without waiting. Its length when it came from the peer's address
// and port and fits the buffer; 0 when one was taken but dropped (another sender, empty, too
// long, or an error report such as ICMP's, which anyone could forge); NothingWaiting when none
// is left. queued_ns: how long it waited in the socket before it was taken, 0 when unknown.
std::int32_t ReceiveFromPeer(const DatagramPeer& peer, void* buffer, std::int32_t length,
                             std::int64_t* queued_ns);

// Waits until one of count peers (at most 64) has a datagram, or timeout_ms have passed; a
// negative time does not wait. Closed peers are left out. A wait that fails sleeps instead,
// so that no loop built on it can spin.
void WaitForPeers(const DatagramPeer* peers, int count, std::int32_t timeout_ms);

// Closes the socket; a closed peer is ignored.
void CloseDatagramPeer(DatagramPeer* peer);

// True when both are the same address and port (the IPv6 zone is not compared); an IPv4-mapped
// IPv6 address is the same as its IPv4 form.
bool SameEndpoint(const platform::NetAddress& a, const platform::NetAddress& b);

} // namespace runtime
