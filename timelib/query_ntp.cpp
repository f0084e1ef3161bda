#include "timelib/query_ntp.h"

#include "platform/precise_time.h"
#include "platform/random.h"
#include "runtime/clock.h"
#include "timelib/anchored_clock.h"
#include "timelib/lua_arguments.h"

#include <cstdio>
#include <cstring>

namespace timelib {
namespace {

// Why an authentic reply says the server has no good time.
void SetUnsynchronised(const std::uint8_t* reply, SourceOutcome* outcome) {
    if (reply[1] == 0)
        SetMessage(outcome, "unsynchronised: stratum 0 without a kiss code");
    else if ((reply[0] >> 6) == 3)
        SetMessage(outcome, "unsynchronised: leap indicator 3 (clock not synchronised)");
    else
        SetMessage(outcome, "unsynchronised: stratum %d", reply[1]);
}

// The most datagrams one look takes from a socket: a flood, or a receive that keeps failing,
// goes back to the wait loop, which watches the deadline.
constexpr int MaxDatagramsPerLook = 64;

// Takes the datagrams waiting for the exchange. True once it has ended: a valid answer, a
// kiss-o'-death or an unsynchronised server, with the outcome set; false while it waits on.
bool TakeNtpReplies(const NtpExchange& exchange, SourceOutcome* outcome) {
    std::uint8_t reply[MaxNtsReplyBytes];
    for (int taken = 0; taken < MaxDatagramsPerLook; ++taken) {
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
        if (exchange.nts != nullptr && check.verdict != ReplyVerdict::Ignore) {
            // An NTS NAK has no authenticator: our identifier, which only the path saw, is
            // what it has. It costs the session, never the time.
            NtsReplyCheck& nts = *exchange.nts;
            if (check.verdict == ReplyVerdict::Kiss && std::strcmp(check.kiss_code, "NTSN") == 0 &&
                CarriesUniqueId(reply, n, nts.unique_id)) {
                nts.refused = true;
                SetMessage(outcome, "kiss NTSN: the server no longer takes this session's cookies");
                return true;
            }
            if (!OpenNtsReply(reply, n, nts.unique_id, nts.keys, &nts.cookies))
                continue; // not the server's: as if it never came
            outcome->authenticated = true;
        }
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
        // This machine's part of the error: the wall clock's resolution, and how far T1's wall
        // reading may sit from the boot reading T4 is counted from (half their gap).
        const double local_precision =
            runtime::WallClockResolution() + static_cast<double>(exchange.t1_gap_ns) / 2e9;
        outcome->measurement = MeasureNtpReply(reply, exchange.t1_ns, t4_ns,
                                               exchange.peer.address.family == 4, local_precision);
        if (outcome->measurement.root_distance > MaxRootDistance) {
            SetMessage(outcome, "unsynchronised: root distance %.3f s",
                       outcome->measurement.root_distance);
            return true;
        }
        outcome->boot_ns = boot_ns - queued_ns;
        outcome->ok = true;
        return true;
    }
    return false;
}

} // namespace

runtime::NameLookup NtpServerLookup(const ServerAddress& server) {
    return runtime::NameLookup{server.host, server.port, runtime::LookupKind::Any, {}, 0};
}

bool NtpServerResolved(const runtime::NameLookup& lookup, bool cancelled, SourceOutcome* outcome) {
    if (lookup.count > 0)
        return true;
    if (cancelled)
        SetMessage(outcome, "cancelled");
    else if (lookup.count == runtime::NoLookupThread)
        SetMessage(outcome, "resolve: too many name lookups still run to look up %s", lookup.host);
    else
        SetMessage(outcome, "resolve: %s does not resolve", lookup.host);
    return false;
}

bool DrawNtpNonces(NtpTimestamp* nonces, int count) {
    // One call of the generator for the whole batch: it costs a system call, whatever the size.
    bool ok = platform::RandomBytes(nonces, count * static_cast<std::int32_t>(sizeof *nonces));
    // A zero, or a nonce given twice, means the generator cannot be trusted with any of them.
    for (int i = 0; ok && i < count; ++i) {
        for (int j = 0; ok && j < i; ++j)
            ok = nonces[i] != nonces[j];
        ok = ok && nonces[i] != 0;
    }
    if (!ok)
        std::memset(nonces, 0, static_cast<std::size_t>(count) * sizeof *nonces);
    return ok;
}

bool StartNtpExchange(const platform::NetAddress* addresses, int count, NtpExchange* exchange,
                      SourceOutcome* outcome, const NtpTimestamp* nonce) {
    *exchange = NtpExchange{runtime::NoPeer, 0, 0, 0, 0, nullptr};
    // A fresh nonce from the system's generator, so that an off-path sender cannot guess it.
    // Without one there is no request: a predictable nonce would let anyone answer.
    if (nonce != nullptr)
        exchange->nonce = *nonce;
    else
        DrawNtpNonces(&exchange->nonce, 1);
    if (exchange->nonce == 0) {
        SetMessage(outcome, "network: no random bytes for the request's nonce");
        return false;
    }
    // Then the request, to the first address that takes it.
    const NtpPacket request = BuildNtpRequest(exchange->nonce);
    return SendNtpRequest(addresses, count, request.data(), NtpPacketBytes, exchange, outcome);
}

bool SendNtpRequest(const platform::NetAddress* addresses, int count, const std::uint8_t* request,
                    std::int32_t length, NtpExchange* exchange, SourceOutcome* outcome) {
    // The first address that takes the request; silence never moves on to the next.
    for (int i = 0; i < count; ++i) {
        platform::AddressToText(addresses[i], outcome->address);
        runtime::DatagramPeer peer = runtime::NoPeer;
        if (!runtime::OpenDatagramPeer(addresses[i], &peer))
            continue;
        // T1 as late as possible before the send, from the clock at its finest.
        std::int64_t now_ns = 0;
        std::int64_t boot_ns = 0;
        std::int64_t gap_ns = 0;
        runtime::ReadWallAndBoot(&now_ns, &boot_ns, &gap_ns);
        if (runtime::SendToPeer(peer, request, length)) {
            exchange->peer = peer;
            exchange->t1_ns = now_ns;
            exchange->t1_boot_ns = boot_ns;
            exchange->t1_gap_ns = gap_ns;
            return true;
        }
        runtime::CloseDatagramPeer(&peer);
    }
    SetMessage(outcome, "network: no address of the server could be sent to");
    return false;
}

void FinishNtpExchanges(NtpExchange* exchanges, SourceOutcome* outcomes, int count,
                        std::int32_t timeout_ms, const runtime::Cancellation* cancel) {
    constexpr int MaxPeers = 63; // and the cancel's wake-up
    count = count < MaxPeers ? count : MaxPeers;
    const std::int32_t start = runtime::ElapsedMs();
    runtime::DatagramPeer pending[MaxPeers + 1];
    // Whether this pass looks before it waits. The requests went out moments ago, so a look
    // now would find nothing: the first pass only waits, unless nothing may be waited for (a
    // negative time, or a cancel already asked).
    bool look = timeout_ms < 0 || runtime::CancelRequested(cancel);
    for (;;) {
        // The deadline uses the time read before this look, so a reply in the last wait
        // still counts.
        const std::int32_t now = runtime::ElapsedMs();
        int n = 0;
        for (int i = 0; i < count; ++i) {
            if (exchanges[i].peer.socket == platform::InvalidSocket)
                continue;
            if (look && TakeNtpReplies(exchanges[i], &outcomes[i]))
                runtime::CloseDatagramPeer(&exchanges[i].peer);
            else
                pending[n++] = exchanges[i].peer;
        }
        if (n == 0)
            return;
        const bool cancelled = runtime::CancelRequested(cancel);
        if (look && (cancelled || runtime::DeadlinePassed(start, now, timeout_ms))) {
            for (int i = 0; i < count; ++i) {
                if (exchanges[i].peer.socket == platform::InvalidSocket)
                    continue;
                if (cancelled)
                    SetMessage(&outcomes[i], "cancelled");
                else
                    SetMessage(&outcomes[i], "timeout: no valid reply from %s within %ld ms",
                               outcomes[i].address,
                               static_cast<long>(timeout_ms < 0 ? 0 : timeout_ms));
                runtime::CloseDatagramPeer(&exchanges[i].peer);
            }
            return;
        }
        // A cancel ends the wait at once.
        if (cancel != nullptr && cancel->WakeHandle() != platform::InvalidSocket)
            pending[n++] = runtime::DatagramPeer{cancel->WakeHandle(), {}};
        // Until a datagram arrives or what is left of the time is up (one millisecond more,
        // so that the deadline has passed when the wait ends in silence).
        const std::uint32_t left =
            static_cast<std::uint32_t>(timeout_ms) - runtime::MsBetween(start, now);
        runtime::WaitForPeers(
            pending, n, left >= 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(left + 1));
        look = true;
    }
}

SourceOutcome QueryNtpServer(const ServerAddress& server, std::int32_t timeout_ms,
                             const runtime::Cancellation* cancel) {
    SourceOutcome outcome{};
    runtime::NameLookup lookup = NtpServerLookup(server);
    const bool cancelled = !runtime::ResolveNames(&lookup, 1, cancel);
    NtpExchange exchange;
    if (NtpServerResolved(lookup, cancelled, &outcome) &&
        StartNtpExchange(lookup.addresses, lookup.count, &exchange, &outcome))
        FinishNtpExchanges(&exchange, &outcome, 1, timeout_ms, cancel);
    return outcome;
}

void ReadQueryNtpArguments(lua_State* L, QueryNtpJob* job) {
    const char* text = luaL_checklstring(L, 1, nullptr);
    job->timeout_ms = OptInt32Argument(L, 2, DefaultQueryTimeoutMs);
    if (!ParseServerAddress(text, NtpServerPort, &job->server))
        luaL_argerror(L, 1, "server expected as host, host:port or [IPv6]:port");
}

void RunQueryNtp(QueryNtpJob* job, const runtime::Cancellation* cancel) {
    job->outcome = QueryNtpServer(job->server, job->timeout_ms, cancel);
    const SourceOutcome& o = job->outcome;
    if (o.ok)
        OfferAnchor(o.measurement.server_ns, o.boot_ns, o.measurement.root_distance);
}

int PushQueryNtpResult(lua_State* L, const QueryNtpJob& job) {
    return PushSourceResult(L, job.outcome);
}

int QueryNTP(lua_State* L) {
    QueryNtpJob job;
    ReadQueryNtpArguments(L, &job);
    RunQueryNtp(&job, nullptr);
    return PushQueryNtpResult(L, job);
}

} // namespace timelib
