#include "platform/http.h"

#include "platform/precise_time.h"
#include "platform/thread.h"

#include <cstdio>
#include <cstring>
#include <winsock2.h>
#include <ws2tcpip.h>
// After Winsock 2: windows.h would otherwise bring Winsock 1's header.
#include <windows.h>
#include <winhttp.h>

namespace platform {
namespace {

// The request handle between the thread that runs the request and the caller that waits for
// it. Closing the handle ends a call of WinHTTP that holds it (wine's goes on to its own
// timeout), but a handle closed as the thread is about to pass it to WinHTTP would be one that
// no longer exists, or by then another request's. So the status callback, which runs inside
// WinHTTP's calls, publishes the handle, and the thread takes it back as each call returns:
// the caller closes it only while a call holds it. Whoever takes it out closes it; the thread
// touches it no more once the caller has.
struct Handover {
    CRITICAL_SECTION lock;
    HINTERNET request; // published while a call of WinHTTP holds it; null otherwise
    bool left;         // the caller has gone (cancelled, or its time is up)
    bool closed;       // and closed the request on its way out
};

// Publishes the request from inside a call of WinHTTP, unless the caller has gone already.
void Publish(Handover* handover, HINTERNET request) {
    EnterCriticalSection(&handover->lock);
    if (!handover->left)
        handover->request = request;
    LeaveCriticalSection(&handover->lock);
}

// Takes the request back as a call of WinHTTP returns. False when the caller has gone, and
// *closed then says whether it has closed the handle.
bool TakeBack(Handover* handover, bool* closed) {
    EnterCriticalSection(&handover->lock);
    handover->request = nullptr;
    const bool stay = !handover->left;
    *closed = handover->closed;
    LeaveCriticalSection(&handover->lock);
    return stay;
}

// The caller goes: a request that a call of WinHTTP holds is closed at once, which ends that
// call. Outside the lock, so that a callback on the thread never waits for the close.
void LetGo(Handover* handover) {
    EnterCriticalSection(&handover->lock);
    handover->left = true;
    HINTERNET request = handover->request;
    handover->request = nullptr;
    handover->closed = request != nullptr;
    LeaveCriticalSection(&handover->lock);
    if (request != nullptr)
        WinHttpCloseHandle(request);
}

// What the status callback records while the request runs on this thread.
struct Progress {
    std::int64_t start_ns;         // the boot clock at the call's start
    std::int64_t sent_boot_ns;     // the boot clock as the request left
    std::int64_t received_boot_ns; // and as the answer's headers came
    DWORD secure_failure;          // WINHTTP_CALLBACK_STATUS_FLAG_* of a refused certificate
    Handover* handover;            // null when the request runs on the caller's own thread
};

std::int64_t BootNow() {
    std::int64_t ns = 0;
    precise_time_ops.boot_time_ns(&ns);
    return ns;
}

std::int64_t SinceStartMs(const Progress& p) {
    return (BootNow() - p.start_ns) / 1000000;
}

// Every status it is set for comes from inside a call of WinHTTP on the request's thread.
void CALLBACK OnStatus(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID information,
                       DWORD length) {
    auto* p = reinterpret_cast<Progress*>(context);
    if (p == nullptr)
        return;
    if (p->handover != nullptr)
        Publish(p->handover, request);
    if (status == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST && p->sent_boot_ns == 0)
        p->sent_boot_ns = BootNow();
    else if (status == WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED && p->received_boot_ns == 0)
        p->received_boot_ns = BootNow();
    else if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && length >= sizeof(DWORD))
        p->secure_failure = *static_cast<DWORD*>(information);
}

// Closes a WinHTTP handle on every way out.
class HandleHolder {
  public:
    explicit HandleHolder(HINTERNET h) : h_(h) {}
    ~HandleHolder() {
        if (h_ != nullptr)
            WinHttpCloseHandle(h_);
    }
    HandleHolder(const HandleHolder&) = delete;
    HandleHolder& operator=(const HandleHolder&) = delete;
    HINTERNET Get() const { return h_; }
    // Forgets the handle, which someone else has closed.
    void Release() { h_ = nullptr; }

  private:
    HINTERNET h_;
};

const char* CertificateReason(DWORD flags) {
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)
        return "the certificate has expired or is not yet valid";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
        return "the certificate is for another host name";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA)
        return "the certificate's issuer is not trusted";
    if (flags &
        (WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED | WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED))
        return "the certificate is revoked, or its revocation cannot be checked";
    return "the secure connection failed";
}

