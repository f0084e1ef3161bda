-- The plug-in's host interface as rizi-host's scripts see it: identity texts, the action
-- document, and help that is not there. Runs the same under every build, Windows ones too.
-- through: host
local check = require "check"

local info = check.truthy(host.Info(), "identity exports answer") and host.Info() or {}
check.equal(info.name, "Rizi", "plug-in name")
check.equal(info.version, "1.0.0.0", "plug-in version")
check.equal(info.luaVersion, "Lua 5.1", "Lua version")
check.equal(info.sdkVersion, 2, "SDK version")

local author = info.author or ""
local lines = {}
for line in (author .. "\r\n"):gmatch("(.-)\r\n") do
    lines[#lines + 1] = line
end
check.equal(#lines, 4, "author text has four lines")
check.equal(lines[1], "Vadorov Rizi", "author line 1")
check.equal(lines[2], "Created by Vadorov Vuvaroreriv", "author line 2")
check.truthy((lines[4] or ""):find("\169", 1, true), "rights notice carries the byte 0xA9")
check.equal(select(2, author:gsub("\r\n", "")), 3, "three CR LF pairs")
check.truthy(not author:find("\r\n$"), "no line break after the last line")

local doc = host.Actions() or ""
check.equal(#doc, 14374, "document length")
check.equal(doc:sub(1, 17), "<ActionTemplates>", "document starts with the root")
check.equal(doc:sub(-18), "</ActionTemplates>", "document ends with the root, no line end")
check.equal(select(2, doc:gsub("\r\n", "")), 342, "343 lines joined by CR LF")
check.truthy(not doc:find("[^\r]\n"), "no bare line feeds")
local names = {}
for name in doc:gmatch("<Name>(Rizi%.[%a]+)</Name>") do
    names[#names + 1] = name
end
check.equal(table.concat(names, " "),
    "Rizi.GetTimezoneName Rizi.GetTimezoneBias Rizi.RetrieveNTPTime Rizi.RetrieveTSTime"
        .. " Rizi.QueryNTP Rizi.QueryNTPServers Rizi.Now Rizi.QueryHTTPS Rizi.Start Rizi.QueryNTS",
    "the actions in order")
check.equal(host.Actions(), doc, "a second call gives the same document")

-- No help file in a folder that does not exist: 0, and nothing started.
local missing = "/nonexistent-rizi-help-folder"
check.equal(host.ShowHelp(missing), 0, "plug-in help without a help file")
check.equal(host.ShowHelp(missing, "Rizi.RetrieveNTPTime"), 0, "action help without a help file")
check.done()
