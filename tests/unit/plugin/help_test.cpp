// Help display: the texts it builds, the file probe's rules over a fake file system, the
// launch over a fake launcher, and (on POSIX) the real launch of a stand-in viewer "hh.exe"
// that records its arguments and working folder.
#include "plugin/help.h"
#include "plugin/thread_text.h"
#include "tests/support/fake_launcher.h"
#include "tests/support/scoped_ops.h"
#include "tests/support/test_system.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using test_support::FakeFiles;
using test_support::FakeLauncher;

// Help needs the thread's text slot, which start-up creates.
class HelpTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plugin::CreateThreadTextSlot()); }
    void TearDown() override { plugin::FreeThreadTextSlot(); }
};

std::string Text(const char* text) {
    return text != nullptr ? text : "<null>";
}

platform::FileEntry File(std::uint32_t high, std::uint32_t low) {
    return {0x20, high, low};
}
platform::FileEntry Folder() {
    return {platform::FileAttributeDirectory, 0, 0};
}

using BuildHelpPath = HelpTest;
TEST_F(BuildHelpPath, OneBackslashWhateverTheFolderEndsWith) {
    const struct {
        const char* folder;
        const char* path;
    } cases[] = {{"C:\\Help", "C:\\Help\\Rizi.chm"},
                 {"C:\\Help\\", "C:\\Help\\\\Rizi.chm"},
                 {"C:\\My Help", "C:\\My Help\\Rizi.chm"},
                 {"", "\\Rizi.chm"},
                 {nullptr, "\\Rizi.chm"}};
    for (const auto& c : cases) {
        plugin::TemporaryText text;
        EXPECT_EQ(Text(plugin::BuildHelpPath(text, c.folder)), c.path) << Text(c.folder);
    }
}

using HelpPageName = HelpTest;
TEST_F(HelpPageName, LowerCasedWithEveryDotReplaced) {
    const struct {
        const char* action;
        const char* page;
    } cases[] = {{"Rizi.RetrieveNTPTime", "rizi_retrieventptime"},
                 {"Rizi.RetrieveTSTime", "rizi_retrievetstime"},
                 {"Rizi.GetTimezoneName", "rizi_gettimezonename"},
                 {"Rizi.GetTimezoneBias", "rizi_gettimezonebias"},
                 {"A.B.C", "a_b_c"},
                 {"..X..", "__x__"},
                 {"", ""},
                 {nullptr, ""}};
    for (const auto& c : cases) {
        plugin::TemporaryText text;
        EXPECT_EQ(Text(plugin::HelpPageName(text, c.action)), c.page) << Text(c.action);
    }
}

using FolderPart = HelpTest;
TEST_F(FolderPart, UpToTheLastSeparatorBeforeAnyBar) {
    const struct {
        const char* path;
        const char* folder;
    } cases[] = {{"C:\\Help\\Rizi.chm", "C:\\Help\\"},
                 {"C:\\Help\\\\Rizi.chm", "C:\\Help\\\\"},
                 {"\\Rizi.chm", "\\"},
                 {"\"C:\\Help\\Rizi.chm\"", "C:\\Help\\"},
                 {"a/b\\c/d", "a/b\\c/"},
                 {"C:\\x\\y|C:\\z\\w", "C:\\x\\"},
                 {"name|a\\b", ""},
                 {"Rizi.chm", ""},
                 {"", ""},
                 {nullptr, ""}};
    for (const auto& c : cases) {
        plugin::TemporaryText text;
        EXPECT_EQ(Text(plugin::FolderPart(text, c.path)), c.folder) << Text(c.path);
    }
}

