#include "tests/support/fake_time_zone.h"

namespace test_support {
namespace {

FakeZone* active_zone = nullptr;
FakeSystemTime* active_time = nullptr;

void CopyName(const char16_t* name, char16_t* out) {
    for (int i = 0; i < platform::ZoneNameUnits && name[i] != 0; ++i) {
        out[i] = name[i];
    }
}

} // namespace

platform::ZoneInfo MakeZoneInfo(std::int32_t bias, std::int32_t standard_bias,
                                std::int32_t daylight_bias, const char16_t* standard_name,
                                const char16_t* daylight_name) {
    platform::ZoneInfo info{};
    info.bias = bias;
    info.standard_bias = standard_bias;
    info.daylight_bias = daylight_bias;
    CopyName(standard_name, info.standard_name);
    CopyName(daylight_name, info.daylight_name);
    return info;
}

FakeZone::FakeZone(std::int32_t result, const platform::ZoneInfo& info)
    : result_(result), info_(info), scope_(platform::zone_ops, platform::ZoneOps{Read}) {
    active_zone = this;
}

FakeZone::~FakeZone() {
    active_zone = nullptr;
}

std::int32_t FakeZone::Read(platform::ZoneInfo* info) {
    ++active_zone->reads_;
    *info = active_zone->info_;
    return active_zone->result_;
}

FakeSystemTime::FakeSystemTime(const platform::SystemTime& utc, const platform::SystemTime& local)
    : utc_(utc), local_(local),
      scope_(platform::system_time_ops, platform::SystemTimeOps{GetSystemTime, GetLocalTime}) {
    active_time = this;
}

FakeSystemTime::~FakeSystemTime() {
    active_time = nullptr;
}

void FakeSystemTime::GetSystemTime(platform::SystemTime* out) {
    *out = active_time->utc_;
}

void FakeSystemTime::GetLocalTime(platform::SystemTime* out) {
    *out = active_time->local_;
}

} // namespace test_support
