-- Table Rizi as registration leaves it: exactly its four functions, nothing else.
local expected = {
    GetTimezoneName = true,
    GetTimezoneBias = true,
    RetrieveNTPTime = true,
    RetrieveTSTime = true,
}

assert(type(Rizi) == "table", "Rizi is " .. type(Rizi))
assert(getmetatable(Rizi) == nil, "Rizi has a metatable")
assert(#Rizi == 0, "Rizi has an array part")
local count = 0
for key, value in pairs(Rizi) do
    assert(expected[key], "unexpected key " .. tostring(key))
    assert(type(value) == "function", key .. " is " .. type(value))
    count = count + 1
end
assert(count == 4, "Rizi has " .. count .. " entries")

-- Each function returns exactly one value.
assert(select("#", Rizi.GetTimezoneName()) == 1)
assert(select("#", Rizi.GetTimezoneBias()) == 1)
assert(select("#", Rizi.RetrieveNTPTime("255.255.255.255")) == 1)
assert(select("#", Rizi.RetrieveTSTime("255.255.255.255")) == 1)
print("ok")
