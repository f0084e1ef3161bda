-- A trial period that setting the system clock cannot stretch. The first run's date is kept in
-- a file; each run takes the time from a public NTS server (Rizi.QueryNTS: authenticated, so no
-- one on the network can forge it), or where NTS is blocked from a web server's Date header
-- over HTTPS (Rizi.QueryHTTPS), and tells how many days of the trial are left. Without either
-- it says that it cannot check: it never falls back to this machine's clock.
--
--   rizi-host run examples/trial.lua FILE [DAYS]
--
-- FILE keeps the date of the first run, written by the first run that gets a time; DAYS is the
-- trial's length, default 30. The file is plain text, as suits an example: a real product keeps
-- it where the user cannot change it. Exits 0 during the trial, 1 once it has ended, 3 when no
-- time could be had, 2 on a usage or file error.

local file_name = arg and arg[1]
local trial_days = tonumber(arg and arg[2]) or 30
if not file_name then
    io.stderr:write("usage: rizi-host run trial.lua FILE [DAYS]\n")
    os.exit(2)
end
if not Rizi.QueryNTS then
    io.stderr:write("trial.lua: this plug-in has no Rizi.QueryNTS\n")
    os.exit(2)
end

-- NTS first: a key exchange over TCP 4460, then NTP over UDP 123. Web servers over TCP 443,
-- to about a second, where those ports are blocked. Both check the server's certificate.
local nts_servers = { "time.cloudflare.com", "nts.netnod.se" }
local web_servers = { "https://www.cloudflare.com/", "https://www.netnod.se/" }

-- The first answer, and where it came from; nil and every server's reason when none answered.
local function trusted_time()
    local reasons = {}
    for _, server in ipairs(nts_servers) do
        local t, err = Rizi.QueryNTS(server)
        if t then
            return t, "NTS server " .. server .. " (authenticated)"
        end
        reasons[#reasons + 1] = server .. ": " .. err
    end
    for _, url in ipairs(web_servers) do
        local t, err = Rizi.QueryHTTPS(url)
        if t then
            return t, url .. " (Date header over HTTPS)"
        end
        reasons[#reasons + 1] = url .. ": " .. err
    end
    return nil, table.concat(reasons, "\n  ")
end

local function utc(seconds)
    return os.date("!%Y-%m-%d %H:%M:%S UTC", math.floor(seconds))
end

-- The first run's time from the file: nil when there is no file yet.
local function read_first_run()
    local f = io.open(file_name, "r")
    if not f then
        return nil
    end
    local text = f:read("*a") or ""
    f:close()
    local seconds = tonumber(text:match("^first%-run (%d+)"))
    if not seconds then
        io.stderr:write("trial.lua: " .. file_name .. " holds no first run\n")
        os.exit(2)
    end
    return seconds
end

local t, from = trusted_time()
if not t then
    print("cannot check the time, so not the trial period either:\n  " .. from)
    os.exit(3)
end
-- The latest the time can be: an error in the measurement never lengthens the trial.
local now = t.time + t.rootDistance
print(string.format("time from %s: %s +/- %.3f s", from, utc(t.time), t.rootDistance))

local first_run = read_first_run()
if not first_run then
    first_run = math.floor(t.time)
    local f, err = io.open(file_name, "w")
    if not f then
        io.stderr:write("trial.lua: " .. err .. "\n")
        os.exit(2)
    end
    f:write("first-run " .. first_run .. "\n")
    f:close()
    print("first run: the trial starts now, noted in " .. file_name)
elseif first_run > now + 60 then
    print(file_name .. " says the trial began after now, at " .. utc(first_run)
        .. ": it has been changed")
    os.exit(1)
else
    print("first run: " .. utc(first_run))
end

local trial_end = first_run + trial_days * 86400
local left = trial_end - now
if left <= 0 then
    print(string.format("the %d-day trial ended at %s", trial_days, utc(trial_end)))
    os.exit(1)
end
print(string.format("%d of %d days of the trial left (it ends at %s)", math.ceil(left / 86400),
    trial_days, utc(trial_end)))
