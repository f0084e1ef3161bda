// Start-up and teardown: what each leaves behind, in-process; per-thread text across many
// threads; and (on Linux) the built plug-in file loaded and unloaded many times like a host
// does, with every export called in between.
#include "plugin/identity.h"
#include "plugin/lifecycle.h"
#include "plugin/thread_text.h"
#include "runtime/heap.h"
#include "runtime/packer.h"
#include "tests/support/test_system.h"

#include <condition_variable>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(RIZI_PLUGIN_PATH)
#include "platform/library.h"
#include "timelib/lua_api.h"
#endif

namespace {

int closed_packs = 0;
void CountClose(void*) {
    ++closed_packs;
}

// Runs the module's start-up and teardown in this process; afterwards the heaps that the
// test main provides are put back for the tests that follow.
class LifecycleTest : public ::testing::Test {
  protected:
    void TearDown() override {
        runtime::CreateHeap(runtime::Heap::Module);
        runtime::CreateHeap(runtime::Heap::Memory);
        runtime::CreateHeap(runtime::Heap::String);
    }
};

using Startup = LifecycleTest;
TEST_F(Startup, LeavesEveryServiceReadyAndTeardownTakesItAway) {
    plugin::Startup();
    EXPECT_TRUE(runtime::HeapExists(runtime::Heap::Module));
    EXPECT_TRUE(runtime::HeapExists(runtime::Heap::Memory));
    EXPECT_TRUE(runtime::HeapExists(runtime::Heap::String));
    EXPECT_NE(runtime::FindPacker(runtime::Jcalg1PackerId), nullptr);
    EXPECT_EQ(plugin::identity.sdk_version, 2);
    EXPECT_STREQ(plugin::identity.plugin_name, "Rizi");
    EXPECT_STREQ(plugin::identity.plugin_version, "1.0.0.0");
    // The loading thread's text area exists from the start.
    EXPECT_EQ(plugin::LiveThreadTextAreas(), 1);
    {
        plugin::TemporaryText text;
        EXPECT_NE(text.Allocate(16), nullptr);
    }
    // A pack left open is closed by teardown.
    runtime::PackerOps ops{};
    ops.close_op = &CountClose;
    closed_packs = 0;
    EXPECT_GE(runtime::AddPackHandle(&ops, nullptr), 0);

    plugin::Teardown();
    EXPECT_EQ(closed_packs, 1);
    EXPECT_EQ(runtime::PackHandleCount(), 0);
    EXPECT_EQ(runtime::AddPackHandle(&ops, nullptr), -1);
    EXPECT_FALSE(runtime::HeapExists(runtime::Heap::Module));
    EXPECT_FALSE(runtime::HeapExists(runtime::Heap::Memory));
    EXPECT_FALSE(runtime::HeapExists(runtime::Heap::String));
    EXPECT_EQ(plugin::LiveThreadTextAreas(), 0);
    plugin::TemporaryText text;
    EXPECT_EQ(text.Allocate(16), nullptr);
}

TEST_F(Startup, RunningItAgainAddsNothing) {
    plugin::Startup();
    const std::int32_t packers = runtime::packer_registry.count;
    plugin::Teardown();
    plugin::Startup();
    plugin::Startup();
    EXPECT_EQ(runtime::packer_registry.count, packers);
    EXPECT_EQ(plugin::LiveThreadTextAreas(), 1);
    plugin::Teardown();
}

// Temporary text with the slot in place, as start-up leaves it.
class TemporaryText : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plugin::CreateThreadTextSlot()); }
    void TearDown() override { plugin::FreeThreadTextSlot(); }
};

TEST_F(TemporaryText, EachThreadHasItsOwnAreaReleasedWhenTheThreadEnds) {
    constexpr int Threads = 16;
    const std::int32_t before = plugin::LiveThreadTextAreas();
    for (int round = 0; round < 2; ++round) {
        std::mutex lock;
        std::condition_variable changed;
        int holding = 0;
        bool finish = false;
        std::vector<std::string> seen(Threads);
        std::vector<std::thread> threads;
        for (int i = 0; i < Threads; ++i) {
            threads.emplace_back([&, i] {
                const std::string mine = "thread " + std::to_string(i);
                plugin::TemporaryText text;
                // Larger than a chunk for odd threads, so areas grow while others are busy.
                char* big = text.Allocate(i % 2 == 1 ? 3000 : 10);
                char* copy = text.Copy(mine.c_str());
                std::unique_lock<std::mutex> guard(lock);
                ++holding;
                changed.notify_all();
                changed.wait(guard, [&] { return finish; });
                seen[static_cast<std::size_t>(i)] =
                    big != nullptr && copy != nullptr ? std::string(copy) : "";
            });
        }
        {
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [&] { return holding == Threads; });
            EXPECT_EQ(plugin::LiveThreadTextAreas(), before + Threads);
            finish = true;
            changed.notify_all();
        }
        for (std::thread& t : threads)
            t.join();
        // Joined threads have run their slot's release.
        EXPECT_EQ(plugin::LiveThreadTextAreas(), before);
        for (int i = 0; i < Threads; ++i)
            EXPECT_EQ(seen[static_cast<std::size_t>(i)], "thread " + std::to_string(i));
    }
}

TEST_F(TemporaryText, ThreadWithoutTextGetsNoArea) {
    const std::int32_t before = plugin::LiveThreadTextAreas();
    std::int32_t during = -1;
    std::thread([&] { during = plugin::LiveThreadTextAreas(); }).join();
    EXPECT_EQ(during, before);
}

