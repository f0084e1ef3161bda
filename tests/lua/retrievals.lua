-- Both retrievals against the real servers on loopback (SNTP on UDP 127.0.0.1:123, RFC 868
-- on TCP 127.0.0.1:37): "unbiased" is this machine's UTC clock and "biased" its local clock,
-- both within 2 seconds, with the zone functions' name and offset.
-- labels: servers
-- tz: UTC Europe/Berlin America/New_York Asia/Kolkata Asia/Tokyo
local check = require "check"

local days_from_civil, seconds_of = check.days_from_civil, check.seconds_of

local date_keys = { "day", "wday", "yday", "month", "year", "hour", "min", "sec" }

-- Exactly the eight integer fields, consistent with each other.
local function check_date(what, date)
    if not check.equal(type(date), "table", what .. " is a table") then
        return
    end
    local count = 0
    for _ in pairs(date) do count = count + 1 end
    check.equal(count, 8, what .. " fields")
    for _, key in ipairs(date_keys) do
        local value = date[key]
        check.truthy(type(value) == "number" and value == math.floor(value),
            what .. "." .. key .. " is an integer")
    end
    local days = days_from_civil(date.year, date.month, date.day)
    check.equal(date.wday, (days + 4) % 7, what .. ".wday")
    check.equal(date.yday, days - days_from_civil(date.year, 1, 1) + 1, what .. ".yday")
end

local function check_result(what, result)
    if not check.equal(type(result), "table", what .. " gives a table") then
        return
    end
    local count = 0
    for _ in pairs(result) do count = count + 1 end
    check.equal(count, 4, what .. " keys")
    check_date(what .. ".unbiased", result.unbiased)
    check_date(what .. ".biased", result.biased)
    check.equal(result.timezoneName, Rizi.GetTimezoneName(), what .. ".timezoneName")
    check.equal(result.timezoneBias, Rizi.GetTimezoneBias(), what .. ".timezoneBias")

    local now = os.time()
    check.near(seconds_of(result.unbiased), seconds_of(os.date("!*t", now)), 2,
        what .. ".unbiased against this machine's UTC clock")
    check.near(seconds_of(result.biased), seconds_of(os.date("*t", now)), 2,
        what .. ".biased against local time")
end

for _, name in ipairs({ "RetrieveNTPTime", "RetrieveTSTime" }) do
    local retrieve = Rizi[name]
    check_result(name, retrieve("127.0.0.1", 1000))
    check_result(name .. " with its default limit", retrieve("127.0.0.1"))
    check_result(name .. " by host name", retrieve("localhost", 1000))
end
check.done()
