-- Both retrievals against the real servers on loopback (SNTP on UDP 127.0.0.1:123, RFC 868
-- on TCP 127.0.0.1:37): "unbiased" is this machine's UTC clock, "biased" its local clock,
-- both within 2 seconds.
-- labels: servers
-- tz: UTC Europe/Berlin America/New_York Asia/Kolkata Asia/Tokyo

local function days_from_civil(y, m, d)
    if m <= 2 then y = y - 1 end
    local era = math.floor(y / 400)
    local yoe = y - era * 400
    local mp = (m + 9) % 12
    local doy = math.floor((153 * mp + 2) / 5) + d - 1
    local doe = yoe * 365 + math.floor(yoe / 4) - math.floor(yoe / 100) + doy
    return era * 146097 + doe - 719468
end

local function seconds_of(t)
    return days_from_civil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.min * 60 + t.sec
end

local date_keys = { "day", "wday", "yday", "month", "year", "hour", "min", "sec" }

-- Exactly the eight integer fields, consistent with each other.
local function check_date(what, date)
    assert(type(date) == "table", what .. " is " .. type(date))
    local count = 0
    for _ in pairs(date) do count = count + 1 end
    assert(count == 8, what .. " has " .. count .. " fields")
    for _, key in ipairs(date_keys) do
        local value = date[key]
        assert(type(value) == "number" and value == math.floor(value), what .. "." .. key)
    end
    local days = days_from_civil(date.year, date.month, date.day)
    assert(date.wday == (days + 4) % 7, what .. ".wday")
    assert(date.yday == days - days_from_civil(date.year, 1, 1) + 1, what .. ".yday")
end

local function check_result(what, result)
    assert(type(result) == "table", what .. " returned " .. type(result))
    local count = 0
    for _ in pairs(result) do count = count + 1 end
    assert(count == 4, what .. " has " .. count .. " keys")
    check_date(what .. ".unbiased", result.unbiased)
    check_date(what .. ".biased", result.biased)
    assert(result.timezoneName == Rizi.GetTimezoneName(), what .. ".timezoneName")
    assert(result.timezoneBias == Rizi.GetTimezoneBias(), what .. ".timezoneBias")

    local now = os.time()
    local utc_diff = seconds_of(result.unbiased) - seconds_of(os.date("!*t", now))
    assert(math.abs(utc_diff) <= 2, ("%s: unbiased is %d s from this clock"):format(what, utc_diff))
    local local_diff = seconds_of(result.biased) - seconds_of(os.date("*t", now))
    assert(math.abs(local_diff) <= 2, ("%s: biased is %d s from local time"):format(what, local_diff))
end

for _, name in ipairs({ "RetrieveNTPTime", "RetrieveTSTime" }) do
    local retrieve = Rizi[name]
    check_result(name, retrieve("127.0.0.1", 1000))
    check_result(name .. " (limit as a numeric string)", retrieve("127.0.0.1", "1000"))
    check_result(name .. " (by name)", retrieve("localhost", 1000))

    -- Nothing listens there: nil.
    assert(retrieve("127.0.0.254", 20) == nil, name .. " without a server")

    -- Argument errors are Lua's own.
    local ok, message = pcall(function() return retrieve() end)
    assert(not ok and message:find("bad argument #1 to '.-' %(string expected, got no value%)"), message)
    ok, message = pcall(function() return retrieve("127.0.0.1", "soon") end)
    assert(not ok and message:find("bad argument #2 to '.-' %(number expected, got string%)"), message)
end
print("ok")
