-- tz: UTC Europe/Berlin America/New_York Asia/Kolkata Asia/Tokyo
-- The zone functions follow the process's zone: the offset in force as the C library sees
-- it, in hours east of UTC (negative zero for UTC), and the zone's standard name.
local check = require "check"
local dates = require "dates"

-- Standard names: the POSIX abbreviation, or the Windows zone name under wine.
local standard_names = {
    ["UTC"] = { "UTC", "Greenwich Standard Time", "Coordinated Universal Time" },
    ["Europe/Berlin"] = { "CET", "Central Europe Standard Time", "W. Europe Standard Time" },
    ["America/New_York"] = { "EST", "Eastern Standard Time" },
    ["Asia/Kolkata"] = { "IST", "India Standard Time" },
    ["Asia/Tokyo"] = { "JST", "Tokyo Standard Time" },
}

local zone = os.getenv("TZ")
local offset_s = dates.local_offset(os.time())
local bias = Rizi.GetTimezoneBias()
if offset_s == 0 then
    local zero = 0
    check.equal(bias, -zero, "bias of a zone at UTC is negative zero")
else
    check.equal(bias, offset_s / 3600, "bias is the offset in force, in hours")
end

local name = Rizi.GetTimezoneName()
check.truthy(#name > 0 and #name <= 32, "name of 1 to 32 bytes: " .. name)
check.truthy(not name:find("\0", 1, true), "name without zero bytes")
local expected = standard_names[zone]
if expected then
    local known = false
    for _, candidate in ipairs(expected) do
        known = known or candidate == name
    end
    check.truthy(known, "standard name for " .. zone .. " is one of " ..
        table.concat(expected, ", ") .. "; got " .. name)
end

check.done()
