-- Calendar helpers for the end-to-end scripts: dates read as UTC without os.time's
-- local-time reading, and the offset of local time in force.
local dates = {}

-- Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
function dates.days_from_civil(year, month, day)
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

-- Seconds since 1970 of a table with year, month, day, hour, min, sec read as UTC.
function dates.seconds_of(date)
    return dates.days_from_civil(date.year, date.month, date.day) * 86400
        + date.hour * 3600 + date.min * 60 + date.sec
end

-- Seconds east of UTC of local time at the given instant, as the C library sees it (TZ).
function dates.local_offset(now)
    return dates.seconds_of(os.date("*t", now)) - dates.seconds_of(os.date("!*t", now))
end

return dates