TEST(QueryFileSize, ProbesInTheDocumentedOrder) {
    const std::string network = "\\\\server\\share\\help";
    const struct {
        const char* name;
        std::string path;
        std::vector<std::pair<std::string, platform::FileEntry>> entries;
        std::vector<std::pair<std::string, std::uint32_t>> attributes;
        std::vector<std::pair<std::string, std::uint32_t>> drives;
        std::int64_t size;
        std::vector<std::string> probes;
    } cases[] = {
        {"empty path", "", {}, {}, {}, -1, {}},
        {"file with both halves",
         "C:\\Help\\Rizi.chm",
         {{"C:\\Help\\Rizi.chm", File(1, 5)}},
         {},
         {},
         4294967301LL,
         {"find C:\\Help\\Rizi.chm"}},
        {"empty file", "a.chm", {{"a.chm", File(0, 0)}}, {}, {}, 0, {"find a.chm"}},
        {"folder",
         "C:\\Help\\Rizi.chm",
         {{"C:\\Help\\Rizi.chm", Folder()}},
         {},
         {},
         -2,
         {"find C:\\Help\\Rizi.chm"}},
        {"trailing backslashes go",
         "C:\\Help\\\\\\",
         {{"C:\\Help", Folder()}},
         {},
         {},
         -2,
         {"find C:\\Help"}},
        {"only backslashes", "\\\\\\", {}, {}, {}, -1, {}},
        {"drive without backslash", "C:", {}, {}, {{"C:\\", 3}}, -2, {"drive C:\\"}},
        {"drive root", "D:\\", {}, {}, {{"D:\\", 2}}, -2, {"drive D:\\"}},
        {"no such root", "E:\\", {}, {}, {{"E:\\", 1}}, -1, {"drive E:\\"}},
        {"unknown drive", "F:", {}, {}, {{"F:\\", 0}}, -1, {"drive F:\\"}},
        {"missing, ordinary name", "C:\\nothing", {}, {}, {}, -1, {"find C:\\nothing"}},
        {"network folder",
         network,
         {},
         {{network, 0x10}},
         {},
         -2,
         {"find " + network, "attributes " + network}},
        {"network file",
         network,
         {},
         {{network, 0x20}},
         {},
         -1,
         {"find " + network, "attributes " + network}},
        {"network share root",
         network,
         {},
         {},
         {{network, 4}},
         -2,
         {"find " + network, "attributes " + network, "drive " + network}},
        {"nothing on the network",
         network,
         {},
         {},
         {},
         -1,
         {"find " + network, "attributes " + network, "drive " + network}},
        {"relative parent",
         "..\\help",
         {},
         {{"..\\help", 0x10}},
         {},
         -2,
         {"find ..\\help", "attributes ..\\help"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFiles files;
        files.entries.insert(c.entries.begin(), c.entries.end());
        files.attributes.insert(c.attributes.begin(), c.attributes.end());
        files.drive_types.insert(c.drives.begin(), c.drives.end());
        EXPECT_EQ(plugin::QueryFileSize(c.path.c_str()), c.size);
        EXPECT_EQ(files.probes, c.probes);
    }
}

TEST(QueryFileSize, NullPathAndLongPaths) {
    FakeFiles files;
    EXPECT_EQ(plugin::QueryFileSize(nullptr), -1);
    EXPECT_TRUE(files.probes.empty());
    // The probe sees at most 259 bytes of the path.
    const std::string long_path(400, 'x');
    plugin::QueryFileSize(long_path.c_str());
    ASSERT_EQ(files.probes.size(), 1u);
    EXPECT_EQ(files.probes[0], "find " + std::string(259, 'x'));
}

TEST(LaunchProgram, CommandLineAndFallback) {
    const struct {
        const char* program;
        const char* parameters;
        const char* folder;
        const char* command_line;
        bool folder_given;
    } cases[] = {
        {"hh.exe", "C:\\Help\\Rizi.chm", "C:\\Help\\", "\"hh.exe\" C:\\Help\\Rizi.chm", true},
        {"hh.exe", "C:\\My Help\\Rizi.chm", "C:\\My Help\\", "\"hh.exe\" C:\\My Help\\Rizi.chm",
         true},
        {"\"C:\\Tools\\hh.exe\"", "x", "", "\"C:\\Tools\\hh.exe\" x", false},
        {"hh.exe", "", nullptr, "\"hh.exe\"", false},
        {nullptr, nullptr, nullptr, "\"\"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command_line);
        FakeLauncher launcher(true, false);
        EXPECT_EQ(plugin::LaunchProgram(c.program, c.parameters, c.folder), 1);
        ASSERT_EQ(launcher.processes.size(), 1u);
        EXPECT_EQ(launcher.processes[0].program_or_command_line, c.command_line);
        EXPECT_EQ(launcher.processes[0].folder_given, c.folder_given);
        if (c.folder_given) {
            EXPECT_EQ(launcher.processes[0].folder, c.folder);
        }
        EXPECT_TRUE(launcher.shell_launches.empty());
    }
}

TEST(LaunchProgram, ShellOnlyWhenTheProcessFails) {
    const struct {
        bool shell_starts;
        std::int32_t result;
    } cases[] = {{true, 1}, {false, 0}};
    for (const auto& c : cases) {
        FakeLauncher launcher(false, c.shell_starts);
        EXPECT_EQ(plugin::LaunchProgram("hh.exe", "C:\\Help\\Rizi.chm", "C:\\Help\\"), c.result);
        ASSERT_EQ(launcher.shell_launches.size(), 1u);
        EXPECT_EQ(launcher.shell_launches[0].program_or_command_line, "hh.exe");
        EXPECT_EQ(launcher.shell_launches[0].parameters, "C:\\Help\\Rizi.chm");
        EXPECT_EQ(launcher.shell_launches[0].folder, "C:\\Help\\");
    }
}

// The examples of the help exports over the fakes: what is probed, what is started where.
struct HelpCase {
    const char* name;
    const char* action; // null: help for the whole plug-in
    const char* folder;
    std::vector<std::pair<std::string, platform::FileEntry>> entries;
    std::int32_t result;
    const char* command_line; // null: nothing started
    const char* working_folder;
};

void RunHelpCases(const std::vector<HelpCase>& cases, bool whole_plugin) {
    for (const HelpCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFiles files;
        files.entries.insert(c.entries.begin(), c.entries.end());
        FakeLauncher launcher(true, false);
        const std::int32_t result = whole_plugin ? plugin::ShowHelpForPlugin(c.folder)
                                                 : plugin::ShowHelpForAction(c.action, c.folder);
        EXPECT_EQ(result, c.result);
        if (c.command_line == nullptr) {
            EXPECT_TRUE(launcher.processes.empty());
            EXPECT_TRUE(launcher.shell_launches.empty());
            continue;
        }
        ASSERT_EQ(launcher.processes.size(), 1u);
        EXPECT_EQ(launcher.processes[0].program_or_command_line, c.command_line);
        EXPECT_EQ(launcher.processes[0].folder, c.working_folder);
    }
}

const std::vector<std::pair<std::string, platform::FileEntry>> HelpFile = {
    {"C:\\Help\\Rizi.chm", File(0, 4096)}};

using ShowHelpForPlugin = HelpTest;
TEST_F(ShowHelpForPlugin, Examples) {
    RunHelpCases(
        {
            {"help file present", nullptr, "C:\\Help", HelpFile, 1, "\"hh.exe\" C:\\Help\\Rizi.chm",
             "C:\\Help\\"},
            {"no help file", nullptr, "C:\\Help", {}, 0, nullptr, nullptr},
            {"a folder named Rizi.chm",
             nullptr,
             "C:\\Help",
             {{"C:\\Help\\Rizi.chm", Folder()}},
             1,
             "\"hh.exe\" C:\\Help\\Rizi.chm",
             "C:\\Help\\"},
            {"trailing backslash",
             nullptr,
             "C:\\Help\\",
             {{"C:\\Help\\\\Rizi.chm", File(0, 1)}},
             1,
             "\"hh.exe\" C:\\Help\\\\Rizi.chm",
             "C:\\Help\\\\"},
            {"folder with spaces",
             nullptr,
             "C:\\My Help",
             {{"C:\\My Help\\Rizi.chm", File(0, 1)}},
             1,
             "\"hh.exe\" C:\\My Help\\Rizi.chm",
             "C:\\My Help\\"},
            {"empty folder",
             nullptr,
             "",
             {{"\\Rizi.chm", File(0, 1)}},
             1,
             "\"hh.exe\" \\Rizi.chm",
             "\\"},
            {"null folder",
             nullptr,
             nullptr,
             {{"\\Rizi.chm", File(0, 1)}},
             1,
             "\"hh.exe\" \\Rizi.chm",
             "\\"},
        },
        true);
}

TEST_F(ShowHelpForPlugin, ViewerThatCannotStart) {
    FakeFiles files;
    files.entries.insert(HelpFile.begin(), HelpFile.end());
    FakeLauncher launcher(false, false);
    EXPECT_EQ(plugin::ShowHelpForPlugin("C:\\Help"), 0);
    EXPECT_EQ(launcher.processes.size(), 1u);
    EXPECT_EQ(launcher.shell_launches.size(), 1u);
}

using ShowHelpForAction = HelpTest;
TEST_F(ShowHelpForAction, Examples) {
    RunHelpCases(
        {
            {"one action", "Rizi.RetrieveNTPTime", "C:\\Help", HelpFile, 1,
             "\"hh.exe\" C:\\Help\\Rizi.chm::rizi_retrieventptime.htm", "C:\\Help\\"},
            {"capitals and dots", "A.B.C", "C:\\Help", HelpFile, 1,
             "\"hh.exe\" C:\\Help\\Rizi.chm::a_b_c.htm", "C:\\Help\\"},
            {"empty action name", "", "C:\\Help", HelpFile, 1,
             "\"hh.exe\" C:\\Help\\Rizi.chm::.htm", "C:\\Help\\"},
            {"null action name", nullptr, "C:\\Help", HelpFile, 1,
             "\"hh.exe\" C:\\Help\\Rizi.chm::.htm", "C:\\Help\\"},
            {"no help file", "Rizi.RetrieveTSTime", "C:\\Help", {}, 0, nullptr, nullptr},
            {"null folder",
             "Rizi.GetTimezoneBias",
             nullptr,
             {{"\\Rizi.chm", File(0, 1)}},
             1,
             "\"hh.exe\" \\Rizi.chm::rizi_gettimezonebias.htm",
             "\\"},
        },
        false);
}

// Which program runs: the Windows folder's viewer when it is there, the command line the
// same either way; the search for the bare name only without one.
TEST_F(ShowHelpForPlugin, RunsTheWindowsFolderViewerWhenThereIsOne) {
    const std::string long_folder = "C:\\" + std::string(300, 'w');
    const struct {
        const char* name;
        std::string windows_folder;
        std::vector<std::pair<std::string, std::uint32_t>> attributes;
        bool process_starts;
        const char* application; // "" for the search
    } cases[] = {
        {"viewer in the Windows folder",
         "C:\\Windows",
         {{"C:\\Windows\\hh.exe", 0x20}},
         true,
         "C:\\Windows\\hh.exe"},
        {"Windows folder at a root", "D:\\", {{"D:\\hh.exe", 0x20}}, true, "D:\\hh.exe"},
        {"no viewer there", "C:\\Windows", {}, true, ""},
        {"a folder named hh.exe", "C:\\Windows", {{"C:\\Windows\\hh.exe", 0x10}}, true, ""},
        {"no Windows folder", "", {}, true, ""},
        {"a Windows folder too long", long_folder, {{long_folder + "\\hh.exe", 0x20}}, true, ""},
        {"the shell gets the same viewer",
         "C:\\Windows",
         {{"C:\\Windows\\hh.exe", 0x20}},
         false,
         "C:\\Windows\\hh.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* action : {static_cast<const char*>(nullptr), "Rizi.RetrieveNTPTime"}) {
            FakeFiles files;
            files.entries.insert(HelpFile.begin(), HelpFile.end());
            files.attributes.insert(c.attributes.begin(), c.attributes.end());
            FakeLauncher launcher(c.process_starts, true);
            launcher.windows_folder = c.windows_folder;
            const std::int32_t result = action == nullptr
                                            ? plugin::ShowHelpForPlugin("C:\\Help")
                                            : plugin::ShowHelpForAction(action, "C:\\Help");
            EXPECT_EQ(result, 1);
            ASSERT_EQ(launcher.processes.size(), 1u);
            EXPECT_EQ(launcher.processes[0].application, c.application);
            EXPECT_EQ(launcher.processes[0].program_or_command_line,
                      action == nullptr
                          ? "\"hh.exe\" C:\\Help\\Rizi.chm"
                          : "\"hh.exe\" C:\\Help\\Rizi.chm::rizi_retrieventptime.htm");
            if (!c.process_starts) {
                ASSERT_EQ(launcher.shell_launches.size(), 1u);
                EXPECT_EQ(launcher.shell_launches[0].program_or_command_line, c.application);
            }
        }
    }
}

TEST_F(ShowHelpForAction, TemporaryTextGoesBackAfterEachCall) {
    FakeFiles files;
    files.entries.insert(HelpFile.begin(), HelpFile.end());
    FakeLauncher launcher(true, false);
    // An action name far larger than a text chunk, many times over: the area must not keep
    // what each call needed.
    const std::string action = "Rizi." + std::string(5000, 'A');
    const std::int32_t areas = plugin::LiveThreadTextAreas();
    for (int call = 0; call < 50; ++call)
        EXPECT_EQ(plugin::ShowHelpForAction(action.c_str(), "C:\\Help"), 1);
    EXPECT_EQ(plugin::LiveThreadTextAreas(), areas);
    ASSERT_EQ(launcher.processes.size(), 50u);
    EXPECT_EQ(launcher.processes[49].program_or_command_line,
              "\"hh.exe\" C:\\Help\\Rizi.chm::rizi_" + std::string(5000, 'a') + ".htm");
}

#if defined(_WIN32) && defined(RIZI_RECORD_LAUNCH)

// The real CreateProcessA under a Windows folder of the test's own: the stand-in viewer
// there runs, not the copy planted in the current folder beside the help file.
std::string test_windows_folder;

std::uint32_t TestWindowsFolder(char* buffer, std::uint32_t size) {
    const auto length = static_cast<std::uint32_t>(test_windows_folder.size());
    if (length >= size)
        return length + 1;
    test_windows_folder.copy(buffer, length);
    buffer[length] = '\0';
    return length;
}

bool WaitForFile(const std::filesystem::path& path) {
    for (int i = 0; i < 2000 && !std::filesystem::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return std::filesystem::exists(path);
}

TEST_F(ShowHelpForPlugin, PlantedViewerInTheCurrentFolderIsNotStarted) {
    namespace fs = std::filesystem;
    const fs::path base = fs::absolute("planted_viewer");
    fs::remove_all(base);
    const fs::path windows = base / "windows";
    const fs::path current = base / "current";
    fs::create_directories(windows);
    fs::create_directories(current);
    fs::copy_file(RIZI_RECORD_LAUNCH, windows / "hh.exe");
    fs::copy_file(RIZI_RECORD_LAUNCH, current / "hh.exe");
    std::ofstream(current / "Rizi.chm") << "ITSF";
    test_windows_folder = windows.string();
    test_support::ScopedOps<platform::ProcessOps> ops(platform::process_ops, platform::process_ops);
    platform::process_ops.get_system_windows_directory = &TestWindowsFolder;

    const fs::path previous = fs::current_path();
    fs::current_path(current);
    const std::int32_t result = plugin::ShowHelpForPlugin(current.string().c_str());
    fs::current_path(previous);

    EXPECT_EQ(result, 1);
    ASSERT_TRUE(WaitForFile(windows / "launched.txt"));
    std::ifstream record(windows / "launched.txt");
    std::string argument;
    std::getline(record, argument);
    EXPECT_EQ(argument, (current / "Rizi.chm").string());
    EXPECT_FALSE(fs::exists(current / "launched.txt"));
    EXPECT_FALSE(fs::exists(current / "launched.part"));
}

#endif

#if !defined(_WIN32)

using test_support::ScopedEnv;
using test_support::TempFolder;

using test_support::StandInViewer;

TEST_F(ShowHelpForPlugin, RealViewerExamples) {
    const struct {
        const char* name;
        const char* action; // null: the whole plug-in
        const char* subfolder;
        const char* suffix; // appended to the folder the host names
        bool chm_is_folder;
        std::vector<std::string> arguments; // after the folder, "$" for it
    } cases[] = {
        {"plug-in help", nullptr, "help", "", false, {"$\\Rizi.chm"}},
        {"one action",
         "Rizi.RetrieveNTPTime",
         "help",
         "",
         false,
         {"$\\Rizi.chm::rizi_retrieventptime.htm"}},
        {"capitals and dots", "A.B.C", "help", "", false, {"$\\Rizi.chm::a_b_c.htm"}},
        {"empty action name", "", "help", "", false, {"$\\Rizi.chm::.htm"}},
        {"trailing backslash", nullptr, "help", "\\", false, {"$\\\\Rizi.chm"}},
        {"folder named Rizi.chm", nullptr, "help", "", true, {"$\\Rizi.chm"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandInViewer viewer;
        TempFolder root;
        const std::string folder = root.Path() + "/" + c.subfolder;
        ASSERT_TRUE(test_support::MakeFolder(folder));
        if (c.chm_is_folder)
            ASSERT_TRUE(test_support::MakeFolder(folder + "/Rizi.chm"));
        else
            ASSERT_TRUE(test_support::WriteFile(folder + "/Rizi.chm", "ITSF", false));
        const std::string named = folder + c.suffix;
        const std::int32_t result = c.action == nullptr
                                        ? plugin::ShowHelpForPlugin(named.c_str())
                                        : plugin::ShowHelpForAction(c.action, named.c_str());
        EXPECT_EQ(result, 1);
        std::vector<std::string> expected = {folder};
        for (std::string argument : c.arguments)
            expected.push_back(argument.replace(0, 1, folder));
        EXPECT_EQ(viewer.Record(), expected);
    }
    EXPECT_EQ(test_support::ZombieChildCount(), 0);
}

TEST_F(ShowHelpForPlugin, RealViewerGetsAFolderWithSpacesUnquoted) {
    StandInViewer viewer;
    TempFolder root;
    const std::string folder = root.Path() + "/My Help";
    ASSERT_TRUE(test_support::MakeFolder(folder));
    ASSERT_TRUE(test_support::WriteFile(folder + "/Rizi.chm", "ITSF", false));
    EXPECT_EQ(plugin::ShowHelpForPlugin(folder.c_str()), 1);
    // The viewer reads its command line the Windows way: the blank splits the path.
    EXPECT_EQ(viewer.Record(),
              (std::vector<std::string>{folder, root.Path() + "/My", "Help\\Rizi.chm"}));
}

TEST_F(ShowHelpForPlugin, RealViewerNotStartedWithoutHelpFile) {
    StandInViewer viewer;
    TempFolder root;
    EXPECT_EQ(plugin::ShowHelpForPlugin(root.Path().c_str()), 0);
    EXPECT_EQ(plugin::ShowHelpForAction("Rizi.RetrieveNTPTime", root.Path().c_str()), 0);
    // An empty folder names \Rizi.chm, the file system's root, where no help lies.
    if (!test_support::WaitForFile("/Rizi.chm", 1)) {
        EXPECT_EQ(plugin::ShowHelpForPlugin(""), 0);
        EXPECT_EQ(plugin::ShowHelpForPlugin(nullptr), 0);
    }
    EXPECT_FALSE(viewer.Ran());
}

TEST_F(ShowHelpForPlugin, NoViewerAndNoOpener) {
    TempFolder empty_bin;
    ScopedEnv path("PATH", empty_bin.Path());
    TempFolder root;
    ASSERT_TRUE(test_support::WriteFile(root.Path() + "/Rizi.chm", "ITSF", false));
    EXPECT_EQ(plugin::ShowHelpForPlugin(root.Path().c_str()), 0);
    EXPECT_EQ(test_support::ZombieChildCount(), 0);
}

TEST_F(ShowHelpForPlugin, OpenerTakesAProgramFileInTheHelpFolder) {
    // No hh.exe on PATH, but a file of that name beside the help: the desktop's opener gets it.
    StandInViewer opener("xdg-open");
    TempFolder root;
    ASSERT_TRUE(test_support::WriteFile(root.Path() + "/Rizi.chm", "ITSF", false));
    ASSERT_TRUE(test_support::WriteFile(root.Path() + "/hh.exe", "MZ", false));
    EXPECT_EQ(plugin::ShowHelpForPlugin(root.Path().c_str()), 1);
    const std::vector<std::string> record = opener.Record();
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[0], root.Path());
    EXPECT_EQ(record[1], root.Path() + "//hh.exe");
}

#endif

} // namespace