// WinHTTP's errors in words, for the ones a time query meets.
const char* ErrorWords(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
        return "the time ran out";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "the host name does not resolve";
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return "cannot connect to the server";
    case ERROR_WINHTTP_CONNECTION_ERROR:
        return "the connection was reset or closed";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return "the answer is not HTTP";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        return "the URL's scheme is not http or https";
    default:
        return "the request failed";
    }
}

// Milliseconds left of limit_ms since the call's start; at least 1, since WinHTTP reads 0 as
// "no limit".
int LeftMs(const Progress& p, int limit_ms) {
    const std::int64_t left = limit_ms - SinceStartMs(p);
    return left < 1 ? 1 : static_cast<int>(left);
}

// Bounds every phase still to come (resolution, connection, sending, the wait for the answer)
// by what is left of the whole time. Wine's default wait for an answer has no limit at all.
void BoundPhases(HINTERNET request, const Progress& p, int limit_ms) {
    DWORD left = static_cast<DWORD>(LeftMs(p, limit_ms));
    WinHttpSetTimeouts(request, static_cast<int>(left), static_cast<int>(left),
                       static_cast<int>(left), static_cast<int>(left));
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &left, sizeof left);
}

void Fail(DWORD error, const Progress& progress, int limit_ms, HttpExchange* out) {
    // Whatever WinHTTP calls it (a reset, a failed handshake, WSAETIMEDOUT), a request that
    // ends once its time is up has run out of time.
    if (SinceStartMs(progress) >= limit_ms)
        error = ERROR_WINHTTP_TIMEOUT;
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        out->failure = HttpFailure::Resolve;
        break;
    case ERROR_WINHTTP_TIMEOUT:
        out->failure = HttpFailure::Timeout;
        break;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        out->failure = HttpFailure::Tls;
        std::snprintf(out->detail, sizeof out->detail, "%s (WinHTTP error %lu)",
                      CertificateReason(progress.secure_failure),
                      static_cast<unsigned long>(error));
        return;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        out->failure = HttpFailure::Protocol;
        break;
    default:
        out->failure = HttpFailure::Network;
        break;
    }
    std::snprintf(out->detail, sizeof out->detail, "%s (WinHTTP error %lu)", ErrorWords(error),
                  static_cast<unsigned long>(error));
}

// The remote address of the request's connection, in numbers: the address as text, its port.
void RemoteAddress(HINTERNET request, HttpExchange* out) {
    WINHTTP_CONNECTION_INFO info;
    DWORD size = sizeof info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_CONNECTION_INFO, &info, &size))
        return;
    const auto* sa = reinterpret_cast<const sockaddr*>(&info.RemoteAddress);
    const bool v6 = sa->sa_family == AF_INET6;
    const int length = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (getnameinfo(sa, length, out->address, sizeof out->address, nullptr, 0, NI_NUMERICHOST) == 0)
        out->port = ntohs(v6 ? reinterpret_cast<const sockaddr_in6*>(sa)->sin6_port
                             : reinterpret_cast<const sockaddr_in*>(sa)->sin_port);
    else
        out->address[0] = '\0';
}

// Every line of one header (WINHTTP_QUERY_DATE, WINHTTP_QUERY_AGE), empty ones too, joined
// into field and counted in *lines by AddHeaderValue. HTTP values are ASCII; any other
// character becomes one that no date or age has.
void QueryHeader(HINTERNET request, DWORD info, char* field, std::size_t size,
                 std::int32_t* lines) {
    DWORD index = 0;
    for (int line = 0; line < 8; ++line) {
        wchar_t value[128];
        DWORD bytes = sizeof value;
        if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, value, &bytes,
                                 &index)) {
            if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                const char* long_value = "(a value too long to read)";
                AddHeaderValue(field, size, lines, long_value, std::strlen(long_value));
            }
            break;
        }
        char text[128];
        std::size_t n = 0;
        for (; n < bytes / sizeof(wchar_t) && n < sizeof text && value[n] != 0; ++n)
            text[n] = value[n] < 0x80 ? static_cast<char>(value[n]) : '?';
        AddHeaderValue(field, size, lines, text, n);
    }
}

// The answer to this request is the one WinHTTP hands over, a redirect too: the exchange is
// timed on this request, so the Date of another would not belong to it. False when WinHTTP
// takes neither way of saying so.
bool RefuseRedirects(HINTERNET request) {
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    const bool policy =
        WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never) != FALSE;
    const bool feature = WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable,
                                          sizeof disable) != FALSE;
    return policy || feature;
}

// The caller has gone while a call ran: nothing more is done with the request, and a handle
// the caller closed is forgotten.
void Abandon(bool closed, HandleHolder* request, HttpExchange* out) {
    if (closed)
        request->Release();
    out->failure = HttpFailure::Cancelled;
    std::snprintf(out->detail, sizeof out->detail, "the caller has gone");
}

