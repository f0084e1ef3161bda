#include "timelib/nts_sessions.h"

#include <cstring>
#include <mutex>

namespace timelib {
namespace {

struct Session {
    bool used;
    ServerAddress server;   // the host in lower case
    std::uint64_t id;       // unique for the process: which key exchange this is
    std::uint64_t last_use; // a count of uses, for making room
    NtsKeys keys;
    int cookie_count;
    NtsCookie cookies[MaxNtsCookies]; // the oldest first: a server retires its old keys first
    NtsNtpServer ntp_server;
};

std::mutex sessions_lock;
Session sessions[MaxNtsSessions];
std::uint64_t last_id = 0; // under sessions_lock
std::uint64_t uses = 0;    // under sessions_lock

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameHost(const char* a, const char* b) {
    for (; *a != '\0' && Lower(*a) == Lower(*b); ++a, ++b) {
    }
    return *a == '\0' && *b == '\0';
}

// Overwrites the keys and cookies: a forgotten session leaves nothing to reuse.
void Forget(Session* session) {
    volatile std::uint8_t* bytes = reinterpret_cast<volatile std::uint8_t*>(session);
    for (std::size_t i = 0; i < sizeof *session; ++i)
        bytes[i] = 0;
}

// The session for server, or null; under sessions_lock.
Session* Find(const ServerAddress& server) {
    for (Session& s : sessions) {
        if (s.used && SameNtsServer(s.server, server))
            return &s;
    }
    return nullptr;
}

// The session with this id, or null; under sessions_lock.
Session* FindId(const ServerAddress& server, std::uint64_t id) {
    Session* s = Find(server);
    return s != nullptr && s->id == id ? s : nullptr;
}

// Moves the oldest cookie into the ticket; under sessions_lock, with a cookie there.
void Take(Session* s, NtsTicket* ticket) {
    s->last_use = ++uses;
    ticket->session = s->id;
    ticket->keys = s->keys;
    ticket->cookie = s->cookies[0];
    std::memmove(&s->cookies[0], &s->cookies[1], sizeof(NtsCookie) * (s->cookie_count - 1));
    --s->cookie_count;
    std::memset(&s->cookies[s->cookie_count], 0, sizeof(NtsCookie));
    ticket->cookies_left = s->cookie_count;
    ticket->ntp_server = s->ntp_server;
}

} // namespace

bool SameNtsServer(const ServerAddress& a, const ServerAddress& b) {
    return a.port == b.port && SameHost(a.host, b.host);
}

bool TakeNtsTicket(const ServerAddress& server, NtsTicket* ticket) {
    const std::lock_guard<std::mutex> hold(sessions_lock);
    Session* s = Find(server);
    if (s == nullptr || s->cookie_count == 0)
        return false;
    Take(s, ticket);
    return true;
}

bool StoreNtsSession(const ServerAddress& server, const NtsKeys& keys, const NtsCookie* cookies,
                     int cookie_count, const NtsNtpServer& ntp_server, NtsTicket* ticket) {
    if (cookie_count < 1)
        return false;
    const std::lock_guard<std::mutex> hold(sessions_lock);
    Session* s = Find(server);
    for (int i = 0; s == nullptr && i < MaxNtsSessions; ++i) {
        if (!sessions[i].used)
            s = &sessions[i];
    }
    if (s == nullptr) {
        s = &sessions[0];
        for (Session& other : sessions) {
            if (other.last_use < s->last_use)
                s = &other;
        }
    }
    Forget(s);
    s->used = true;
    s->server = server;
    for (char* c = s->server.host; *c != '\0'; ++c)
        *c = Lower(*c);
    s->id = ++last_id;
    s->keys = keys;
    s->cookie_count = cookie_count < MaxNtsCookies ? cookie_count : MaxNtsCookies;
    std::memcpy(s->cookies, cookies, sizeof(NtsCookie) * s->cookie_count);
    s->ntp_server = ntp_server;
    Take(s, ticket);
    return true;
}

int ReturnNtsCookies(const ServerAddress& server, std::uint64_t session,
                     const NtsReplyCookies& cookies) {
    const std::lock_guard<std::mutex> hold(sessions_lock);
    Session* s = FindId(server, session);
    if (s == nullptr)
        return 0;
    for (int i = 0; i < cookies.count && s->cookie_count < MaxNtsCookies; ++i)
        s->cookies[s->cookie_count++] = cookies.cookies[i];
    return s->cookie_count;
}

void DropNtsSession(const ServerAddress& server, std::uint64_t session) {
    const std::lock_guard<std::mutex> hold(sessions_lock);
    Session* s = FindId(server, session);
    if (s != nullptr)
        Forget(s);
}

} // namespace timelib
