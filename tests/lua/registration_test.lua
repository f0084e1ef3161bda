-- What a script sees after the host registered the plug-in: table Rizi with exactly its four
-- functions, one result from each, and the standard Lua argument errors. Nobody listens on
-- 127.0.0.213, so the retrievals there end with nil.
local check = require "check"

local silent = "127.0.0.213"

check.equal(type(Rizi), "table", "global Rizi is a table")
local names = { "GetTimezoneName", "GetTimezoneBias", "RetrieveNTPTime", "RetrieveTSTime" }
for _, name in ipairs(names) do
    check.equal(type(Rizi[name]), "function", "Rizi." .. name .. " is a function")
end
local count = 0
for _ in pairs(Rizi) do
    count = count + 1
end
check.equal(count, #names, "Rizi holds nothing else")

-- Each function gives exactly one value; extra arguments are ignored.
local function count_results(...)
    return select("#", ...)
end
check.equal(count_results(Rizi.GetTimezoneName(1, 2)), 1, "GetTimezoneName: one result")
check.equal(type(Rizi.GetTimezoneName(1, 2)), "string", "GetTimezoneName: a string")
check.equal(count_results(Rizi.GetTimezoneBias("x")), 1, "GetTimezoneBias: one result")
check.equal(type(Rizi.GetTimezoneBias("x")), "number", "GetTimezoneBias: a number")
check.equal(count_results(Rizi.RetrieveNTPTime(silent, 20)), 1, "RetrieveNTPTime: one result")
check.equal(count_results(Rizi.RetrieveTSTime(silent, 20)), 1, "RetrieveTSTime: one result")

-- No answer is nil, not an error; a numeric string is a valid timeout.
local nothing = {
    { "RetrieveNTPTime", silent, 20 },
    { "RetrieveNTPTime", silent, "20" },
    { "RetrieveTSTime", silent, 20 },
    { "RetrieveTSTime", silent, "20" },
}
for _, case in ipairs(nothing) do
    local what = string.format("%s(%q, %q) without a server", case[1], case[2], tostring(case[3]))
    check.succeeds(function()
        local result = Rizi[case[1]](case[2], case[3])
        check.equal(result, nil, what .. " gives nil")
    end, what .. " raises nothing")
end

-- Argument errors are the auxiliary library's own. Each call is written out, and is no tail
-- call, so that Lua can name the function in the message.
local R = Rizi
local argument_errors = {
    { function() local r = R.RetrieveNTPTime() return r end,
        "bad argument #1 to 'RetrieveNTPTime' (string expected, got no value)" },
    { function() local r = R.RetrieveNTPTime({}) return r end,
        "bad argument #1 to 'RetrieveNTPTime' (string expected, got table)" },
    { function() local r = R.RetrieveNTPTime(silent, "soon") return r end,
        "bad argument #2 to 'RetrieveNTPTime' (number expected, got string)" },
    { function() local r = R.RetrieveNTPTime(silent, {}) return r end,
        "bad argument #2 to 'RetrieveNTPTime' (number expected, got table)" },
    { function() local r = R.RetrieveTSTime() return r end,
        "bad argument #1 to 'RetrieveTSTime' (string expected, got no value)" },
    { function() local r = R.RetrieveTSTime(true) return r end,
        "bad argument #1 to 'RetrieveTSTime' (string expected, got boolean)" },
    { function() local r = R.RetrieveTSTime(silent, "soon") return r end,
        "bad argument #2 to 'RetrieveTSTime' (number expected, got string)" },
}
for _, case in ipairs(argument_errors) do
    check.raises(case[1], case[2], case[2])
end

check.done()
