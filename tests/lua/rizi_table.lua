-- Table Rizi as registration leaves it: exactly its functions and nothing else; the four
-- retrievals and zone functions each return exactly one value.
local check = require "check"

local expected = {
    GetTimezoneName = true,
    GetTimezoneBias = true,
    RetrieveNTPTime = true,
    RetrieveTSTime = true,
    QueryNTP = true,
    QueryNTPServers = true,
    Now = true,
    QueryHTTPS = true,
    Start = true,
    QueryNTS = true,
}

check.equal(type(Rizi), "table", "Rizi is a table")
check.equal(getmetatable(Rizi), nil, "Rizi has no metatable")
check.equal(#Rizi, 0, "Rizi has no array part")
local count = 0
for key, value in pairs(Rizi) do
    check.truthy(expected[key], "expected key " .. tostring(key))
    check.equal(type(value), "function", tostring(key) .. " is a function")
    count = count + 1
end
local expected_count = 0
for _ in pairs(expected) do expected_count = expected_count + 1 end
check.equal(count, expected_count, "entries in Rizi")

-- 255.255.255.255 is never usable: the retrievals give nil at once.
check.equal(select("#", Rizi.GetTimezoneName()), 1, "GetTimezoneName returns one value")
check.equal(select("#", Rizi.GetTimezoneBias()), 1, "GetTimezoneBias returns one value")
check.equal(select("#", Rizi.RetrieveNTPTime("255.255.255.255")), 1, "RetrieveNTPTime returns one value")
check.equal(select("#", Rizi.RetrieveTSTime("255.255.255.255")), 1, "RetrieveTSTime returns one value")
check.done()
