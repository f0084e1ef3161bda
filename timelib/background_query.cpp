#include "timelib/background_query.h"

#include "platform/socket.h"
#include "platform/thread.h"
#include "runtime/cancellation.h"
#include "runtime/module_threads.h"
#include "timelib/lua_arguments.h"
#include "timelib/query_https.h"
#include "timelib/query_ntp.h"
#include "timelib/query_ntp_servers.h"
#include "timelib/query_nts.h"
#include "timelib/sntp.h"
#include "timelib/time_protocol.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

namespace timelib {
namespace {

// What any of the network functions is asked and finds, as plain data.
union AnyJob {
    RetrieveNtpJob retrieve_ntp;
    RetrieveTsJob retrieve_ts;
    QueryNtpJob query_ntp;
    ServersJob servers;
    HttpsJob https;
    QueryNtsJob nts;
};

// A network function as three steps: its arguments read, its query run, its result pushed.
// The job's own type decides how many bytes of AnyJob an answer takes.
struct NetworkFunction {
    lua_CFunction function;
    const char* name;
    int arguments;         // how many it reads; the direct call ignores any further ones
    std::size_t job_bytes; // sizeof the job
    void (*read)(lua_State* L, AnyJob* job);
    void (*run)(AnyJob* job, const runtime::Cancellation* cancel);
    int (*push)(lua_State* L, const AnyJob& job);
};

const NetworkFunction NetworkFunctions[] = {
    {RetrieveNTPTime, "RetrieveNTPTime", 2, sizeof(RetrieveNtpJob),
     [](lua_State* L, AnyJob* job) { ReadRetrieveNtpArguments(L, &job->retrieve_ntp); },
     [](AnyJob* job, const runtime::Cancellation* c) { RunRetrieveNtp(&job->retrieve_ntp, c); },
     [](lua_State* L, const AnyJob& job) { return PushRetrieveNtpResult(L, job.retrieve_ntp); }},
    {RetrieveTSTime, "RetrieveTSTime", 2, sizeof(RetrieveTsJob),
     [](lua_State* L, AnyJob* job) { ReadRetrieveTsArguments(L, &job->retrieve_ts); },
     [](AnyJob* job, const runtime::Cancellation* c) { RunRetrieveTs(&job->retrieve_ts, c); },
     [](lua_State* L, const AnyJob& job) { return PushRetrieveTsResult(L, job.retrieve_ts); }},
    {QueryNTP, "QueryNTP", 2, sizeof(QueryNtpJob),
     [](lua_State* L, AnyJob* job) { ReadQueryNtpArguments(L, &job->query_ntp); },
     [](AnyJob* job, const runtime::Cancellation* c) { RunQueryNtp(&job->query_ntp, c); },
     [](lua_State* L, const AnyJob& job) { return PushQueryNtpResult(L, job.query_ntp); }},
    {QueryNTPServers, "QueryNTPServers", 2, sizeof(ServersJob),
     [](lua_State* L, AnyJob* job) { ReadQueryNtpServersArguments(L, &job->servers); },
     [](AnyJob* job, const runtime::Cancellation* c) { RunQueryNtpServers(&job->servers, c); },
     [](lua_State* L, const AnyJob& job) { return PushQueryNtpServersResult(L, job.servers); }},
    {QueryHTTPS, "QueryHTTPS", 2, sizeof(HttpsJob),
     [](lua_State* L, AnyJob* job) { ReadQueryHttpsArguments(L, &job->https); },
     [](AnyJob* job, const runtime::Cancellation* c) { RunQueryHttps(&job->https, c); },
     [](lua_State* L, const AnyJob& job) { return PushQueryHttpsResult(L, job.https); }},
    {QueryNTS, "QueryNTS", 2, sizeof(QueryNtsJob),
     [](lua_State* L, AnyJob* job) { ReadQueryNtsArguments(L, &job->nts); },
     [](AnyJob* job, const runtime::Cancellation* c) { RunQueryNts(&job->nts, c); },
     [](lua_State* L, const AnyJob& job) { return PushQueryNtsResult(L, job.nts); }},
};

// The record the script's query object and the thread share while the query runs.
struct BackgroundQuery {
    const NetworkFunction* function = nullptr;
    std::atomic<int> holders{2}; // the query object and the thread
    std::mutex lock;
    std::condition_variable ended_signal;
    bool ended = false;     // the thread has finished the job (under lock)
    bool cancelled = false; // the script let go of it before it ended (under lock)
    runtime::Cancellation cancel;
    AnyJob job;
};

// The query object, a Lua userdata followed by room for the job's answer: Lua counts that
// room from the start, so its collector keeps pace with what queries hold, and once the
// script has seen the end the record is gone and the answer is all that stays.
struct QueryObject {
    BackgroundQuery* query; // null once let go of
    const NetworkFunction* function;
    bool ended;     // the answer is here
    bool cancelled; // let go of before it ended
};

// Where the answer starts in the userdata.
constexpr std::size_t AnswerOffset =
    (sizeof(QueryObject) + alignof(AnyJob) - 1) / alignof(AnyJob) * alignof(AnyJob);

AnyJob* AnswerOf(QueryObject* object) {
    return reinterpret_cast<AnyJob*>(reinterpret_cast<unsigned char*>(object) + AnswerOffset);
}

constexpr const char* QueryType = "Rizi.Query";

// One holder lets go; the last one frees the record.
void Release(BackgroundQuery* query) {
    if (query->holders.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete query;
}

// The thread: the job, then the news that it has ended. The wake-up closes at once; the
// record goes with whichever lets go last, before the socket library stops (on Windows the
// wake-up is a socket), and the place among the running queries is given back last of all,
// when nothing of the module's is in use any more.
void RunInBackground(void* argument) {
    auto* query = static_cast<BackgroundQuery*>(argument);
    // The socket library stays started for this thread even when every Lua state has closed.
    const bool sockets = platform::SocketStartup();
    query->function->run(&query->job, &query->cancel);
    {
        const std::lock_guard<std::mutex> hold(query->lock);
        query->ended = true;
        query->cancel.Close();
    }
    query->ended_signal.notify_all();
    Release(query);
    if (sockets)
        platform::SocketCleanup();
    runtime::module_threads.Leave();
}

// Lets go of the record: keeps the answer when the query has ended, else cancels it (under
// the lock, so that the wake-up is still open).
void LetGo(QueryObject* object) {
    BackgroundQuery* query = object->query;
    if (query == nullptr)
        return;
    {
        const std::lock_guard<std::mutex> hold(query->lock);
        if (query->ended) {
            std::memcpy(static_cast<void*>(AnswerOf(object)), &query->job,
                        object->function->job_bytes);
            object->ended = true;
        } else {
            query->cancelled = object->cancelled = true;
            query->cancel.Request();
        }
    }
    object->query = nullptr;
    Release(query);
}

// Takes the answer once the query has ended; a running query stays as it is.
void Look(QueryObject* object) {
    if (object->query == nullptr)
        return;
    bool ended = false;
    {
        const std::lock_guard<std::mutex> hold(object->query->lock);
        ended = object->query->ended;
    }
    if (ended)
        LetGo(object);
}

QueryObject* CheckQuery(lua_State* L) {
    return static_cast<QueryObject*>(luaL_checkudata(L, 1, QueryType));
}

// q:Result(): nil, "pending" while it runs; nil, "cancelled"; or the direct call's values.
int Result(lua_State* L) {
    QueryObject* object = CheckQuery(L);
    Look(object);
    if (!object->ended) {
        lua_pushnil(L);
        lua_pushstring(L, object->cancelled ? "cancelled" : "pending");
        return 2;
    }
    return object->function->push(L, *AnswerOf(object));
}

// q:Wait([timeout_ms]): waits until it ends (no limit without an argument), then Result().
int Wait(lua_State* L) {
    QueryObject* object = CheckQuery(L);
    const bool forever = lua_isnoneornil(L, 2);
    const std::int32_t timeout_ms = OptInt32Argument(L, 2, 0);
    BackgroundQuery* query = object->query;
    if (query != nullptr) {
        std::unique_lock<std::mutex> hold(query->lock);
        const auto over = [query] { return query->ended; };
        if (forever)
            query->ended_signal.wait(hold, over);
        else if (timeout_ms > 0)
            query->ended_signal.wait_for(hold, std::chrono::milliseconds(timeout_ms), over);
    }
    return Result(L);
}

// q:Cancel(): ends it; its sockets close at once. An ended query keeps its answer.
int Cancel(lua_State* L) {
    LetGo(CheckQuery(L));
    return 0;
}

// __gc: a query object collected, or its state closed, cancels the query.
int Collect(lua_State* L) {
    auto* object = static_cast<QueryObject*>(lua_touserdata(L, 1));
    if (object != nullptr)
        LetGo(object);
    return 0;
}

// Reads the arguments into the job: called in protection with the job first, then f's
// arguments, so that an argument error frees what Start made.
int ReadArguments(lua_State* L) {
    auto* query = static_cast<BackgroundQuery*>(lua_touserdata(L, 1));
    lua_remove(L, 1); // stack: f's arguments
    query->function->read(L, &query->job);
    return 0;
}

// The error on top of the stack, raised again as the direct call would have raised it: the
// reader was called in protection from C, so its message names no function and no place in
// the script; the place is the script's call of Start.
int RaiseAsDirectCall(lua_State* L, const char* name) {
    const char* message = lua_tostring(L, -1);
    const char* unnamed = message != nullptr ? std::strstr(message, " to '?' (") : nullptr;
    if (unnamed != nullptr) {
        luaL_where(L, 1); // stack: ..., message, where
        lua_pushlstring(L, message, static_cast<std::size_t>(unnamed - message));
        lua_pushfstring(L, " to '%s' (%s", name, unnamed + 9);
        lua_concat(L, 3); // stack: ..., message, where + message
    }
    return lua_error(L);
}

// Pushes the query objects' metatable, made on first use; scripts can neither read nor
// replace it.
void PushQueryMetatable(lua_State* L) {
    if (luaL_newmetatable(L, QueryType) == 0) // stack: metatable
        return;
    lua_pushcclosure(L, Collect, 0); // stack: metatable, __gc
    lua_setfield(L, -2, "__gc");
    lua_pushboolean(L, 0);
    lua_setfield(L, -2, "__metatable");
    lua_createtable(L, 0, 3); // stack: metatable, methods
    lua_pushcclosure(L, Result, 0);
    lua_setfield(L, -2, "Result");
    lua_pushcclosure(L, Wait, 0);
    lua_setfield(L, -2, "Wait");
    lua_pushcclosure(L, Cancel, 0);
    lua_setfield(L, -2, "Cancel");
    lua_setfield(L, -2, "__index"); // stack: metatable
}

// nil and a busy message (a format that may name the limit); returns 2.
int Busy(lua_State* L, const char* format) {
    lua_pushnil(L);
    lua_pushfstring(L, format, MaxBackgroundQueries);
    return 2;
}

} // namespace

int Start(lua_State* L) {
    // Step 1: which function; any other value is an argument error.
    const lua_CFunction f = lua_tocfunction(L, 1);
    const NetworkFunction* function = nullptr;
    for (const NetworkFunction& candidate : NetworkFunctions) {
        if (f != nullptr && candidate.function == f)
            function = &candidate;
    }
    if (function == nullptr)
        return luaL_argerror(L, 1, "a network function of Rizi expected");
    // Step 2: the object with room for the answer, empty until the query runs, so that every
    // later failure leaves nothing to collect. Only the arguments the function reads are
    // passed on: however many a script adds, the stack needs room for a few values only.
    const int given = lua_gettop(L) - 1;
    const int arguments = given < function->arguments ? given : function->arguments;
    luaL_checkstack(L, arguments + 4, "too many arguments");
    auto* object =
        static_cast<QueryObject*>(lua_newuserdata(L, AnswerOffset + function->job_bytes));
    *object = QueryObject{nullptr, function, false, false}; // stack: f, arguments..., object
    PushQueryMetatable(L);                                  // stack: ..., object, metatable
    lua_setmetatable(L, -2);                                // stack: ..., object
    auto* query = new (std::nothrow) BackgroundQuery;
    if (query == nullptr)
        return Busy(L, "busy: not enough memory for a query");
    query->function = function;
    // Step 3: the arguments, read now with the direct call's errors.
    lua_pushcclosure(L, ReadArguments, 0); // stack: ..., object, reader
    lua_pushlightuserdata(L, query);       // stack: ..., object, reader, job
    for (int i = 2; i <= arguments + 1; ++i)
        lua_pushvalue(L, i);
    if (lua_pcall(L, arguments + 1, 0, 0) != 0) {
        delete query;
        return RaiseAsDirectCall(L, function->name);
    }
    // Step 4: a place among the running queries, and the thread.
    if (!runtime::module_threads.Enter(MaxBackgroundQueries)) {
        delete query;
        return Busy(L, "busy: %d queries run in the background already");
    }
    if (!platform::StartModuleThread(RunInBackground, query)) {
        runtime::module_threads.Leave();
        delete query;
        return Busy(L, "busy: no thread could be started");
    }
    object->query = query;
    return 1; // stack: ..., object
}

int RunningBackgroundQueries() {
    return runtime::module_threads.Now();
}

} // namespace timelib
