-- The zone functions against the zone this process runs in (TZ), compared with what the Lua
-- standard library reports for the same moment.
-- tz: UTC Europe/Berlin America/New_York Asia/Kolkata Asia/Tokyo Australia/Sydney
local check = require "check"

local seconds_of = check.seconds_of

-- The standard time's name from the C library and from Windows.
local standard_names = {
    ["UTC"] = { UTC = true, ["Greenwich Standard Time"] = true, ["Coordinated Universal Time"] = true },
    ["Europe/Berlin"] = { CET = true, ["W. Europe Standard Time"] = true, ["Central Europe Standard Time"] = true },
    ["America/New_York"] = { EST = true, ["Eastern Standard Time"] = true },
    ["Asia/Kolkata"] = { IST = true, ["India Standard Time"] = true },
    ["Asia/Tokyo"] = { JST = true, ["Tokyo Standard Time"] = true },
    ["Australia/Sydney"] = { AEST = true, ["AUS Eastern Standard Time"] = true },
}
-- Zones without daylight saving time keep their offset all year. UTC's is -0 in Lua 5.1,
-- whose numbers are all doubles; the 5.4 module gives whole offsets as integers, so 0 there.
-- (No constant 0 before this line: 5.1 would merge -0.0 into it.)
local utc_hours = -0.0
if math.tointeger then
    utc_hours = math.tointeger(utc_hours)
end
local fixed_hours = { ["UTC"] = utc_hours, ["Asia/Kolkata"] = 5.5, ["Asia/Tokyo"] = 9 }

-- wine keeps TZ from the Windows environment; the zone then shows in the name it gives.
local function zone_named(name)
    for zone, names in pairs(standard_names) do
        if names[name] then return zone end
    end
end

local tz = os.getenv("TZ")
local name = Rizi.GetTimezoneName("arguments", "are", "ignored")
local hours = Rizi.GetTimezoneBias("ignored")
check.equal(type(name), "string", "GetTimezoneName gives a string")
check.equal(type(hours), "number", "GetTimezoneBias gives a number")
check.truthy(not name:find("%z") and #name <= 32, "at most 32 bytes, no zero byte: " .. name)

-- In daylight time too, the bias is the offset in force and the name the standard one.
local now = os.time()
local local_hours = (seconds_of(os.date("*t", now)) - seconds_of(os.date("!*t", now))) / 3600
check.near(hours, local_hours, 0, "hours east of UTC, as os.date sees them")
print(("zone: TZ=%s, name %q, %s hours"):format(tostring(tz), name, tostring(hours)))
tz = tz or zone_named(name)
if tz and standard_names[tz] then
    check.truthy(standard_names[tz][name], "standard name in " .. tz .. ": " .. name)
end
if tz and fixed_hours[tz] then
    -- UTC: a bias of 0 comes out as negative zero.
    check.equal(hours, fixed_hours[tz], "fixed offset of " .. tz)
end
check.done()
