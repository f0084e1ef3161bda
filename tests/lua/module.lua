-- The Lua module as `require "rizi"` leaves it: a table of the four functions, no global,
-- both retrievals against the real servers on loopback, and offsets shown as Lua 5.1 shows
-- them in every version (1 and 5.5, never 1.0).
-- through: module
-- labels: servers
-- tz: UTC Europe/Berlin Asia/Kolkata
local check = require "check"

local before = {}
for key in pairs(_G) do before[key] = true end

local rizi = require "rizi"

for key in pairs(_G) do
    check.truthy(before[key], "no new global " .. tostring(key))
end
check.equal(package.loaded.rizi, rizi, "package.loaded.rizi is the module's table")
check.equal(require "rizi", rizi, "a second require gives the same table")

local names = { "GetTimezoneName", "GetTimezoneBias", "RetrieveNTPTime", "RetrieveTSTime",
    "QueryNTP", "QueryNTPServers", "Now", "QueryHTTPS", "Start", "QueryNTS" }
check.equal(type(rizi), "table", "the module is a table")
check.equal(getmetatable(rizi), nil, "without a metatable")
local count = 0
for _ in pairs(rizi) do count = count + 1 end
check.equal(count, #names, "entries in the table")
for _, name in ipairs(names) do
    check.equal(type(rizi[name]), "function", name .. " is a function")
end

-- What Lua 5.1 prints for an offset: whole hours without a fraction, 0 as -0 (from 5.3 on,
-- where the module pushes whole hours as integers, as 0).
local function shown(hours)
    if hours == 0 then
        return math.type and "0" or "-0"
    elseif hours == math.floor(hours) then
        return string.format("%d", hours)
    end
    return string.format("%.1f", hours)
end

-- The zone comes from TZ; the offsets of zones without daylight saving time are fixed.
local fixed = { ["UTC"] = 0, ["Asia/Kolkata"] = 5.5 }
local zone = os.getenv("RIZI_TEST_TZ")
local hours = rizi.GetTimezoneBias()
check.equal(tostring(hours), shown(hours), "GetTimezoneBias as a script sees it")
if fixed[zone] then
    check.equal(tostring(hours), shown(fixed[zone]), "offset of " .. zone)
elseif zone == "Europe/Berlin" then
    check.truthy(hours == 1 or hours == 2, "offset of Berlin: " .. tostring(hours))
end

local seconds_of = check.seconds_of
for _, name in ipairs({ "RetrieveNTPTime", "RetrieveTSTime" }) do
    local result = rizi[name]("127.0.0.1", 1000)
    if check.equal(type(result), "table", name .. " gives a table") then
        check.equal(tostring(result.timezoneBias), tostring(hours), name .. ".timezoneBias")
        check.equal(result.timezoneName, rizi.GetTimezoneName(), name .. ".timezoneName")
        check.near(seconds_of(result.unbiased), seconds_of(os.date("!*t")), 2,
            name .. ".unbiased against this machine's UTC clock")
        check.near(seconds_of(result.biased) - seconds_of(result.unbiased), hours * 3600, 0,
            name .. ".biased is unbiased moved by the offset")
        if math.type then
            check.equal(math.type(result.unbiased.year), "integer", name .. " date fields")
        end
    end
end
check.done()
