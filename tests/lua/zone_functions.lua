-- The zone functions against the zone this process runs in (TZ), compared with what the Lua
-- standard library reports for the same moment.
-- tz: UTC Europe/Berlin America/New_York Asia/Kolkata Asia/Tokyo

-- Days from 1970-01-01 to the given date (proleptic Gregorian).
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

-- Both the C library's and Windows' names of the standard time of each zone.
local standard_names = {
    ["UTC"] = { UTC = true, ["Greenwich Standard Time"] = true, ["Coordinated Universal Time"] = true },
    ["Europe/Berlin"] = { CET = true, ["W. Europe Standard Time"] = true, ["Central Europe Standard Time"] = true },
    ["America/New_York"] = { EST = true, ["Eastern Standard Time"] = true },
    ["Asia/Kolkata"] = { IST = true, ["India Standard Time"] = true },
    ["Asia/Tokyo"] = { JST = true, ["Tokyo Standard Time"] = true },
}
-- Zones without daylight saving time keep their offset all year.
local fixed_hours = { ["Asia/Kolkata"] = 5.5, ["Asia/Tokyo"] = 9 }

local tz = os.getenv("TZ")
local name = Rizi.GetTimezoneName("ignored", 1)
local hours = Rizi.GetTimezoneBias("ignored")
assert(type(name) == "string", "name is " .. type(name))
assert(type(hours) == "number", "bias is " .. type(hours))
assert(not name:find("%z"), "name holds a zero byte")
assert(#name <= 32, "name longer than 32 bytes")

local now = os.time()
local local_hours = (seconds_of(os.date("*t", now)) - seconds_of(os.date("!*t", now))) / 3600
assert(hours == local_hours, ("bias %s hours, local time is UTC%+g"):format(tostring(hours), local_hours))

if tz and standard_names[tz] then
    assert(standard_names[tz][name], ("TZ=%s gave the name %q"):format(tz, name))
end
if tz and fixed_hours[tz] then
    assert(hours == fixed_hours[tz], ("TZ=%s gave %s hours"):format(tz, tostring(hours)))
end
if tz == "UTC" then
    -- A bias of 0 comes out as negative zero.
    assert(1 / hours == -math.huge, "UTC gave " .. tostring(hours) .. ", not -0")
end
print(("ok: %s, %q, %s"):format(tostring(tz), name, tostring(hours)))
