// Seam fakes for the zone and the system clock's calendar fields: each installs itself in
// the platform table for its lifetime and restores the real one after.
#pragma once

#include "platform/system_time.h"
#include "platform/zone.h"
#include "tests/support/scoped_ops.h"

#include <cstdint>

namespace test_support {

// A zone record built from 8-bit names (each byte one code unit) or from UTF-16 ones.
platform::ZoneInfo MakeZoneInfo(std::int32_t bias, std::int32_t standard_bias,
                                std::int32_t daylight_bias, const char16_t* standard_name,
                                const char16_t* daylight_name = u"");

// Answers every zone read with one record and result code, and counts the reads.
class FakeZone {
  public:
    FakeZone(std::int32_t result, const platform::ZoneInfo& info);
    ~FakeZone();
    FakeZone(const FakeZone&) = delete;
    FakeZone& operator=(const FakeZone&) = delete;

    int Reads() const { return reads_; }

  private:
    static std::int32_t Read(platform::ZoneInfo* info);

    std::int32_t result_;
    platform::ZoneInfo info_;
    int reads_ = 0;
    ScopedOps<platform::ZoneOps> scope_;
};

// Answers the UTC and local clock readings with fixed fields.
class FakeSystemTime {
  public:
    FakeSystemTime(const platform::SystemTime& utc, const platform::SystemTime& local);
    ~FakeSystemTime();
    FakeSystemTime(const FakeSystemTime&) = delete;
    FakeSystemTime& operator=(const FakeSystemTime&) = delete;

  private:
    static void GetSystemTime(platform::SystemTime* out);
    static void GetLocalTime(platform::SystemTime* out);

    platform::SystemTime utc_;
    platform::SystemTime local_;
    ScopedOps<platform::SystemTimeOps> scope_;
};

} // namespace test_support
