-- Checks for the end-to-end scripts: each check counts, a failed one prints a "not ok" line
-- with the script line that made it, and check.done() prints the closing line (or raises an
-- error, so the host exits non-zero).
--
--   local check = require "check"
--   check.equal(Rizi.GetTimezoneBias(), 1, "bias in Berlin")
--   check.done()

local check = {}

local count, failed = 0, 0

-- Shows a value so that -0, strings and nil are told apart in messages.
local function show(value)
    if type(value) == "string" then
        return string.format("%q", value)
    end
    if value == 0 and 1 / value < 0 then
        return "-0"
    end
    return tostring(value)
end

local function record(ok, what, detail)
    count = count + 1
    if ok then
        return true
    end
    failed = failed + 1
    local at = debug.getinfo(3, "Sl")
    local where = at and (at.short_src .. ":" .. at.currentline) or "?"
    print(string.format("not ok %d - %s (%s)%s", count, what or "check", where,
        detail and (": " .. detail) or ""))
    return false
end

-- The value is true (anything but nil and false).
function check.truthy(value, what)
    return record(value and true or false, what, "got " .. show(value))
end

-- actual == expected; negative and positive zero count as different.
function check.equal(actual, expected, what)
    local same = actual == expected
    if same and actual == 0 and type(actual) == "number" then
        same = (1 / actual) == (1 / expected)
    end
    return record(same, what, "expected " .. show(expected) .. ", got " .. show(actual))
end

-- |actual - expected| <= tolerance.
function check.near(actual, expected, tolerance, what)
    local ok = type(actual) == "number" and math.abs(actual - expected) <= tolerance
    return record(ok, what, string.format("expected %s within %s, got %s", show(expected),
        show(tolerance), show(actual)))
end

-- Calling fn raises an error whose message contains the text (plain, not a pattern).
function check.raises(fn, text, what)
    local ok, message = pcall(fn)
    if ok then
        return record(false, what, "no error raised")
    end
    message = tostring(message)
    return record(message:find(text, 1, true) ~= nil, what,
        "expected an error containing " .. show(text) .. ", got " .. show(message))
end

-- Calling fn raises no error.
function check.succeeds(fn, what)
    local ok, message = pcall(fn)
    return record(ok, what, "raised " .. show(message))
end

-- Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
function check.days_from_civil(y, m, d)
    if m <= 2 then y = y - 1 end
    local era = math.floor(y / 400)
    local yoe = y - era * 400
    local mp = (m + 9) % 12
    local doy = math.floor((153 * mp + 2) / 5) + d - 1
    local doe = yoe * 365 + math.floor(yoe / 4) - math.floor(yoe / 100) + doy
    return era * 146097 + doe - 719468
end

-- Seconds since 1970-01-01 of a table with year, month, day, hour, min and sec, counted as
-- UTC whatever the zone (os.time would apply the local zone).
function check.seconds_of(t)
    return check.days_from_civil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.min * 60
        + t.sec
end

-- Seconds of slack for measured offsets and delays: Winsock keeps no arrival stamps, and under
-- wine every wait passes through its server, so a Windows build reads replies later.
check.timing_slack = package.config:sub(1, 1) == "\\" and 0.01 or 0

-- The result of three calls of fn(...) with the least delay, as NTP's clock filter takes it: a
-- busy test machine may hold one reply back, which shows as delay and half of it as offset.
-- With no result, the first call's message.
function check.least_delay(fn, ...)
    local best, message
    for _ = 1, 3 do
        local r, why = fn(...)
        if r and (not best or r.delay < best.delay) then best = r end
        message = message or why
    end
    return best, message
end

-- The closing line. A script that made no check, or a failed one, ends with an error.
function check.done()
    if failed > 0 then
        error(string.format("%d of %d checks failed", failed, count), 0)
    end
    if count == 0 then
        error("no checks were made", 0)
    end
    print(string.format("ok: %d checks passed", count))
end

return check
