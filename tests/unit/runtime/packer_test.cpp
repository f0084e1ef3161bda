// The packer registry and the pack handle list. Each test works on an empty registry and
// puts the module's back afterwards.
#include "runtime/packer.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

class PackerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = runtime::packer_registry;
        runtime::packer_registry = runtime::PackerRegistry{};
    }
    void TearDown() override { runtime::packer_registry = saved_; }

  private:
    runtime::PackerRegistry saved_{};
};

// A packer whose UnpackOp records its arguments and answers with a chosen value.
struct Recorded {
    const void* source;
    std::int32_t source_length;
    void* destination;
    std::int32_t destination_length;
};
Recorded recorded{};
std::vector<void*> closed;

std::int32_t RecordingUnpack(const void* source, std::int32_t source_length, void* destination,
                             std::int32_t destination_length) {
    recorded = Recorded{source, source_length, destination, destination_length};
    return -7;
}
void RecordingClose(void* data) {
    closed.push_back(data);
}

runtime::PackerOps RecordingOps() {
    runtime::PackerOps ops{};
    ops.close_op = RecordingClose;
    ops.unpack_op = RecordingUnpack;
    return ops;
}

const std::uint8_t AbcStream[] = {0x4A, 0x43, 0x09, 0x00, 0x00, 0x00, 0xE3, 0xEC, 0xEC,
                                  0xE0, 0x56, 0x6C, 0xD8, 0x20, 0x00, 0x00, 0x03, 0x36};

using RegisterPacker = PackerTest;
using FindPacker = PackerTest;
using UnpackWithPacker = PackerTest;
using RegisterJcalg1Packer = PackerTest;

TEST_F(RegisterPacker, SameIdTwiceKeepsTheFirstEntry) {
    const runtime::PackerOps first{}, second{};
    EXPECT_TRUE(runtime::RegisterPacker(0x41424344u, &first));
    EXPECT_TRUE(runtime::RegisterPacker(0x41424344u, &second));
    EXPECT_EQ(runtime::packer_registry.count, 1);
    EXPECT_EQ(runtime::FindPacker(0x41424344u)->ops, &first);
}

TEST_F(RegisterPacker, FillsInOrderUpToSixtyFourEntries) {
    const runtime::PackerOps ops{};
    for (std::uint32_t id = 1; id <= 64; ++id)
        EXPECT_TRUE(runtime::RegisterPacker(id, &ops));
    EXPECT_FALSE(runtime::RegisterPacker(65, &ops));
    EXPECT_EQ(runtime::packer_registry.count, 64);
    for (std::int32_t i = 0; i < 64; ++i)
        EXPECT_EQ(runtime::packer_registry.entries[i].id, static_cast<std::uint32_t>(i + 1));
    EXPECT_EQ(runtime::FindPacker(65), nullptr);
}

TEST_F(FindPacker, AnyIdGivesTheFirstEntryOrNull) {
    EXPECT_EQ(runtime::FindPacker(runtime::AnyPackerId), nullptr);
    EXPECT_EQ(runtime::FindPacker(0), nullptr);
    const runtime::PackerOps ops{};
    runtime::RegisterPacker(7, &ops);
    runtime::RegisterPacker(8, &ops);
    EXPECT_EQ(runtime::FindPacker(runtime::AnyPackerId), &runtime::packer_registry.entries[0]);
    EXPECT_EQ(runtime::FindPacker(8), &runtime::packer_registry.entries[1]);
    EXPECT_EQ(runtime::FindPacker(9), nullptr);
}

TEST_F(UnpackWithPacker, PassesArgumentsAndResultThrough) {
    std::uint8_t out[4];
    EXPECT_EQ(runtime::UnpackWithPacker(AbcStream, 18, out, 4, 0x55u), 0); // no such packer
    const runtime::PackerOps ops = RecordingOps();
    runtime::RegisterPacker(0x55u, &ops);
    EXPECT_EQ(runtime::UnpackWithPacker(AbcStream, 18, out, 4, 0x55u), -7);
    EXPECT_EQ(recorded.source, AbcStream);
    EXPECT_EQ(recorded.source_length, 18);
    EXPECT_EQ(recorded.destination, out);
    EXPECT_EQ(recorded.destination_length, 4);
}

