-- Asks a time server for the time twice, over SNTP (UDP 123) and over the RFC 868 Time
-- Protocol (TCP 37), prints both answers and how far this machine's clock is from the server;
-- then measures that to the microsecond with an NTPv4 exchange (Rizi.QueryNTP).
--
--   rizi-host run examples/clock.lua SERVER [TIMEOUT_MS]
--
-- SERVER is a host name or a dotted address; TIMEOUT_MS (default 1000) bounds each request.

local server = arg and arg[1]
local timeout_ms = tonumber(arg and arg[2]) or 1000
if not server then
    io.stderr:write("usage: rizi-host run clock.lua SERVER [TIMEOUT_MS]\n")
    os.exit(2)
end

-- Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
local function days_from_civil(year, month, day)
    if month <= 2 then
        year = year - 1
    end
    local era = math.floor(year / 400)
    local yoe = year - era * 400
    local mp = (month + 9) % 12
    local doy = math.floor((153 * mp + 2) / 5) + day - 1
    local doe = yoe * 365 + math.floor(yoe / 4) - math.floor(yoe / 100) + doy
    return era * 146097 + doe - 719468
end

-- Seconds since 1970 of a date sub-table read as UTC (os.time would read it as local time).
local function seconds_of(date)
    return days_from_civil(date.year, date.month, date.day) * 86400
        + date.hour * 3600 + date.min * 60 + date.sec
end

local weekdays = { [0] = "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" }

local function format_date(date)
    return string.format("%04d-%02d-%02d %02d:%02d:%02d %s (day %d of the year)",
        date.year, date.month, date.day, date.hour, date.min, date.sec,
        weekdays[date.wday] or "?", date.yday)
end

-- Hours east of UTC as "UTC+05:30"; the number as the plug-in gave it in parentheses.
local function format_bias(hours)
    local sign = hours < 0 and "-" or "+"
    local minutes = math.floor(math.abs(hours) * 60 + 0.5)
    return string.format("UTC%s%02d:%02d (%s)", sign, math.floor(minutes / 60), minutes % 60,
        tostring(hours))
end

-- Prints one retrieval; returns the server's time in seconds since 1970, or nil.
local function show(title, result)
    print(title)
    if result == nil then
        print("  no answer (nil): the server did not reply in time, or is unreachable")
        return nil
    end
    print("  unbiased (UTC):   " .. format_date(result.unbiased))
    print("  biased (local):   " .. format_date(result.biased))
    print("  zone:             " .. string.format("%q", result.timezoneName) .. ", "
        .. format_bias(result.timezoneBias))
    return seconds_of(result.unbiased)
end

local function show_offset(protocol, server_seconds, local_seconds)
    if server_seconds == nil then
        return
    end
    -- Both readings are whole seconds (the server's rounded, os.time truncated), so a
    -- difference of one second is within their resolution.
    local difference = local_seconds - server_seconds
    local how
    if math.abs(difference) <= 1 then
        how = "agrees with the server within a second"
    elseif difference > 0 then
        how = string.format("is %d s ahead of the server", difference)
    else
        how = string.format("is %d s behind the server", -difference)
    end
    print(string.format("  this machine's clock %s (%s)", how, protocol))
end

print(string.format("Time from %s (timeout %d ms)", server, timeout_ms))
print(string.format("Local zone: %q, %s", Rizi.GetTimezoneName(),
    format_bias(Rizi.GetTimezoneBias())))
print()

-- os.time() right after each answer: the request itself takes well under a second.
local ntp = Rizi.RetrieveNTPTime(server, timeout_ms)
local after_ntp = os.time()
local ntp_seconds = show("SNTP (UDP port 123):", ntp)
show_offset("SNTP", ntp_seconds, after_ntp)
print()

local ts = Rizi.RetrieveTSTime(server, timeout_ms)
local after_ts = os.time()
local ts_seconds = show("Time Protocol, RFC 868 (TCP port 37):", ts)
show_offset("RFC 868", ts_seconds, after_ts)

print()

local measured, why = Rizi.QueryNTP(server, timeout_ms)
print("NTPv4 measurement (UDP port 123):")
if measured then
    print(string.format("  offset %+.6f s, delay %.6f s, stratum %d, from %s",
        measured.offset, measured.delay, measured.stratum, measured.address))
    print(string.format("  this machine's clock is %.3f ms %s the server", math.abs(measured.offset)
        * 1000, measured.offset > 0 and "behind" or "ahead of"))
else
    print("  " .. why)
end

if ntp == nil and ts == nil and measured == nil then
    os.exit(1)
end
