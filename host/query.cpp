#include "host/query.h"

namespace host {
namespace {

// Server, address, stratum, offset and delay in milliseconds, leap, reference ID; or the
// message of a server that gave no time.
const char* const QueryChunk = R"lua(
local leap_names = { [0] = "no-leap", "add-leap", "del-leap" }
local failed = 0
for _, server in ipairs({ ... }) do
    local t, message = Rizi.QueryNTP(server)
    if t then
        print(string.format("%-24s %-16s s%-2d offset %+.3f ms  delay %.3f ms  %s  ref %s",
            server, t.address, t.stratum, t.offset * 1000, t.delay * 1000,
            leap_names[t.leap] or tostring(t.leap), t.referenceId))
    else
        print(string.format("%-24s %s", server, message))
        failed = failed + 1
    end
end
return failed == 0
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
