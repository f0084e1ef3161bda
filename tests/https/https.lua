-- Rizi.QueryHTTPS against the web servers that https_test.sh starts from port BASE on:
-- nginx with a good certificate (BASE), one from another CA (+1), an expired one (+2), one for
-- another name (+3), plain http (+4); odd_servers.py's Dates by path (+5) and its silent port
-- (+6); nothing listens on +7. The test CA is trusted in this process's namespace.
-- Usage: https.lua BASE linux|wine|no-curl
--   wine     every case but those marked linux
--   no-curl  libcurl hidden: the other functions work, QueryHTTPS says so
local check = require "check"

local base, mode = tonumber(arg[1]), arg[2]
local function url(scheme, host, port, path)
    return string.format("%s://%s:%d%s", scheme, host, base + port, path or "/")
end

if mode == "no-curl" then
    local t = Rizi.RetrieveNTPTime("127.0.0.1", 500)
    check.near(t and check.seconds_of(t.unbiased) or 0, os.time(), 2, "RetrieveNTPTime answers")
    check.equal(type(Rizi.GetTimezoneName()), "string", "GetTimezoneName")
    local r, message = Rizi.QueryHTTPS(url("https", "localhost", 0))
    check.equal(r, nil, "QueryHTTPS gives nil")
    check.equal(tostring(message):sub(1, 17), "https unavailable", tostring(message))
    return check.done()
end

-- URL, the first word of the failure (nil: a time), what it is, "linux" where only there;
-- wider: how much more than delay / 2 + 0.5 rootDistance is.
local cases = {
    { url("http", "127.0.0.1", 4), nil, "plain http" },
    { url("http", "127.0.0.1", 7), "network", "http to a closed port" },
    { url("https", "localhost", 0), nil, "good certificate" },
    -- under wine a certificate for the address is refused (WinHTTP error 12157)
    { url("https", "127.0.0.1", 0, "/by/address?x=1"), nil, "by address, a path and query",
        "linux" },
    { url("https", "localhost", 1), "tls", "certificate from another CA" },
    { url("https", "localhost", 2), "tls", "expired certificate" },
    { url("https", "localhost", 3), "tls", "certificate for another name" },
    { url("https", "localhost", 5, "/none"), "http", "no Date" },
    { url("https", "localhost", 5, "/bad"), "http", "a malformed Date" },
    { url("https", "localhost", 5, "/rfc850"), nil, "RFC 850 Date" },
    { url("https", "localhost", 5, "/asctime"), nil, "asctime Date" },
    { url("https", "localhost", 5, "/get-only"), nil, "Date only on GET" },
    { url("https", "localhost", 5, "/age"), nil, "a cache's answer, Age: 120", wider = 1 },
    { url("https", "localhost", 5, "/bad-age"), "http", "a malformed Age" },
    { url("https", "localhost", 5, "/far"), "http", "a Date in 9999" },
    -- the target's Date is an hour ahead: the redirect's own Date counts, not followed
    { url("https", "localhost", 5, "/moved"), nil, "301, not followed" },
    { url("https", "localhost", 5, "/found"), nil, "302, not followed" },
    { "https://no-such-host.invalid/", "resolve", "a name that does not resolve" },
}
for _, case in ipairs(cases) do
    if mode == "linux" or case[4] ~= "linux" then
        local r, message = Rizi.QueryHTTPS(case[1], 2000)
        local what = case[3] .. " (" .. case[1] .. "): " .. tostring(message)
        if not case[2] then
            if check.truthy(r, what) then
                check.near(r.offset, 0, 1, what .. ": offset")
                check.near(r.time, os.time(), 2, what .. ": time")
                check.equal(check.seconds_of(r.unbiased), math.floor(r.time), what .. ": unbiased")
                check.equal(r.precision, 1, what .. ": precision")
                check.near(r.rootDistance, r.delay / 2 + 0.5 + (case.wider or 0), 1e-9,
                    what .. ": rootDistance")
                check.truthy(r.delay >= 0 and r.delay < 1, what .. ": delay")
                check.equal(r.address, "127.0.0.1", what .. ": address")
                check.equal(r.stratum, nil, what .. ": no stratum")
            end
        else
            check.equal(r, nil, what)
            check.equal(tostring(message):sub(1, #case[2]), case[2], what)
        end
    end
end
check.raises(function() Rizi.QueryHTTPS("ftp://localhost/") end, "bad argument #1", "ftp://")

-- Mixed lists: the NTP source sets the offset, HTTPS sources vote; an hour-ahead HTTPS liar
-- and a refused certificate are told apart; HTTPS alone still gives a verdict.
local mixed = {
    { { "127.0.0.1:12301", url("https", "localhost", 0), url("https", "localhost", 5, "/asctime") },
        "aaa", 0.01, "NTP and two HTTPS" },
    { { url("https", "localhost", 0), url("https", "localhost", 5, "/rfc850"),
        url("https", "localhost", 5, "/ahead"), url("https", "localhost", 1) },
        "aadf", 1, "HTTPS only, a liar and a refused certificate" },
}
-- One web server however its URL is written votes once: the host in any case, the port with
-- a leading zero, and other names for the address it reaches (on Linux also its IPv4-mapped
-- IPv6 form, which libcurl reports as such).
local once = { url("http", "localhost", 4), url("http", "LOCALHOST", 4),
    string.format("http://127.0.0.1:0%d/", base + 4), "127.0.0.1:12301" }
if mode == "linux" then table.insert(once, 4, url("http", "[::ffff:127.0.0.1]", 4)) end
local v, why = Rizi.QueryNTPServers(once)
if check.truthy(v, "one web server, many spellings: " .. tostring(why)) then
    local of = {}
    for i, s in ipairs(v.sources) do of[i] = s.verdict:sub(1, 3) .. (s.duplicateOf or "") end
    local want = mode == "linux" and "agr dup1 dup1 dup1 agr" or "agr dup1 dup1 agr"
    check.equal(table.concat(of, " "), want, "one web server, many spellings: verdicts")
    check.equal(v.answered, 2, "one web server, many spellings: answered")
end
for _, case in ipairs(mixed) do
    local v, why = Rizi.QueryNTPServers(case[1])
    if check.truthy(v, case[4] .. ": " .. tostring(why)) then
        local verdicts = {}
        for i, s in ipairs(v.sources) do verdicts[i] = s.verdict:sub(1, 1) end
        check.equal(table.concat(verdicts), case[2], case[4] .. ": verdicts")
        check.near(v.offset, 0, case[3] + check.timing_slack, case[4] .. ": offset")
        local refused = v.sources[4]
        check.equal(refused and refused.message:sub(1, 3) or "tls", "tls", case[4] .. ": refused")
    end
end

-- A server that never answers costs the timeout and at most 100 ms more (the wall clock read
-- by Rizi.Now, anchored by the calls above). Last: a wait that never ends stops the script.
local before = Rizi.Now()
local r, message = Rizi.QueryHTTPS(url("https", "127.0.0.1", 6), 500)
local spent = Rizi.Now() - before
check.equal(r == nil and tostring(message):sub(1, 7), "timeout", "silent: " .. tostring(message))
check.truthy(spent <= 0.6, string.format("silent: %.3f s for a timeout of 0.5 s", spent))

check.done()
