-- Smoke run of the real 32-bit files: rizi-host.exe (i686) has loaded Rizi.lmd with
-- lua5.1.dll and registered its actions. One line per check; an error at the end when any
-- failed, so the host exits non-zero.
-- Then the Lua module from the same zip, loaded into this process as a Lua user would.
-- Usage: rizi-host run smoke.lua [SERVER [MODULE_DIR [NTS_SERVER]]]
--   SERVER: the loopback time servers, 127.0.0.1; MODULE_DIR: the zip's lua folder, "lua";
--   NTS_SERVER: an NTS key-exchange server whose certificate this wine trusts, if any

local server = arg and arg[1] or "127.0.0.1"
local module_dir = arg and arg[2] or "lua"
local count, failed = 0, 0

local function check(ok, what, detail)
    count = count + 1
    if ok then
        print(string.format("ok %d - %s", count, what))
    else
        failed = failed + 1
        print(string.format("not ok %d - %s%s", count, what, detail and (": " .. detail) or ""))
    end
end

-- The identity exports and the action document, through rizi-host's table host.
local info = host.Info() or {}
check(info.name == "Rizi", "irPlg_GetPluginName: " .. tostring(info.name))
check(info.version == "1.0.0.0", "irPlg_GetPluginVersion: " .. tostring(info.version))
check(info.luaVersion == "Lua 5.1", "irPlg_GetLuaVersion: " .. tostring(info.luaVersion))
check(info.sdkVersion == 2, "irPlg_GetSDKVersion: " .. tostring(info.sdkVersion))
local author = info.author or ""
check(select(2, author:gsub("\r\n", "")) == 3 and author:find("\169", 1, true) ~= nil,
      "irPlg_GetAuthorInfo: four lines with the 0xA9 byte", string.format("%q", author))
