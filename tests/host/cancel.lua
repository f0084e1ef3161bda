-- Run by cancel_test.sh in a network namespace whose name server never answers and whose
-- TCP port 37 has a full accept queue: 64 queries stuck in a name lookup or a connect end at
-- their cancel at once, and their places are free for 64 more within 100 ms.
local check = require "check"

local closed = "127.0.0.1:9" -- nothing answers: a direct call there waits its whole timeout

local function stuck(f, server, what)
    local queries = {}
    for i = 1, 64 do queries[i] = Rizi.Start(f, server, 10000) end
    Rizi.QueryNTP(closed, 100) -- every query is in its lookup or connect by now
    local cancelled = 0
    for i = 1, 64 do
        queries[i]:Cancel()
        if select(2, queries[i]:Result()) == "cancelled" then cancelled = cancelled + 1 end
    end
    check.equal(cancelled, 64, what .. ": cancelled at once")
    Rizi.QueryNTP(closed, 100)
    local started = 0
    for i = 1, 64 do
        queries[i] = Rizi.Start(Rizi.QueryNTP, closed, 10000)
        if queries[i] then started = started + 1 end
    end
    check.equal(started, 64, what .. ": 64 places free within 100 ms")
    for i = 1, 64 do if queries[i] then queries[i]:Cancel() end end
    Rizi.QueryNTP(closed, 100)
end

stuck(Rizi.QueryNTP, "time.nowhere.test", "QueryNTP in a lookup")
stuck(Rizi.QueryNTPServers, "127.0.0.1:9 time.nowhere.test", "QueryNTPServers in a lookup")
stuck(Rizi.RetrieveNTPTime, "time.nowhere.test", "RetrieveNTPTime in a lookup")
stuck(Rizi.RetrieveTSTime, "127.0.0.1", "RetrieveTSTime in a connect")
-- A connect that never completes ends at its limit, direct or in the background.
check.equal(Rizi.RetrieveTSTime("127.0.0.1", 200), nil, "a direct connect ends at its limit")
local q = Rizi.Start(Rizi.RetrieveTSTime, "127.0.0.1", 200)
check.equal(select("#", q:Wait(350)), 1, "a connect in the background ends at its limit")
check.done()
