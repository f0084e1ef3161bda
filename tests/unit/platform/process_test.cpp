// The POSIX launch reads a Windows command line the way a Windows program would.
#include "platform/process.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, WindowsRules) {
    const struct {
        const char* line;
        Args args;
    } cases[] = {
        {"\"hh.exe\" C:\\Help\\Rizi.chm", {"hh.exe", "C:\\Help\\Rizi.chm"}},
        {"\"hh.exe\" C:\\My Help\\Rizi.chm", {"hh.exe", "C:\\My", "Help\\Rizi.chm"}},
        {"\"hh.exe\"", {"hh.exe"}},
        {"\"C:\\a b\\hh.exe\" x", {"C:\\a b\\hh.exe", "x"}},
        {"prog \t a  \"b c\" d", {"prog", "a", "b c", "d"}},
        // Backslashes escape only quotes: 2n give n and a grouping quote, 2n + 1 a literal.
        {"p a\\\\b \"c\\\\\" d\\\"e \\\\\\\"f", {"p", "a\\\\b", "c\\", "d\"e", "\\\"f"}},
        // Two quotes inside a quoted part: one literal quote, and the part ends there.
        {"p \"a\"\"b c\"", {"p", "a\"b", "c"}},
        {"p \"\" x", {"p", "", "x"}},
        {"p trailing\\", {"p", "trailing\\"}},
        {"", {""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::SplitCommandLine(c.line), c.args) << c.line;
}

} // namespace

#endif
