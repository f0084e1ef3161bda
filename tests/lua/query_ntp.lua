-- Rizi.QueryNTP against chronyd on 127.0.0.1:123 (its clock is ours, so the true offset is 0)
-- and the NTP lab on 127.0.0.1:12301-12314 (tests/servers/ntp_lab.py): honest, 2.5 s ahead
-- with a 20-ms hold, in 2040, refusing, unsynchronised, sending junk before the truth, silent.
-- labels: servers
-- tz: UTC Asia/Kolkata
local check = require "check"

local lab = function(n) return "127.0.0.1:" .. (12300 + n) end

-- The calendar tables follow the whole second of time; biased is local time by the bias.
local function check_table(what, t)
    local second = math.floor(t.time)
    check.equal(check.seconds_of(t.unbiased), second, what .. ": unbiased is time")
    check.equal(check.seconds_of(t.biased), second + t.timezoneBias * 3600,
        what .. ": biased is time in local time")
    check.equal(t.timezoneName, Rizi.GetTimezoneName(), what .. ": timezoneName")
    for _, key in ipairs({ "offset", "delay", "precision", "rootDelay", "rootDispersion",
        "rootDistance", "stratum", "leap", "version" }) do
        check.equal(type(t[key]), "number", what .. ": " .. key .. " is a number")
    end
    check.truthy(t.delay >= 0 and t.rootDistance >= t.delay / 2, what .. ": delay and distance")
    check.near(t.time, os.time() + t.offset, 2, what .. ": time is our clock plus offset")
end

local t, message = check.least_delay(Rizi.QueryNTP, "127.0.0.1")
if check.truthy(t, "chronyd answers: " .. tostring(message)) then
    check_table("chronyd", t)
    check.near(t.offset, 0, 0.0005 + check.timing_slack, "chronyd's offset, the same clock")
    check.truthy(t.delay < 0.005 + check.timing_slack, "chronyd's delay below 5 ms")
    check.equal(t.stratum, 8, "chronyd's stratum")
    check.equal(t.address, "127.0.0.1", "the address that answered")
    check.equal(t.version, 4, "the reply's version")
end

-- Servers that answer, with the offset expected (nil: not checked).
local answers = {
    { lab(1), 0, "honest" },
    { "localhost:12301", 0, "by name" },
    { lab(2), 2.5, "2.5 s ahead, holding each request 20 ms" },
    { lab(7), 0, "the true reply after six invalid ones and two from other senders" },
    { "[::1]:12302", 2.5, "over IPv6" },
}
for _, case in ipairs(answers) do
    local r, why = check.least_delay(Rizi.QueryNTP, case[1], 2000)
    if check.truthy(r, case[3] .. ": " .. tostring(why)) then
        check_table(case[3], r)
        check.near(r.offset, case[2], 0.003 + check.timing_slack, case[3] .. ": offset")
        check.truthy(r.delay < 0.005 + check.timing_slack,
            case[3] .. ": delay below 5 ms, the hold taken out")
    end
end

-- After the NTP era rolled over in 2036: the lab's clock started at 2040-02-29 12:00:00, a
-- Wednesday and a leap day.
local y2040 = Rizi.QueryNTP(lab(3), 2000)
if check.truthy(y2040, "the server in 2040") then
    check_table("2040", y2040)
    local u = y2040.unbiased
    check.equal(string.format("%d-%02d-%02d wday %d yday %d", u.year, u.month, u.day, u.wday,
        u.yday), "2040-02-29 wday 3 yday 60", "2040's calendar fields")
    check.near(y2040.time, 2214129600 + 6 * 3600, 6 * 3600, "2040's time")
end

-- Failures: nil and a message starting with its fixed word.
local failures = {
    { lab(4), "kiss RATE", "a kiss-o'-death" },
    { lab(5), "unsynchronised", "leap 3" },
    { lab(6), "unsynchronised", "stratum 16" },
    { lab(13), "unsynchronised", "a root distance above 1.5 s" },
    { lab(8), "timeout", "a silent server", 100 },
    { "no-such-host.invalid", "resolve", "a name that does not resolve" },
}
for _, case in ipairs(failures) do
    local started = os.time()
    local r, why = Rizi.QueryNTP(case[1], case[4] or 5000)
    check.equal(r, nil, case[3] .. " gives nil")
    check.equal(type(why) == "string" and why:sub(1, #case[2]), case[2], case[3] .. ": " .. tostring(why))
    -- An authentic refusal ends the call at once, not after the 5-s timeout.
    check.truthy(os.time() - started <= 2, case[3] .. " ends early")
end

-- Server texts that cannot be a server are argument errors, as is a missing server.
for _, bad in ipairs({ "[::1", "[::1]x", "host:", "host:0", "host:65536", "host:12a", "", ":123" }) do
    check.raises(function() local r = Rizi.QueryNTP(bad) return r end, "bad argument #1",
        string.format("QueryNTP(%q)", bad))
end
check.raises(function() local r = Rizi.QueryNTP() return r end, "bad argument #1", "no server")
check.raises(function() local r = Rizi.QueryNTP(lab(1), {}) return r end, "bad argument #2",
    "a table as timeout")
check.done()
