#include "timelib/query_ntp.h"

#include "platform/precise_time.h"
#include "platform/random.h"
#include "runtime/clock.h"
#include "timelib/anchored_clock.h"
#include "timelib/lua_arguments.h"
#include "timelib/result_table.h"

#include <cstdio>

namespace timelib {
namespace {

// A name with many addresses is tried on its first ones only.
constexpr int MaxAddresses = 8;

template <typename... Args>
void SetMessage(SourceOutcome* outcome, const char* format, Args... args) {
    std::snprintf(outcome->message, sizeof outcome->message, format, args...);
}

// Why an authentic reply says the server has no good time.
void SetUnsynchronised(const std::uint8_t* reply, SourceOutcome* outcome) {
    if (reply[1] == 0)
        SetMessage(outcome, "unsynchronised: stratum 0 without a kiss code");
    else if ((reply[0] >> 6) == 3)
        SetMessage(outcome, "unsynchronised: leap indicator 3 (clock not synchronised)");
    else
        SetMessage(outcome, "unsynchronised: stratum %d", reply[1]);
}

} // namespace

bool StartNtpExchange(const ServerAddress& server, NtpExchange* exchange, SourceOutcome* outcome) {
    *exchange = NtpExchange{runtime::NoPeer, 0, 0, 0};
    // Step 1: every address of the name, in the resolver's order.
    platform::NetAddress addresses[MaxAddresses];
    const int count = platform::ResolveAddresses(server.host, server.port, addresses, MaxAddresses);
    if (count == 0) {
        SetMessage(outcome, "resolve: %s does not resolve", server.host);
        return false;
    }
    // Step 2: a fresh nonce from the system's generator: an off-path sender cannot guess it.
    if (!platform::RandomBytes(&exchange->nonce, sizeof exchange->nonce)) {
        SetMessage(outcome, "network: no random numbers for the request");
        return false;
    }
    const NtpPacket request = BuildNtpRequest(exchange->nonce);
    // Step 3: the first address that takes the request; silence never moves on to the next.
    for (int i = 0; i < count; ++i) {
        platform::AddressToText(addresses[i], outcome->address);
        runtime::DatagramPeer peer = runtime::NoPeer;
        if (!runtime::OpenDatagramPeer(addresses[i], &peer))
            continue;
        // T1 as late as possible before the send, from the clock at its finest.
        std::int64_t now_ns = 0;
        std::int64_t boot_ns = 0;
        runtime::ReadWallAndBoot(&now_ns, &boot_ns);
        if (runtime::SendToPeer(peer, request.data(), NtpPacketBytes)) {
            exchange->peer = peer;
            exchange->t1_ns = now_ns;
            exchange->t1_boot_ns = boot_ns;
            return true;
        }
        runtime::CloseDatagramPeer(&peer);
    }
    SetMessage(outcome, "network: no address of %s could be sent to", server.host);
    return false;
}

bool TakeNtpReplies(const NtpExchange& exchange, SourceOutcome* outcome) {
    std::uint8_t reply[NtpPacketBytes + 1024];
    for (;;) {
        std::int64_t queued_ns = 0;
        const std::int32_t n =
            runtime::ReceiveFromPeer(exchange.peer, reply, sizeof reply, &queued_ns);
        if (n == runtime::NothingWaiting)
            return false;
        // T4: T1 plus what the boot clock saw pass, so a step of the wall clock meanwhile does
        // not count, less the time the reply waited for us in the socket.
        std::int64_t boot_ns = 0;
        platform::precise_time_ops.boot_time_ns(&boot_ns);
        const std::int64_t t4_ns = exchange.t1_ns + (boot_ns - exchange.t1_boot_ns) - queued_ns;
        const ReplyCheck check = CheckNtpReply(exchange.nonce, reply, n);
        switch (check.verdict) {
        case ReplyVerdict::Ignore:
            continue; // a stray, forged or damaged datagram: wait on
        case ReplyVerdict::Kiss:
            SetMessage(outcome, "kiss %s", check.kiss_code);
            return true;
        case ReplyVerdict::Unsynchronised:
            SetUnsynchronised(reply, outcome);
            return true;
        case ReplyVerdict::Answer:
            break;
        }
        outcome->measurement =
            MeasureNtpReply(reply, exchange.t1_ns, t4_ns, exchange.peer.address.family == 4);
        if (outcome->measurement.root_distance > MaxRootDistance) {
            SetMessage(outcome, "unsynchronised: root distance %.3f s",
                       outcome->measurement.root_distance);
            return true;
        }
        outcome->boot_ns = boot_ns - queued_ns;
        outcome->ok = true;
        return true;
    }
}

void SetNtpTimeout(std::int32_t timeout_ms, SourceOutcome* outcome) {
    SetMessage(outcome, "timeout: no valid reply from %s within %ld ms", outcome->address,
               static_cast<long>(timeout_ms < 0 ? 0 : timeout_ms));
}

SourceOutcome QueryNtpServer(const ServerAddress& server, std::int32_t timeout_ms) {
    SourceOutcome outcome{};
    NtpExchange exchange;
    if (!StartNtpExchange(server, &exchange, &outcome))
        return outcome;
    const std::int32_t start = runtime::ElapsedMs();
    for (;;) {
        // The deadline uses the time read before this look, so a reply in the last wait
        // still counts.
        const std::int32_t now = runtime::ElapsedMs();
        if (TakeNtpReplies(exchange, &outcome))
            break;
        if (runtime::DeadlinePassed(start, now, timeout_ms)) {
            SetNtpTimeout(timeout_ms, &outcome);
            break;
        }
        // Until a datagram arrives or the time is up (one millisecond more, so that the
        // deadline has passed when the wait ends in silence).
        const std::uint32_t left =
            static_cast<std::uint32_t>(timeout_ms) - runtime::MsBetween(start, now);
        runtime::WaitForPeers(&exchange.peer, 1,
                              left >= 0x7FFFFFFFu ? 0x7FFFFFFF
                                                  : static_cast<std::int32_t>(left + 1));
    }
    runtime::CloseDatagramPeer(&exchange.peer);
    return outcome;
}

int QueryNTP(lua_State* L) {
    const char* text = luaL_checklstring(L, 1, nullptr);
    const auto timeout_ms = OptInt32Argument(L, 2, DefaultQueryTimeoutMs);
    ServerAddress server;
    if (!ParseServerAddress(text, NtpServerPort, &server))
        return luaL_argerror(L, 1, "server expected as host, host:port or [IPv6]:port");
    const SourceOutcome outcome = QueryNtpServer(server, timeout_ms);
    if (!outcome.ok) {
        lua_pushnil(L);                     // stack: nil
        lua_pushstring(L, outcome.message); // stack: nil, message
        return 2;
    }
    OfferAnchor(outcome.measurement.server_ns, outcome.boot_ns, outcome.measurement.root_distance);
    PushInstantResult(L, outcome.measurement.server_ns); // stack: result
    SetMeasurementFields(L, outcome);
    return 1;
}

} // namespace timelib
