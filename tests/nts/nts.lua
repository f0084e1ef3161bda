-- Rizi.QueryNTS and nts:// sources against the servers that nts_test.sh starts on loopback.
-- The test CA is trusted in this process's namespace; the script runs in the harness's
-- folder, where relay.mode steers the relay and ke.PORT counts the key exchanges through it.
--   localhost:4460  chronyd A, NTP on 127.0.0.1:11123 and [::1]:11123: this machine's clock
--   localhost:4461  chronyd B, whose key exchange names 127.0.0.3:11124, the relay's
--   14470-14481     ke_server: certificates to refuse, then records to refuse
--   14490, 14492    HTTPS with a Date; a silent server (its connections counted)
-- Usage: nts.lua linux|wine   (linux also asks chronyd A by its addresses, IPv4 and IPv6)
local check = require "check"

local mode = arg[1]

-- Without the function every call below would raise; say so once instead.
if not check.equal(type(Rizi.QueryNTS), "function", "Rizi.QueryNTS exists") then
    return check.done()
end

-- The relay's counts at port: connections so far (key exchanges), and those still open.
local function ke(port)
    local f = io.open("ke." .. port)
    local text = f and f:read("*a") or ""
    if f then f:close() end
    local accepted, open = text:match("(%d+) (%d+)")
    return tonumber(accepted) or -1, tonumber(open) or -1
end

local function relay(how)
    local f = assert(io.open("relay.mode", "w"))
    f:write(how, "\n")
    f:close()
end

-- Seconds on a clock that only moves forward: Rizi.Now once anything was measured (the
-- QueryNTP below sees to that), else os.time, so that the waits here always end.
local function clock() return Rizi.Now() or os.time() end
Rizi.QueryNTP("127.0.0.1", 1000)

-- Seconds until the relay at port holds no connection open, or nil after a second.
local function until_closed(port)
    local start = clock()
    repeat
        local spent = clock() - start
        if select(2, ke(port)) == 0 then return spent end
    until spent > 1
end

local function word_of(message)
    return type(message) == "string" and message:match("^[%a-]+") or tostring(message)
end

-- A measurement of chronyd through NTS: authenticated, from server (the NTP server the key
-- exchange named), the session back at 8 cookies (each request asks for the one it spends
-- and any lost before), and this machine's clock: within 1 ms, or half the delay when a reply
-- was held back longer.
local function check_nts(what, r, server)
    local tolerance = math.max(0.001, (r.delay or 0) / 2)
    check.equal(r.authenticated, true, what .. ": authenticated")
    check.equal(r.ntpServer, server, what .. ": ntpServer")
    check.equal(r.address, server:match("^%[?(.-)%]?:%d+$"), what .. ": address")
    check.equal(r.cookies, 8, what .. ": cookies")
    check.equal(r.stratum, 10, what .. ": chronyd's stratum")
    check.near(r.offset, 0, tolerance + check.timing_slack, what .. ": offset")
    if check.equal(type(r.unbiased), "table", what .. ": unbiased") then
        check.equal(check.seconds_of(r.unbiased), math.floor(r.time), what .. ": unbiased time")
    end
end

-- The first call exchanges keys (port 4460 when none is written), then measures.
local a0 = ke(4460)
local first, why = Rizi.QueryNTS("localhost")
if check.truthy(first, "first call: " .. tostring(why)) then
    check_nts("first call", first, "127.0.0.1:11123")
end
check.equal(ke(4460) - a0, 1, "first call: one key exchange")

-- Twenty more on the session: each reply brings new cookies, so no new key exchange.
local best
for i = 1, 20 do
    local r, message = Rizi.QueryNTS("localhost", 1000)
    if not check.truthy(r, "call " .. i .. " on the session: " .. tostring(message)) then break end
    check.equal(r.cookies, 8, "call " .. i .. ": cookies")
    if not best or r.delay < best.delay then best = r end
end
check.near(best and best.offset, 0, 0.0005 + check.timing_slack, "the least delay's offset")
check.equal(ke(4460) - a0, 1, "21 calls, one key exchange")
-- The session is the server's: its name in any case, its port written or not.
check.truthy(Rizi.QueryNTS("LocalHost:4460", 1000), "LocalHost:4460")
check.equal(ke(4460) - a0, 1, "LocalHost:4460 on localhost's session")

-- By address, over both families: sessions of their own, the NTP server on the same family.
if mode == "linux" then
    for _, case in ipairs({ { "127.0.0.1:4460", "127.0.0.1:11123" },
        { "[::1]:4460", "[::1]:11123" } }) do
        local r, message = Rizi.QueryNTS(case[1], 1000)
        if check.truthy(r, case[1] .. ": " .. tostring(message)) then
            check_nts(case[1], r, case[2])
        end
    end
end

