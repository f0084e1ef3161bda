-- Starts three queries in the background with Rizi.Start, all at once, and prints each answer
-- as its query ends, while the script itself stays free: a host's window would go on
-- repainting meanwhile. The three: an NTPv4 measurement (Rizi.QueryNTP), the RFC 868 Time
-- Protocol (Rizi.RetrieveTSTime) and a verdict over several NTP servers
-- (Rizi.QueryNTPServers).
--
--   rizi-host run examples/background.lua [SERVER]
--
-- SERVER is a host name or an address. Without it the script asks the loopback servers that
-- scripts/servers.sh starts: chronyd (UDP 127.0.0.1:123), xinetd's time service (TCP
-- 127.0.0.1:37), and for the verdict five servers of the NTP lab (UDP 127.0.0.1:12301 and
-- up), one of which runs two minutes behind and one of which holds its answer 50 ms.

local server = arg and arg[1]
local servers
if server then
    servers = { server }
else
    server = "127.0.0.1"
    servers = { "127.0.0.1:12301", "127.0.0.1:12311", "127.0.0.1:12314", "127.0.0.1:12310",
        "127.0.0.1:12312" }
end

if not Rizi.Start then
    io.stderr:write("background.lua: this plug-in has no Rizi.Start\n")
    os.exit(1)
end

-- What each answer looks like on one or a few lines.
local function show_measurement(t)
    return string.format("offset %+.3f ms, delay %.3f ms, from %s", t.offset * 1000,
        t.delay * 1000, t.address)
end

local function show_date(t)
    local d = t.unbiased
    return string.format("%04d-%02d-%02d %02d:%02d:%02d UTC", d.year, d.month, d.day, d.hour,
        d.min, d.sec)
end

local function show_verdict(t)
    local lines = { string.format("offset %+.3f ms (+/- %.3f ms), %d of %d servers agree",
        t.offset * 1000, t.error * 1000, t.agree, t.answered) }
    for _, s in ipairs(t.sources) do
        lines[#lines + 1] = string.format("    %-18s %-10s %s", s.server, s.verdict,
            s.message or (s.offset and string.format("%+.3f ms", s.offset * 1000) or ""))
    end
    return table.concat(lines, "\n")
end

-- Every query starts at once; none of these calls waits for the network.
local queries = {
    { title = "Rizi.QueryNTP " .. server, show = show_measurement,
      q = { Rizi.Start(Rizi.QueryNTP, server, 1000) } },
    { title = "Rizi.RetrieveTSTime " .. server, show = show_date,
      q = { Rizi.Start(Rizi.RetrieveTSTime, server, 1000) } },
    { title = string.format("Rizi.QueryNTPServers, %d server(s)", #servers), show = show_verdict,
      q = { Rizi.Start(Rizi.QueryNTPServers, servers, 1000) } },
}

local running, answered = 0, 0
for _, query in ipairs(queries) do
    local q, err = query.q[1], query.q[2]
    query.q = q
    if q then
        running = running + 1
    else
        print(query.title .. ": not started: " .. err) -- "busy: ..." past 64 queries
    end
end
print(string.format("%d queries started", running))

-- Each round waits at most 10 ms for the first query still running and looks at the others
-- without waiting; a host would do the same from its timer and repaint in between.
local rounds, order = 0, 0
while running > 0 do
    rounds = rounds + 1
    local waited = false
    for _, query in ipairs(queries) do
        if query.q and not query.done then
            local t, err
            if waited then
                t, err = query.q:Result()
            else
                t, err = query.q:Wait(10)
                waited = true
            end
            if err ~= "pending" then
                query.done = true
                running = running - 1
                order = order + 1
                if t then
                    answered = answered + 1
                    print(string.format("%d. %s (round %d):\n    %s", order, query.title, rounds,
                        query.show(t)))
                else
                    -- The retrievals give a bare nil; the others nil and a message.
                    print(string.format("%d. %s (round %d): %s", order, query.title, rounds,
                        err or "no time (nil)"))
                end
            end
        end
    end
end
print(string.format("the script polled %d rounds of at most 10 ms while the queries ran",
    rounds))

if answered == 0 then
    os.exit(1)
end
