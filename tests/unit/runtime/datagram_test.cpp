// Which sender is the peer: the same address and port, an IPv4-mapped IPv6 address being its
// IPv4 form.
#include "runtime/datagram.h"

#include <gtest/gtest.h>

namespace {

TEST(SameEndpoint, AddressAndPortOfEitherFamily) {
    const platform::NetAddress v4{4, {192, 0, 2, 1}, 123, 0};
    const platform::NetAddress mapped{
        6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 0, 2, 1}, 123, 0};
    const platform::NetAddress v6{
        6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 123, 0};
    platform::NetAddress v6_other = v6;
    v6_other.bytes[15] = 2;
    platform::NetAddress v4_port = v4;
    v4_port.port = 124;
    const struct {
        const platform::NetAddress& a;
        const platform::NetAddress& b;
        bool same;
    } cases[] = {
        {v4, v4, true},        {v4, mapped, true},   {mapped, v4, true}, {v6, v6, true},
        {v6, v6_other, false}, {v4, v4_port, false}, {v4, v6, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(runtime::SameEndpoint(c.a, c.b), c.same) << &c - cases;
}

} // namespace
