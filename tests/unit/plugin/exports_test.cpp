// The exports as a host sees them: the built plug-in file loaded by path (Linux), every
// export found under its undecorated name, the buffer protocol of each text export, and the
// help exports starting a stand-in viewer.
#include <gtest/gtest.h>

#if defined(RIZI_PLUGIN_PATH)

#include "platform/library.h"
#include "tests/support/test_system.h"

#include <climits>
#include <string>
#include <vector>

namespace {

using TextExport = std::int32_t (*)(char*, std::int32_t*);
using CountExport = std::int32_t (*)();
using HelpForPlugin = std::int32_t (*)(const char*);
using HelpForAction = std::int32_t (*)(const char*, const char*);

class Exports : public ::testing::Test {
  protected:
    void SetUp() override {
        library_ = platform::LoadLibraryFile(RIZI_PLUGIN_PATH);
        ASSERT_NE(library_, nullptr) << platform::LastLibraryError();
    }
    void TearDown() override { platform::FreeLibraryFile(library_); }

    template <typename F> F Find(const char* name) {
        return reinterpret_cast<F>(platform::FindLibrarySymbol(library_, name));
    }

    platform::LibraryHandle library_ = nullptr;
};

TEST_F(Exports, AllTenUnderTheirOwnNames) {
    for (const char* name : {"irPlg_GetSDKVersion", "irPlg_GetPluginName", "irPlg_GetPluginVersion",
                             "irPlg_GetAuthorInfo", "irPlg_GetLuaVersion", "irPlg_OnProjectBuild",
                             "irPlg_GetPluginActionXML", "irPlg_ShowHelpForPlugin",
                             "irPlg_ShowHelpForAction", "irPlg_Action_RegisterActions"})
        EXPECT_NE(platform::FindLibrarySymbol(library_, name), nullptr) << name;
    // Only the exports are visible: internal names stay hidden.
    EXPECT_EQ(platform::FindLibrarySymbol(library_, "_ZN6plugin7StartupEv"), nullptr);
}

TEST_F(Exports, TextExportsFollowTheBufferProtocol) {
    const struct {
        const char* name;
        std::int32_t length;
        const char* prefix;
    } texts[] = {{"irPlg_GetPluginName", 4, "Rizi"},
                 {"irPlg_GetPluginVersion", 7, "1.0.0.0"},
                 {"irPlg_GetLuaVersion", 7, "Lua 5.1"},
                 {"irPlg_GetAuthorInfo", -1, "Vadorov Rizi\r\n"},
                 {"irPlg_GetPluginActionXML", 14374, "<"}};
    for (const auto& t : texts) {
        SCOPED_TRACE(t.name);
        auto text = Find<TextExport>(t.name);
        ASSERT_NE(text, nullptr);
        std::int32_t needed = 0;
        EXPECT_EQ(text(nullptr, &needed), -1);
        if (t.length >= 0) {
            EXPECT_EQ(needed, t.length + 1);
        }
        const std::int32_t length = needed - 1;
        for (std::int32_t capacity : {length, 0, -1, INT_MIN}) {
            std::vector<char> buffer(static_cast<std::size_t>(needed) + 8, '#');
            std::int32_t size = capacity;
            EXPECT_EQ(text(buffer.data(), &size), -1) << capacity;
            EXPECT_EQ(size, needed) << capacity;
            EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(buffer.size(), '#'));
        }
        for (std::int32_t capacity : {needed, needed + 8}) {
            std::vector<char> buffer(static_cast<std::size_t>(needed) + 8, '#');
            std::int32_t size = capacity;
            EXPECT_EQ(text(buffer.data(), &size), length);
            EXPECT_EQ(size, capacity);
            EXPECT_EQ(std::string(buffer.data()).rfind(t.prefix, 0), 0u);
            EXPECT_EQ(buffer[static_cast<std::size_t>(length)], '\0');
            EXPECT_EQ(buffer[static_cast<std::size_t>(needed)], '#');
        }
        EXPECT_EQ(text(nullptr, nullptr), -1);
    }
}

TEST_F(Exports, VersionsAndProjectBuild) {
    auto sdk = Find<CountExport>("irPlg_GetSDKVersion");
    auto build = Find<CountExport>("irPlg_OnProjectBuild");
    ASSERT_NE(sdk, nullptr);
    ASSERT_NE(build, nullptr);
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(sdk(), 2);
        EXPECT_EQ(build(), 1);
    }
}

TEST_F(Exports, HelpExportsStartTheViewer) {
    test_support::StandInViewer viewer;
    test_support::TempFolder help;
    ASSERT_TRUE(test_support::WriteFile(help.Path() + "/Rizi.chm", "ITSF", false));
    // The action name comes first, the folder second.
    auto for_action = Find<HelpForAction>("irPlg_ShowHelpForAction");
    ASSERT_NE(for_action, nullptr);
    EXPECT_EQ(for_action("Rizi.GetTimezoneName", help.Path().c_str()), 1);
    EXPECT_EQ(viewer.Record(),
              (std::vector<std::string>{help.Path(),
                                        help.Path() + "\\Rizi.chm::rizi_gettimezonename.htm"}));

    auto for_plugin = Find<HelpForPlugin>("irPlg_ShowHelpForPlugin");
    ASSERT_NE(for_plugin, nullptr);
    test_support::TempFolder empty;
    EXPECT_EQ(for_plugin(empty.Path().c_str()), 0);
}

} // namespace

#endif
