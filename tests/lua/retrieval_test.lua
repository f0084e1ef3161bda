-- labels: servers
-- tz: UTC Europe/Berlin America/New_York Asia/Kolkata Asia/Tokyo
-- Both retrievals against the real servers on loopback (chronyd on UDP 123, xinetd's time
-- service on TCP 37; scripts/servers.sh): the server's time is this machine's clock, so
-- "unbiased" is UTC now and "biased" is local time now, in every zone.
local check = require "check"
local dates = require "dates"

local server = "127.0.0.1"
local date_keys = { "day", "wday", "yday", "month", "year", "hour", "min", "sec" }

local function key_count(t)
    local n = 0
    for _ in pairs(t) do
        n = n + 1
    end
    return n
end

-- Eight integer fields, each consistent with the instant they describe.
local function check_date(date, what)
    if not check.equal(type(date), "table", what .. " is a table") then
        return nil
    end
    check.equal(key_count(date), #date_keys, what .. " has exactly eight keys")
    for _, key in ipairs(date_keys) do
        local v = date[key]
        check.truthy(type(v) == "number" and v == math.floor(v), what .. "." .. key .. " is an integer")
    end
    local seconds = dates.seconds_of(date)
    local c = os.date("!*t", seconds)
    check.equal(date.wday, c.wday - 1, what .. ".wday (0 = Sunday)")
    check.equal(date.yday, c.yday, what .. ".yday (1 January = 1)")
    return seconds
end

local function check_result(label, result, before, after)
    if not check.truthy(result, label .. " answers") then
        return
    end
    check.equal(key_count(result), 4, label .. " has exactly four keys")
    local unbiased = check_date(result.unbiased, label .. ".unbiased")
    local biased = check_date(result.biased, label .. ".biased")
    if unbiased then
        check.truthy(unbiased >= before - 2 and unbiased <= after + 2,
            string.format("%s.unbiased is UTC now (%s, clock %s)", label,
                os.date("!%Y-%m-%d %H:%M:%S", unbiased), os.date("!%H:%M:%S", after)))
    end
    if unbiased and biased then
        check.equal(biased - unbiased, dates.local_offset(after), label .. ".biased is local time")
    end
    check.equal(result.timezoneName, Rizi.GetTimezoneName(), label .. ".timezoneName")
    check.equal(result.timezoneBias, Rizi.GetTimezoneBias(), label .. ".timezoneBias")
end

local calls = {
    { "RetrieveNTPTime", 1000 },
    { "RetrieveNTPTime", nil }, -- the default timeout (130 ms) is plenty on loopback
    { "RetrieveNTPTime", "1000" },
    { "RetrieveTSTime", 1000 },
    { "RetrieveTSTime", nil },
    { "RetrieveTSTime", "1000" },
}
for _, call in ipairs(calls) do
    local name, timeout = call[1], call[2]
    local before = os.time()
    local result = Rizi[name](server, timeout)
    local after = os.time()
    check_result(string.format("%s(%q, %s)", name, server, tostring(timeout)), result, before, after)
end

check.done()
