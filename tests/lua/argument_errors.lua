-- How the retrievals treat their arguments: a numeric string is a valid timeout, no answer is
-- nil and not an error, and wrong arguments raise the standard Lua argument errors, naming
-- the function. Nobody listens on 127.0.0.213, so the retrievals there end with nil.
local check = require "check"

local silent = "127.0.0.213"

-- No answer is nil, not an error; a numeric string is a valid timeout.
local nothing = {
    { "RetrieveNTPTime", silent, 20 },
    { "RetrieveNTPTime", silent, "20" },
    { "RetrieveTSTime", silent, 20 },
    { "RetrieveTSTime", silent, "20" },
    -- Below the 32-bit range: the lowest timeout, one poll; wrapped it would be 24 days.
    { "RetrieveNTPTime", silent, -2 ^ 31 - 1 },
    { "RetrieveTSTime", silent, -2 ^ 31 - 1 },
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
