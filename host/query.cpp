#include "host/query.h"

namespace host {
namespace {

// Per server: server, address, stratum, offset and delay in milliseconds, leap, reference ID,
// and "authenticated" for an nts:// source (an https:// or http:// source: its offset and
// delay); or the message of a server that gave no time. For several servers the verdict
// follows.
const char* const QueryChunk = R"lua(
local leap_names = { [0] = "no-leap", "add-leap", "del-leap" }
local servers = { ... }

local function line(server, t, message)
    if t and t.offset and not t.stratum then -- from a Date header: whole seconds
        print(string.format("%-24s %-16s web offset %+.0f ms  delay %.3f ms", server,
            t.address, t.offset * 1000, t.delay * 1000))
    elseif t and t.offset then
        print(string.format("%-24s %-16s s%-2d offset %+.3f ms  delay %.3f ms  %s  ref %s%s",
            server, t.address, t.stratum, t.offset * 1000, t.delay * 1000,
            leap_names[t.leap] or tostring(t.leap), t.referenceId,
            t.authenticated and "  authenticated" or ""))
    else
        print(string.format("%-24s %s", server, message))
    end
    return t and t.offset ~= nil
end

local function query(server)
    if server:match("^https?://") then return Rizi.QueryHTTPS(server) end
    if server:lower():match("^nts://") then return Rizi.QueryNTS(server:sub(7)) end
    return Rizi.QueryNTP(server)
end

if #servers == 1 then
    return line(servers[1], query(servers[1]))
end
-- Several: one round trip to all, their lines, then the verdict.
local all = true
local r, message = Rizi.QueryNTPServers(servers)
if not r then
    for _, server in ipairs(servers) do
        all = line(server, query(server)) and all
    end
    print("verdict: " .. message)
    return all
end
local agreeing = {}
for _, s in ipairs(r.sources) do
    all = line(s.server, s, s.message) and all
    if s.verdict == "agrees" then agreeing[#agreeing + 1] = s.server end
end
print(string.format("verdict: %d of %d agree (%s), offset %+.3f ms +/- %.3f ms",
    r.agree, r.answered, table.concat(agreeing, ", "), r.offset * 1000, r.error * 1000))
return all
)lua";

} // namespace

LuaJob QueryJob(const std::vector<std::string>& servers) {
    LuaJob job;
    job.is_code = true;
    job.chunk = QueryChunk;
    job.args = servers;
    job.result_is_status = true;
    return job;
}

} // namespace host