TEST_F(TemporaryText, NestedScopesGiveBackOnlyTheirOwnText) {
    plugin::TemporaryText outer;
    char* kept = outer.Copy("kept");
    char* first_inner = nullptr;
    {
        plugin::TemporaryText inner;
        first_inner = inner.Allocate(100);
        ASSERT_NE(inner.Allocate(5000), nullptr); // a chunk of its own
        std::memset(first_inner, 'x', 100);
    }
    EXPECT_STREQ(kept, "kept");
    {
        // The same storage serves the next scope, zero-filled again.
        plugin::TemporaryText inner;
        char* again = inner.Allocate(100);
        EXPECT_EQ(again, first_inner);
        EXPECT_EQ(std::string(again, 100), std::string(100, '\0'));
    }
    EXPECT_EQ(outer.Allocate(0), nullptr);
    EXPECT_STREQ(outer.Copy(nullptr), "");
}

#if defined(RIZI_PLUGIN_PATH)

using TextExport = std::int32_t (*)(char*, std::int32_t*);

template <typename F> F Export(platform::LibraryHandle library, const char* name) {
    return reinterpret_cast<F>(platform::FindLibrarySymbol(library, name));
}

// One host session: load, optionally call every export, unload.
void LoadCallUnload(bool call_exports) {
    platform::LibraryHandle library = platform::LoadLibraryFile(RIZI_PLUGIN_PATH);
    ASSERT_NE(library, nullptr) << platform::LastLibraryError();
    if (call_exports) {
        for (const char* name :
             {"irPlg_GetPluginName", "irPlg_GetPluginVersion", "irPlg_GetAuthorInfo",
              "irPlg_GetLuaVersion", "irPlg_GetPluginActionXML"}) {
            auto text = Export<TextExport>(library, name);
            ASSERT_NE(text, nullptr) << name;
            std::int32_t size = 0;
            ASSERT_EQ(text(nullptr, &size), -1) << name;
            std::vector<char> buffer(static_cast<std::size_t>(size));
            EXPECT_EQ(text(buffer.data(), &size), size - 1) << name;
        }
        EXPECT_EQ(Export<std::int32_t (*)()>(library, "irPlg_GetSDKVersion")(), 2);
        EXPECT_EQ(Export<std::int32_t (*)()>(library, "irPlg_OnProjectBuild")(), 1);
        // A folder without help: nothing is started, so no process piles up either.
        EXPECT_EQ(Export<std::int32_t (*)(const char*)>(library, "irPlg_ShowHelpForPlugin")(
                      "/nonexistent-rizi-help"),
                  0);
        EXPECT_EQ(
            Export<std::int32_t (*)(const char*, const char*)>(library, "irPlg_ShowHelpForAction")(
                "Rizi.RetrieveNTPTime", "/nonexistent-rizi-help"),
            0);
        lua_State* L = luaL_newstate();
        EXPECT_EQ(Export<std::int32_t (*)(lua_State*)>(library, "irPlg_Action_RegisterActions")(L),
                  1);
        lua_getglobal(L, "Rizi"); // stack: Rizi
        EXPECT_TRUE(lua_istable(L, -1));
        // The table's functions live in the library: the state goes before the library does.
        lua_close(L);
    }
    platform::FreeLibraryFile(library);
}

TEST(ModuleLoad, ManyLoadsAndUnloadsLeaveNothingBehind) {
    // Warm-up: the loader and the C library keep some caches of their own.
    for (int i = 0; i < 5; ++i)
        LoadCallUnload(true);
    const int descriptors = test_support::OpenDescriptorCount();
    const std::size_t heap = test_support::HeapBytesInUse();
    for (int i = 0; i < 200; ++i) {
        // Sessions with every export called, and sessions with none at all.
        LoadCallUnload(i % 4 != 3);
        if (HasFatalFailure())
            return;
    }
    EXPECT_EQ(test_support::OpenDescriptorCount(), descriptors);
    EXPECT_LE(test_support::HeapBytesInUse(), heap + 64 * 1024);
}

TEST(ModuleLoad, UnloadReallyUnloads) {
    // Start-up runs on every load: the library's state starts afresh each time, which holds
    // only if unloading really unmapped it.
    platform::LibraryHandle first = platform::LoadLibraryFile(RIZI_PLUGIN_PATH);
    ASSERT_NE(first, nullptr);
    const void* address =
        reinterpret_cast<const void*>(platform::FindLibrarySymbol(first, "irPlg_GetSDKVersion"));
    platform::FreeLibraryFile(first);
    EXPECT_FALSE(test_support::IsMapped(address));
}

TEST(ModuleLoad, ThreadEndingAfterUnloadIsSafe) {
    // A host thread takes temporary text from the plug-in, the plug-in is unloaded, then the
    // thread ends: the release of its text must not call into the unmapped library.
    platform::LibraryHandle library = platform::LoadLibraryFile(RIZI_PLUGIN_PATH);
    ASSERT_NE(library, nullptr);
    auto help = reinterpret_cast<std::int32_t (*)(const char*, const char*)>(
        platform::FindLibrarySymbol(library, "irPlg_ShowHelpForAction"));
    ASSERT_NE(help, nullptr);
    std::mutex lock;
    std::condition_variable changed;
    bool asked = false;
    bool unloaded = false;
    std::thread host_thread([&] {
        help("Rizi.RetrieveNTPTime", "/nonexistent-rizi-help");
        std::unique_lock<std::mutex> guard(lock);
        asked = true;
        changed.notify_all();
        changed.wait(guard, [&] { return unloaded; });
    });
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return asked; });
    }
    platform::FreeLibraryFile(library);
    {
        std::lock_guard<std::mutex> guard(lock);
        unloaded = true;
        changed.notify_all();
    }
    host_thread.join();
}

#endif

} // namespace