// The request itself, on whichever thread runs it; start_ns is the call's start on the boot
// clock, limit its milliseconds; handover is null when it runs on the caller's own thread.
void Exchange(const char* url, bool head, int limit, std::int64_t start_ns, Handover* handover,
              HttpExchange* out) {
    Progress progress{};
    progress.start_ns = start_ns;
    progress.handover = handover;

    // Step 1: the URL in parts (WinHTTP speaks UTF-16; the URL is ASCII by now).
    wchar_t wide_url[2048];
    if (MultiByteToWideChar(CP_ACP, 0, url, -1, wide_url, 2048) == 0) {
        out->failure = HttpFailure::Protocol;
        std::snprintf(out->detail, sizeof out->detail, "the URL is too long");
        return;
    }
    wchar_t host[256];
    wchar_t path[2048];
    URL_COMPONENTS parts;
    std::memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(wide_url, 0, 0, &parts)) {
        Fail(GetLastError(), progress, limit, out);
        return;
    }
    // Step 2: a session with the system's proxy settings (the automatic kind where the system
    // has it, from Windows 8.1 on), bounded in each phase by the time the call may take. Proxy
    // discovery takes no limit: the caller's wait for this thread bounds it (HttpDateRequest).
    HandleHolder session(WinHttpOpen(L"Rizi", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    HandleHolder fallback(session.Get() == nullptr
                              ? WinHttpOpen(L"Rizi", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)
                              : nullptr);
    const HINTERNET s = session.Get() != nullptr ? session.Get() : fallback.Get();
    if (s == nullptr) {
        out->failure = HttpFailure::Unavailable;
        std::snprintf(out->detail, sizeof out->detail, "WinHTTP cannot open a session");
        return;
    }
    WinHttpSetTimeouts(s, limit, limit, limit, limit);
    HandleHolder connection(WinHttpConnect(s, host, parts.nPort, 0));
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    HandleHolder request(connection.Get() == nullptr
                             ? nullptr
                             : WinHttpOpenRequest(connection.Get(), head ? L"HEAD" : L"GET", path,
                                                  nullptr, WINHTTP_NO_REFERER,
                                                  WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                  secure ? WINHTTP_FLAG_SECURE : 0));
    if (request.Get() == nullptr) {
        Fail(GetLastError(), progress, limit, out);
        return;
    }
    if (!RefuseRedirects(request.Get())) {
        out->failure = HttpFailure::Unavailable;
        std::snprintf(out->detail, sizeof out->detail, "WinHTTP cannot leave redirects unfollowed");
        return;
    }
    // Step 3: send and wait for the headers, timing both through the status callback, which
    // also hands the request over while each phase runs (resolution, connection, handshake,
    // sending, the wait for the answer). After each call the request is taken back, or given
    // up when the caller has gone.
    WinHttpSetStatusCallback(
        request.Get(), OnStatus,
        WINHTTP_CALLBACK_FLAG_RESOLVE_NAME | WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER |
            WINHTTP_CALLBACK_FLAG_SEND_REQUEST | WINHTTP_CALLBACK_FLAG_RECEIVE_RESPONSE |
            WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
        0);
    BoundPhases(request.Get(), progress, limit);
    bool closed = false;
    const bool sent =
        WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                           0, 0, reinterpret_cast<DWORD_PTR>(&progress)) != FALSE;
    DWORD error = sent ? ERROR_SUCCESS : GetLastError();
    if (handover != nullptr && !TakeBack(handover, &closed)) {
        Abandon(closed, &request, out);
        return;
    }
    bool received = false;
    if (sent) {
        BoundPhases(request.Get(), progress, limit);
        received = WinHttpReceiveResponse(request.Get(), nullptr) != FALSE;
        error = received ? ERROR_SUCCESS : GetLastError();
        if (handover != nullptr && !TakeBack(handover, &closed)) {
            Abandon(closed, &request, out);
            return;
        }
    }
    if (!received) {
        Fail(error, progress, limit, out);
        return;
    }
    // Step 4: the status, the Date and Age headers and the address; the body is never read.
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    QueryHeader(request.Get(), WINHTTP_QUERY_DATE, out->date, sizeof out->date, &out->date_lines);
    QueryHeader(request.Get(), WINHTTP_QUERY_AGE, out->age, sizeof out->age, &out->age_lines);
    RemoteAddress(request.Get(), out);
    out->status = static_cast<std::int32_t>(status);
    // Without the callback's instants, the whole call stands for the exchange: wider, never
    // wrong.
    out->sent_boot_ns = progress.sent_boot_ns != 0 ? progress.sent_boot_ns : start_ns;
    out->received_boot_ns = progress.received_boot_ns != 0 ? progress.received_boot_ns : BootNow();
    // The callback is gone with the handle; clear it first all the same, as WinHTTP advises.
    WinHttpSetStatusCallback(request.Get(), nullptr, 0, 0);
}