TEST_F(RegisterJcalg1Packer, RegistersOnceWithItsFifteenOperations) {
    EXPECT_EQ(runtime::RegisterJcalg1Packer(), 1);
    EXPECT_EQ(runtime::RegisterJcalg1Packer(), 1);
    ASSERT_EQ(runtime::packer_registry.count, 1);
    const runtime::PackerEntry* entry = runtime::FindPacker(runtime::Jcalg1PackerId);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->ops, &runtime::jcalg1_packer_ops);

    // The id lies in memory as "1lcj" (little-endian).
    char bytes[4];
    std::memcpy(bytes, &entry->id, 4);
    EXPECT_EQ(std::string(bytes, 4), "1lcj");

    const runtime::PackerOps& ops = *entry->ops;
    ops.close_op(nullptr);
    const std::int32_t results[] = {
        ops.op2(1, 2),     ops.op3(1, 2, 3),     ops.op4(1, 2, 3, 4), ops.op5(1, 2),
        ops.op6(1),        ops.op7(1, 2),        ops.op8(1),          ops.op9(1),
        ops.op11(1, 2, 3), ops.op12(1, 2, 3, 4), ops.op13(1, 2),      ops.op14(1, 2, 3, 4),
    };
    const std::int32_t expected[] = {0, 0, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1};
    EXPECT_TRUE(std::equal(std::begin(results), std::end(results), std::begin(expected)));
    EXPECT_STREQ(ops.op10(1, 2), "");

    std::uint8_t out[9];
    EXPECT_EQ(runtime::UnpackWithPacker(AbcStream, 18, out, 9, runtime::Jcalg1PackerId), 9);
    EXPECT_EQ(std::string(out, out + 9), "abcabcabc");
    // The lengths reach the decoder: a destination one byte short fails.
    EXPECT_EQ(runtime::UnpackWithPacker(AbcStream, 18, out, 8, runtime::Jcalg1PackerId), 0);
}

TEST(ReleasePackHandle, ClosesWithTheHandlesDataAndAllAtOnce) {
    EXPECT_EQ(runtime::AddPackHandle(nullptr, nullptr), -1); // no list yet
    ASSERT_TRUE(runtime::CreatePackHandleList());
    const runtime::PackerOps ops = RecordingOps();
    closed.clear();

    // More than the 16 slots the list starts with.
    int data[40];
    std::vector<std::int32_t> handles;
    for (int& d : data)
        handles.push_back(runtime::AddPackHandle(&ops, &d));
    for (std::int32_t h : handles)
        EXPECT_GE(h, 0);
    EXPECT_EQ(runtime::PackHandleCount(), 40);

    EXPECT_TRUE(runtime::ReleasePackHandle(handles[5]));
    EXPECT_EQ(closed, std::vector<void*>{&data[5]});
    EXPECT_FALSE(runtime::ReleasePackHandle(handles[5]));
    EXPECT_FALSE(runtime::ReleasePackHandle(1000));
    EXPECT_EQ(runtime::PackHandleCount(), 39);

    EXPECT_TRUE(runtime::ReleasePackHandle(runtime::AllPackHandles));
    EXPECT_EQ(closed.size(), 40u);
    EXPECT_EQ(runtime::PackHandleCount(), 0);

    // A freed slot is used again; destroying the list releases what is left.
    EXPECT_GE(runtime::AddPackHandle(&ops, &data[0]), 0);
    runtime::DestroyPackHandleList();
    EXPECT_EQ(closed.size(), 41u);
    EXPECT_EQ(runtime::AddPackHandle(&ops, &data[0]), -1);
}

} // namespace
