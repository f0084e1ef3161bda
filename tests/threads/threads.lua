-- Run by lua_threads in eight threads at once, each in a Lua state of its own: both
-- retrievals from the real loopback servers, by dotted address and by name, both zone
-- functions, the verdict over several servers beside the clock all threads share, and
-- queries in the background, waited for, cancelled and dropped. Every answer must be this thread's own: a table from a live server, nil from
-- an address where none listens, the same zone every time. Raises an error on the first
-- wrong answer. Globals: thread (0 to 7) and rounds.
local name, bias = Rizi.GetTimezoneName(), Rizi.GetTimezoneBias()
assert(name ~= "", "a zone name")

local function check_table(what, t)
    assert(type(t) == "table", what .. ": a table")
    assert(t.unbiased.year >= 2024 and t.unbiased.year <= 2038, what .. ": a year of now")
    assert(t.timezoneName == name and t.timezoneBias == bias, what .. ": the zone")
end

-- Each thread starts at another place in the list, so different names meet at once.
local live = { "127.0.0.1", "localhost" }
for round = 1, rounds do
    local server = live[(round + thread) % #live + 1]
    check_table("SNTP from " .. server, Rizi.RetrieveNTPTime(server, 5000))
    check_table("RFC 868 from " .. server, Rizi.RetrieveTSTime(server, 5000))
    if (round + thread) % 4 == 0 then
        assert(Rizi.RetrieveNTPTime("127.0.0.254", 5) == nil, "SNTP from no server: nil")
        assert(Rizi.RetrieveTSTime("127.0.0.254", 5) == nil, "RFC 868 from no server: nil")
    end
    local verdict, why = Rizi.QueryNTPServers({ "127.0.0.1", "127.0.0.1:12301", "127.0.0.1:12311" }, 5000)
    -- A majority: under this load the lab's servers (one Python process for all) may answer
    -- a millisecond off now and then; what counts here is that each thread gets a verdict.
    if verdict and verdict.agree < 2 then
        why = ""
        for _, s in ipairs(verdict.sources) do
            why = why .. string.format(" %s %s %.6f+-%.6f", s.server, s.verdict, s.offset or 0,
                s.rootDistance or 0)
        end
    end
    assert(verdict and verdict.agree >= 2, "a majority agrees: " .. tostring(why))
    local now, error_bound = Rizi.Now()
    assert(math.abs(now - verdict.time) < 1 and error_bound < 0.1, "the shared clock")
    -- Queries in the background: one waited for, one cancelled, one dropped while it runs
    -- (collected, or left for the state's close).
    local waited = Rizi.Start(Rizi.QueryNTP, "127.0.0.1", 5000)
    local cancelled = Rizi.Start(Rizi.QueryNTP, "127.0.0.1:12308", 5000)
    Rizi.Start(Rizi.QueryNTPServers, { "127.0.0.1:12308", "127.0.0.1" }, 5000)
    cancelled:Cancel()
    assert(select(2, cancelled:Result()) == "cancelled", "a cancelled query")
    local t, why_not = waited:Wait()
    -- chronyd serves this machine's clock: the true offset, 0, lies within the root distance.
    assert(t and math.abs(t.offset) <= t.rootDistance, "chronyd in the background: "
        .. (t and (t.offset .. " +- " .. t.rootDistance) or tostring(why_not)))
    if round % 2 == 0 then collectgarbage() end
    assert(Rizi.GetTimezoneName() == name, "the zone name stays")
    assert(Rizi.GetTimezoneBias() == bias, "the zone bias stays")
end