-- Through the relay (chronyd B's key exchange names it): forgeries are ignored, stray NAKs
-- too; only a NAK with our Unique Identifier ends the session, once.
local b0 = ke(4461)
local via = "127.0.0.3:11124"
relay("pass")
local r, message = Rizi.QueryNTS("localhost:4461", 1000)
if check.truthy(r, "through the relay: " .. tostring(message)) then
    check_nts("through the relay", r, via)
end
relay("tampered")
r, message = Rizi.QueryNTS("localhost:4461", 400)
check.equal(r, nil, "only forgeries: nil")
check.equal(word_of(message), "timeout", "only forgeries: " .. tostring(message))
relay("tampered-then-genuine")
r, message = Rizi.QueryNTS("localhost:4461", 2000)
if check.truthy(r, "forgeries, then the genuine reply: " .. tostring(message)) then
    check_nts("the genuine reply after forgeries", r, via)
end
check.equal(ke(4461) - b0, 1, "forgeries and NAKs not ours: the session kept")
relay("ntsn")
-- The call that gets the NAK may end with it, or exchange keys again at once.
r, message = Rizi.QueryNTS("localhost:4461", 2000)
if not r then
    check.equal(type(message) == "string" and message:sub(1, 9), "kiss NTSN",
        "a NAK: " .. tostring(message))
end
r, message = Rizi.QueryNTS("localhost:4461", 2000)
if check.truthy(r, "after a NAK: " .. tostring(message)) then
    check_nts("after a NAK", r, via)
end
check.equal(ke(4461) - b0, 2, "a NAK: exactly one new key exchange")

-- Key exchanges that must fail, with the first word of the message (and, for TLS, words of
-- the reason: a user fixes a clock, a name or a server by them).
local refused = {
    { "localhost:14470", "tls", "a certificate from another CA", "not issued by a root" },
    { "localhost:14471", "tls", "an expired certificate", "by this machine's clock" },
    { "localhost:14472", "tls", "a certificate for another name", "for another name" },
    { "localhost:14473", "tls", "TLS 1.2 only", "in common with this TLS 1.3 client" },
    { "localhost:14474", "tls", "no ntske/1 agreed", "did not agree to ntske/1" },
    { "localhost:14475", "nts-ke", "an Error record" },
    { "localhost:14476", "nts-ke", "no cookie" },
    { "localhost:14477", "nts-ke", "another algorithm" },
    { "localhost:14478", "nts-ke", "an unknown critical record" },
    { "localhost:14479", "nts-ke", "a cookie of 60000 bytes" },
    { "localhost:14480", "nts-ke", "cookie records without end" },
    { "localhost:14481", "nts-ke", "closed before End of Message" },
    { "localhost:14499", "network", "nothing listening" },
    { "no-such-host.invalid", "resolve", "a name that does not resolve" },
}
for _, case in ipairs(refused) do
    local got, text = Rizi.QueryNTS(case[1], 2000)
    check.equal(got, nil, case[3] .. " gives nil")
    check.equal(word_of(text), case[2], case[3] .. ": " .. tostring(text))
    if case[4] then
        check.truthy(tostring(text):find(case[4], 1, true), case[3] .. ": " .. tostring(text))
    end
end

-- A key-exchange server that never answers costs the timeout and closes its connection.
local before = clock()
r, message = Rizi.QueryNTS("localhost:14492", 400)
local spent = clock() - before
check.equal(word_of(message), "timeout", "silent: " .. tostring(message))
check.truthy(spent <= 0.6, string.format("silent: %.3f s for a timeout of 0.4 s", spent))
check.truthy(until_closed(14492), "silent: the connection closed")

-- A verdict with NTS, plain NTP (scripts/servers.sh's chronyd) and HTTPS sources: the NTS one
-- authenticated, on the session QueryNTS made; a refused certificate fails that source alone.
local a1 = ke(4460)
local v, failure = Rizi.QueryNTPServers({ "nts://localhost:4460", "127.0.0.1",
    "https://localhost:14490/", "nts://localhost:14471" }, 3000)
if check.truthy(v, "a verdict: " .. tostring(failure)) then
    local verdicts = {}
    for i, s in ipairs(v.sources) do verdicts[i] = s.verdict:sub(1, 1) end
    check.equal(table.concat(verdicts), "aaaf", "a verdict: verdicts")
    check.equal(v.sources[1].authenticated, true, "a verdict: the NTS source authenticated")
    check.equal(v.sources[2].authenticated, false, "a verdict: the NTP source not")
    check.equal(word_of(v.sources[4].message), "tls", "a verdict: the expired certificate")
    check.near(v.offset, 0, 0.001 + check.timing_slack, "a verdict: offset")
end
check.equal(ke(4460) - a1, 0, "a verdict: no new key exchange")

-- In the background; a cancel ends a key exchange that waits on a silent server at once.
local q = Rizi.Start(Rizi.QueryNTS, "localhost", 1000)
r, message = q:Wait()
if check.truthy(r, "in the background: " .. tostring(message)) then
    check_nts("in the background", r, "127.0.0.1:11123")
end
local accepted = ke(14492)
q = Rizi.Start(Rizi.QueryNTS, "localhost:14492", 3000)
before = clock()
repeat until ke(14492) > accepted or clock() - before > 1
check.equal(select(2, q:Wait(100)), "pending", "cancel: the key exchange under way")
q:Cancel()
check.equal(select(2, q:Wait()), "cancelled", "cancel: cancelled")
local closed = until_closed(14492)
check.truthy(closed and closed < 0.25, "cancel: the connection closed within 0.25 s, in " ..
    tostring(closed))

-- Arguments are read as QueryNTP reads them.
check.raises(function() return Rizi.QueryNTS() end, "bad argument #1", "no server")
check.raises(function() return Rizi.QueryNTS("localhost:65536") end, "bad argument #1",
    "port 65536")
check.raises(function() return Rizi.QueryNTS("localhost", {}) end, "bad argument #2",
    "a table as timeout")
check.done()
