-- Rizi.Start against the loopback servers: a query in the background is pending at once and
-- then gives exactly what the direct call gives, measured as well while the script does
-- something else; its arguments fail as the direct call's do; Cancel, and the limit of 64.
-- chronyd on 127.0.0.1:123, the NTP lab's silent server on 12308 (tests/servers/ntp_lab.py).
-- labels: servers
local check = require "check"
local unpack = unpack or table.unpack

local silent = "127.0.0.1:12308"
check.equal(select(2, Rizi.Now()), "unsynchronised", "Now before any measurement")

-- A silent server: pending at once and after a short wait, then the direct call's timeout.
local q = Rizi.Start(Rizi.QueryNTP, silent, 500)
check.equal(select(2, q:Result()), "pending", "silent: pending at once")
check.equal(select(2, q:Wait(100)), "pending", "silent: pending after 100 ms")
local r, message = q:Wait()
check.equal(r, nil, "silent: nil")
check.equal(message, "timeout: no valid reply from 127.0.0.1 within 500 ms", "silent: message")
check.equal(select(2, q:Result()), message, "Result as often as asked")

-- chronyd in the background while the script is busy for 300 ms (a direct call that waits
-- on the silent server): replies are stamped when they arrive, not when asked for.
q = Rizi.Start(Rizi.QueryNTP, "127.0.0.1")
Rizi.QueryNTP(silent, 300)
local background = q:Result()
if check.truthy(background, "chronyd in the background") then
    check.near(background.offset, 0, 0.001 + check.timing_slack, "background offset")
    check.truthy(background.delay < 0.005 + check.timing_slack, "background delay")
    check.equal(background.address, "127.0.0.1", "background address")
    check.truthy(Rizi.Now(), "Now takes a background measurement")
end

-- Each function, with what its direct call returns; the two original retrievals return one
-- value, a table or nil.
local same = {
    { Rizi.RetrieveNTPTime, { "127.0.0.1", 500 }, "table" },
    { Rizi.RetrieveTSTime, { "127.0.0.1" }, "table" },
    { Rizi.RetrieveTSTime, { "no-such-host.invalid" }, "nil" },
    -- Names looked up on a thread of their own: the first IPv4 address for the original
    -- retrievals, IPv6 too for the new functions.
    { Rizi.RetrieveNTPTime, { "localhost", 500 }, "table" },
    { Rizi.QueryNTP, { "ip6-localhost", 100 }, "nil" },
    { Rizi.QueryNTPServers, { "127.0.0.1 127.0.0.1:12301 127.0.0.1:12311" }, "table" },
    { Rizi.QueryHTTPS, { "http://no-such-host.invalid/", 500 }, "nil" },
    { Rizi.QueryNTS, { "127.0.0.1:4467", 500 }, "nil" }, -- no key-exchange server there
}
for _, case in ipairs(same) do
    local got = { Rizi.Start(case[1], unpack(case[2])):Wait() }
    local direct = { case[1](unpack(case[2])) }
    local what = tostring(case[2][1])
    check.equal(type(got[1]), case[3], what .. ": the value")
    check.equal(select("#", unpack(got)), select("#", unpack(direct)), what .. ": how many values")
    if type(got[2]) == "string" then
        check.equal(got[2]:match("^%a+"), direct[2]:match("^%a+"), what .. ": the message's word")
    end
end

-- Arguments are checked at once, with the errors the direct call raises where a script
-- writes it: Rizi.Name(...).
local load = loadstring or load
local function error_of(code)
    local ok, err = pcall(load(code, "=call"))
    return not ok and err or "no error"
end
local bad = {
    { "QueryNTP", "" },
    { "QueryNTP", "'[::1'" },
    { "QueryNTP", "'127.0.0.1', 'soon'" },
    { "RetrieveNTPTime", "{}" },
    { "RetrieveTSTime", "" },
    { "QueryNTPServers", "{}" },
    { "QueryHTTPS", "'ftp://example.net/'" },
    { "QueryNTS", "'[::1'" },
}
for _, case in ipairs(bad) do
    local name, args = case[1], case[2]
    local direct = error_of("local r = Rizi." .. name .. "(" .. args .. ") return r")
    local started = error_of("local q = Rizi.Start(Rizi." .. name .. (args ~= "" and ", " or "")
        .. args .. ") return q")
    check.equal(started, direct, name .. "(" .. args .. ")")
end
for _, f in ipairs({ print, Rizi.Now, Rizi.GetTimezoneName, 42 }) do
    check.raises(function() return Rizi.Start(f) end, "bad argument #1", "Start(" .. tostring(f) .. ")")
end

-- Any number of further arguments is ignored, as by the direct call, in a coroutine too.
local extra = {}
for i = 1, 200 do extra[i] = i end
local co = coroutine.create(function()
    return Rizi.Start(Rizi.QueryNTP, silent, 100, unpack(extra)):Wait()
end)
local resumed, r200, why200 = coroutine.resume(co)
check.equal(resumed, true, "200 more arguments in a coroutine: " .. tostring(r200))
check.equal(why200, "timeout: no valid reply from 127.0.0.1 within 100 ms", "200 more arguments")

-- A wait longer than the query returns its end, not pending.
q = Rizi.Start(Rizi.QueryNTP, silent, 100)
check.equal(select(2, q:Wait(2000)), "timeout: no valid reply from 127.0.0.1 within 100 ms",
    "Wait(ms) past the end")

-- The objects' metatable (their __gc among it) is not the script's to change.
check.equal(getmetatable(q), false, "metatable hidden")

-- Cancel: at once, and for good; a query that has ended keeps its answer.
q = Rizi.Start(Rizi.QueryNTPServers, { silent, "127.0.0.1:12301" }, 5000)
q:Cancel()
check.equal(select(2, q:Result()), "cancelled", "cancelled")
check.equal(select(2, q:Wait()), "cancelled", "cancelled, waited for")
Rizi.QueryNTP(silent, 100) -- its thread has ended by now
check.equal(select(2, q:Result()), "cancelled", "cancelled, after its thread ended")
q = Rizi.Start(Rizi.QueryNTP, "127.0.0.1")
check.truthy(q:Wait(), "ended")
q:Cancel()
check.truthy(q:Result(), "an ended query keeps its answer")

-- At most 64 at once in the process.
local many = {}
for i = 1, 64 do many[i] = Rizi.Start(Rizi.QueryNTP, silent, 5000) end
check.truthy(many[64], "64 queries run")
local r65, busy = Rizi.Start(Rizi.QueryNTP, silent, 5000)
check.equal(r65, nil, "the 65th: nil")
check.equal(type(busy) == "string" and busy:sub(1, 5), "busy:", "the 65th: busy")
for i = 1, 64 do many[i]:Cancel() end
check.done()