// One request's record, shared by the caller and the thread that runs the request; whichever
// lets go last frees it. So the caller leaves at its deadline or at a cancel even while
// WinHTTP goes on (proxy discovery has no time limit that WinHTTP lets us set, nor a status
// that would hand the request over while it runs), and the thread finishes into memory that is
// still there.
struct Shared {
    LONG references;
    HANDLE done; // set by the thread once result is complete
    Handover handover;
    bool head;
    int limit;
    std::int64_t start_ns;
    HttpExchange result;
    char url[2048];
};

void Release(Shared* shared) {
    if (InterlockedDecrement(&shared->references) == 0) {
        CloseHandle(shared->done);
        DeleteCriticalSection(&shared->handover.lock);
        HeapFree(GetProcessHeap(), 0, shared);
    }
}

void RunExchange(void* argument) {
    auto* shared = static_cast<Shared*>(argument);
    Exchange(shared->url, shared->head, shared->limit, shared->start_ns, &shared->handover,
             &shared->result);
    SetEvent(shared->done);
    Release(shared);
}

// A record for one request, held twice, with its event; null when either cannot be had.
Shared* NewShared(const char* url, bool head, int limit, std::int64_t start_ns) {
    auto* shared =
        static_cast<Shared*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Shared)));
    if (shared == nullptr)
        return nullptr;
    shared->references = 2;
    shared->head = head;
    shared->limit = limit;
    shared->start_ns = start_ns;
    std::memcpy(shared->url, url, std::strlen(url) + 1);
    shared->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (shared->done == nullptr) {
        HeapFree(GetProcessHeap(), 0, shared);
        return nullptr;
    }
    InitializeCriticalSection(&shared->handover.lock);
    return shared;
}

} // namespace

void HttpDateRequest(const char* url, bool head, std::int32_t timeout_ms, HttpExchange* out,
                     const std::atomic<bool>* cancelled) {
    std::memset(out, 0, sizeof *out);
    const int limit = timeout_ms < 1 ? 1 : timeout_ms;
    std::int64_t start_ns = 0;
    if (!precise_time_ops.boot_time_ns(&start_ns)) {
        out->failure = HttpFailure::Network;
        std::snprintf(out->detail, sizeof out->detail, "the boot clock cannot be read");
        return;
    }
    if (std::strlen(url) >= sizeof Shared::url) {
        out->failure = HttpFailure::Protocol;
        std::snprintf(out->detail, sizeof out->detail, "the URL is too long");
        return;
    }
    // The request runs on a thread of its own (which keeps this module loaded) and this one
    // waits for it until the deadline. Without a thread, it runs here, every phase but proxy
    // discovery still bounded.
    Shared* shared = NewShared(url, head, limit, start_ns);
    if (shared == nullptr || !StartModuleThread(RunExchange, shared)) {
        if (shared != nullptr) {
            shared->references = 1;
            Release(shared);
        }
        Exchange(url, head, limit, start_ns, nullptr, out);
        return;
    }
    // Until the deadline; with a cancel flag, in 10 ms slices so that a cancel ends it soon.
    const std::int64_t slice_ms = cancelled != nullptr ? 10 : INFINITE;
    DWORD waited = WAIT_TIMEOUT;
    for (;;) {
        const std::int64_t left_ms = limit - (BootNow() - start_ns) / 1000000;
        const std::int64_t wait_ms = left_ms <= 0 ? 0 : left_ms < slice_ms ? left_ms : slice_ms;
        waited = WaitForSingleObject(shared->done, static_cast<DWORD>(wait_ms));
        if (waited == WAIT_OBJECT_0 || left_ms <= 0 || (cancelled != nullptr && cancelled->load()))
            break;
    }
    // Leaving early lets go of the request: a call that holds it ends, and the thread with it.
    if (waited != WAIT_OBJECT_0)
        LetGo(&shared->handover);
    if (waited == WAIT_OBJECT_0) {
        *out = shared->result;
    } else if (cancelled != nullptr && cancelled->load()) {
        out->failure = HttpFailure::Cancelled;
        std::snprintf(out->detail, sizeof out->detail, "cancelled");
    } else {
        out->failure = HttpFailure::Timeout;
        std::snprintf(out->detail, sizeof out->detail,
                      "the time ran out (WinHTTP still finding the proxy or waiting for the "
                      "server)");
    }
    Release(shared);
}

} // namespace platform
