-- Run with this process's wall clock a day ahead (libfaketime, FAKETIME="+1d"; the monotonic
-- clocks untouched) against chronyd on 127.0.0.1:123, which serves the true time: the
-- measurement sees the day, and Rizi.Now keeps the true time however wrong the clock is.
local check = require "check"

check.equal(select(2, Rizi.Now()), "unsynchronised", "Now before any measurement")
local t, message = Rizi.QueryNTP("127.0.0.1", 2000)
if check.truthy(t, "chronyd answers: " .. tostring(message)) then
    check.near(t.offset, -86400, 0.01, "the offset is the day the clock is ahead")
    check.near(t.time, os.time() - 86400, 2, "time is the true time")
    -- Now, then a fresh measurement: the two agree within 5 ms.
    local now = Rizi.Now()
    local again = Rizi.QueryNTP("127.0.0.1", 2000)
    check.near(now, again.time - again.delay, 0.005, "Now is the true time")
end
check.done()