local doc = host.Actions() or ""
check(#doc == 14374 and doc:sub(1, 17) == "<ActionTemplates>" and doc:sub(-18) == "</ActionTemplates>",
      "irPlg_GetPluginActionXML: the 14374-byte document", tostring(#doc) .. " bytes")
check(host.ShowHelp("C:\\nonexistent-rizi-help") == 0, "irPlg_ShowHelpForPlugin without a help file: 0")

-- Table Rizi: exactly its functions.
local names = { "GetTimezoneName", "GetTimezoneBias", "RetrieveNTPTime", "RetrieveTSTime",
                "QueryNTP", "QueryNTPServers", "Now", "QueryHTTPS", "Start", "QueryNTS" }
check(type(Rizi) == "table", "global Rizi is a table", type(Rizi))
if type(Rizi) ~= "table" then
    error(string.format("%d of %d checks failed", failed, count))
end
local entries = 0
for _ in pairs(Rizi) do
    entries = entries + 1
end
check(entries == #names, "Rizi has " .. #names .. " entries", tostring(entries))
for _, name in ipairs(names) do
    check(type(Rizi[name]) == "function", "Rizi." .. name .. " is a function", type(Rizi[name]))
end

-- Zone functions: one string and one number of hours within the range zones use.
local zone_name = Rizi.GetTimezoneName()
check(type(zone_name) == "string", "GetTimezoneName gives a string: " .. tostring(zone_name))
local bias = Rizi.GetTimezoneBias()
check(type(bias) == "number" and bias >= -12 and bias <= 14,
      "GetTimezoneBias gives hours east of UTC: " .. tostring(bias))

-- One retrieval by each protocol from the real loopback servers, compared with this
-- process's own UTC clock (the servers serve the same machine's clock).
local function fields_ok(date)
    if type(date) ~= "table" then
        return false
    end
    for _, key in ipairs({ "year", "month", "day", "hour", "min", "sec", "wday", "yday" }) do
        if type(date[key]) ~= "number" then
            return false
        end
    end
    return true
end

local function retrieval(label, result)
    check(type(result) == "table", label .. " returns a table", type(result))
    if type(result) ~= "table" then
        return
    end
    check(fields_ok(result.unbiased) and fields_ok(result.biased),
          label .. " has both date tables")
    check(result.timezoneName == zone_name and result.timezoneBias == bias,
          label .. " carries the zone name and bias")
    local u = result.unbiased or {}
    local server_time = os.time({ year = u.year, month = u.month, day = u.day, hour = u.hour,
                                  min = u.min, sec = u.sec, isdst = false })
    local own_time = os.time(os.date("!*t"))
    local off = server_time and os.difftime(server_time, own_time)
    check(off and math.abs(off) <= 120, label .. " agrees with the local UTC clock",
          "off by " .. tostring(off) .. " s")
    print(string.format("   %s: %04d-%02d-%02d %02d:%02d:%02d UTC", label, u.year or 0,
                        u.month or 0, u.day or 0, u.hour or 0, u.min or 0, u.sec or 0))
end

retrieval("RetrieveNTPTime", Rizi.RetrieveNTPTime(server, 2000))
retrieval("RetrieveTSTime", Rizi.RetrieveTSTime(server, 2000))

-- The measurement through the 32-bit Winsock 2 calls: chronyd shares this machine's clock.
local measured, why = Rizi.QueryNTP(server, 2000)
check(type(measured) == "table", "QueryNTP returns a table", tostring(why))
if type(measured) == "table" then
    retrieval("QueryNTP", measured)
    check(math.abs(measured.offset) < 0.5 and measured.delay < 0.5,
          "QueryNTP measures offset and delay", measured.offset .. " s, " .. measured.delay .. " s")
end
local kiss, kiss_why = Rizi.QueryNTP("127.0.0.1:12304", 2000)
check(kiss == nil and kiss_why == "kiss RATE", "QueryNTP hears a kiss-o'-death", tostring(kiss_why))

-- Network Time Security through the 32-bit TLS library: a key-exchange port that nothing
-- serves here fails as a refused connection, never a crash. An NTS server given as the third
-- argument (its certificate trusted) is measured.
local nts_server = arg and arg[3]
local nts, nts_why = Rizi.QueryNTS(nts_server or "127.0.0.1:4467", 2000)
if nts_server then
    check(type(nts) == "table" and nts.authenticated == true and math.abs(nts.offset) < 0.5,
          "QueryNTS measures with an authenticated reply", tostring(nts_why))
else
    check(nts == nil and tostring(nts_why):match("^network") ~= nil,
          "QueryNTS without a key-exchange server gives nil and network", tostring(nts_why))
end

-- A query in the background: a thread of its own, which keeps the 32-bit plug-in loaded.
local started = Rizi.Start(Rizi.QueryNTP, server, 2000)
local background, background_why = started and started:Wait()
check(type(background) == "table" and math.abs(background.offset) < 0.5,
      "Rizi.Start measures in the background", tostring(background_why))
local cancelled = Rizi.Start(Rizi.QueryNTP, "127.0.0.1:12308", 5000)
cancelled:Cancel()
check(select(2, cancelled:Result()) == "cancelled", "a background query is cancelled")

-- Failures are nil, never errors.
check(Rizi.RetrieveTSTime("127.0.0.1:", 5) == nil, "an unresolvable name gives nil")
-- A timeout below the 32-bit range is the lowest one (a single poll), not its wrapped value
-- of about 24 days.
check(Rizi.RetrieveNTPTime("127.0.0.213", -2 ^ 31 - 1) == nil, "a timeout of -2^31 - 1 gives nil")

-- The module lua/rizi.dll: its folder on the C path, then require, as README.txt tells. It
-- takes the Lua API from the lua5.1.dll already loaded and starts its own socket layer.
package.cpath = module_dir .. "/?.dll"
local loaded, rizi = pcall(require, "rizi")
check(loaded and type(rizi) == "table", "require \"rizi\" loads " .. module_dir .. "/rizi.dll",
      tostring(rizi))
if loaded and type(rizi) == "table" then
    check(rizi.GetTimezoneBias() == bias, "the module's GetTimezoneBias agrees with Rizi's")
    retrieval("rizi.RetrieveNTPTime", rizi.RetrieveNTPTime(server, 2000))
end

print(string.format("smoke: %d checks, %d failed", count, failed))
if failed > 0 then
    error(string.format("%d of %d checks failed", failed, count))
end
