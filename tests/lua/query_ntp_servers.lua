-- Rizi.QueryNTPServers and Rizi.Now against the NTP lab (tests/servers/ntp_lab.py): honest
-- servers on 12301, 12311 and 12314, liars by an hour (12309) and by 2 minutes (12310), a
-- silent one (12308) and one that holds its answer 50 ms (12312).
-- labels: servers
local check = require "check"

local function lab(...)
    local list = {}
    for i, n in ipairs({ ... }) do list[i] = "127.0.0.1:" .. (12300 + n) end
    return list
end

-- Nothing measured yet in this process: no time to carry forward.
check.equal(select(2, Rizi.Now()), "unsynchronised", "Now before any measurement")

local function verdicts(r)
    local v = {}
    local letter = { agrees = "a", disagrees = "d", failed = "f", duplicate = "=" }
    for i, s in ipairs(r.sources) do v[i] = letter[s.verdict] end
    return table.concat(v)
end

local cases = {
    { lab(1, 11, 9, 14, 10), "aadad", 3, "three honest, two liars" },
    { table.concat(lab(1, 11, 8, 14, 9), ", "), "aafad", 3, "a silent server, as a string" },
    { lab(1, 12, 11), "aaa", 3, "one holding its answer 50 ms" },
    { { "localhost:12301", "localhost:12311" }, "aa", 2, "two names, resolved at once" },
    -- One server under two names, twice under one, or as an IPv4-mapped address, votes once;
    -- the fifth entry: each duplicate's duplicateOf.
    { { "127.0.0.1:12301", "localhost:12301", "127.0.0.1:12301" }, "a==", 1, "one server thrice",
        "11" },
    { lab(1, 11, 9, 9), "aad=", 2, "a liar listed twice", "3" },
    { { "127.0.0.1:12311", "127.0.0.1:12301", "[::ffff:127.0.0.1]:12301" }, "aa=", 2,
        "an IPv4-mapped address", "2" },
}
for _, case in ipairs(cases) do
    local r, message = check.least_delay(Rizi.QueryNTPServers, case[1], 300)
    if check.truthy(r, case[4] .. ": " .. tostring(message)) then
        check.equal(verdicts(r), case[2], case[4] .. ": verdicts")
        local of = {}
        for _, source in ipairs(r.sources) do
            of[#of + 1] = source.duplicateOf
            if source.duplicateOf then check.truthy(source.address, case[4] .. ": its address") end
        end
        check.equal(table.concat(of), case[5] or "", case[4] .. ": duplicateOf")
        check.equal(r.agree, case[3], case[4] .. ": agree")
        check.equal(r.asked, #case[2], case[4] .. ": asked")
        check.equal(r.answered, #case[2]:gsub("[f=]", ""), case[4] .. ": answered")
        check.near(r.offset, 0, 0.001 + check.timing_slack, case[4] .. ": offset of the honest")
        -- offset +- error covers the common part, which lies inside the best source's interval.
        check.truthy(r.error >= 0 and r.error <= 2 * r.rootDistance, case[4] .. ": error bound")
        check.near(r.time, os.time(), 2, case[4] .. ": time")
        local failed = r.sources[3]
        if failed and failed.verdict == "failed" then
            check.equal(failed.message:sub(1, 7), "timeout", case[4] .. ": the silent one's message")
        end
        -- Now holds the best measurement so far, carried forward: the true time still.
        local fresh = Rizi.QueryNTPServers(case[1], 300)
        local now, bound = Rizi.Now()
        check.near(now, fresh and fresh.time or 0, 0.01 + check.timing_slack,
            case[4] .. ": Now agrees with a fresh verdict")
        check.truthy(bound < 0.01, case[4] .. ": Now's bound")
    end
end

local failures = {
    { lab(1, 11, 9, 10), "no majority", "two honest, two liars apart" },
    { lab(1, 9, 10), "no majority: 3 of 3 servers answered, and 3 sets of 1", "three apart" },
    { lab(8), "timeout", "only a silent server" },
    { "no-such-host.invalid nor-this.invalid", "resolve", "no name resolves" },
}
for _, case in ipairs(failures) do
    local r, message = Rizi.QueryNTPServers(case[1], 200)
    check.equal(r, nil, case[3] .. " gives nil")
    check.equal(type(message) == "string" and message:sub(1, #case[2]), case[2],
        case[3] .. ": " .. tostring(message))
end

local too_many = {}
for i = 1, 33 do too_many[i] = "127.0.0.1" end
for _, bad in ipairs({ {}, "", " , ", too_many, { 1 }, { "[::1" }, "a b:0" }) do
    check.raises(function() local r = Rizi.QueryNTPServers(bad) return r end, "bad argument #1",
        "QueryNTPServers(" .. tostring(type(bad) == "table" and #bad or bad) .. ")")
end
check.done()
