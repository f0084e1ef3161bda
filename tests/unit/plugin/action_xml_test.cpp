// The action description export: the container built from actions.xml, the buffer protocol
// around it, damaged containers (tests/data/cxml_*.cxml and damage made here), and the
// document itself, checked for its form and, through xmllint, for its element tree.
#include "plugin/action_xml.h"
#include "runtime/heap.h"
#include "runtime/packer.h"
#include "tests/support/test_data.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t DocumentBytes = 14374;
// The document of the first four actions, which the added actions follow in both parts.
constexpr std::size_t FirstFourBytes = 2757;
constexpr std::uint32_t FirstFourCrc = 0xE0FBBE31u;
const std::string DataDir = test_support::TestDataDir(__FILE__);

class ActionXmlTest : public ::testing::Test {
  protected:
    void SetUp() override { runtime::RegisterJcalg1Packer(); }
};

Bytes ConstantContainer() {
    return Bytes(plugin::ActionXmlContainer,
                 plugin::ActionXmlContainer + plugin::ActionXmlContainerBytes);
}

std::uint32_t ReadLittleEndian32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void WriteLittleEndian32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Served {
    std::int32_t result;
    std::int32_t size;
    std::string buffer;
};

// Serves a container into a buffer of capacity bytes filled with 'x'.
Served Serve(const Bytes& container, std::int32_t capacity) {
    std::vector<char> buffer(static_cast<std::size_t>(capacity > 0 ? capacity : 0) + 1, 'x');
    std::int32_t size = capacity;
    const std::int32_t result =
        plugin::CopyCxmlToHost(container.data(), container.size(), buffer.data(), &size);
    return Served{result, size, std::string(buffer.begin(), buffer.end() - 1)};
}

std::string Spaces(std::size_t n) {
    return std::string(n, ' ') + '\0';
}

std::string ServedDocument() {
    std::vector<char> buffer(DocumentBytes + 1);
    std::int32_t size = DocumentBytes + 1;
    EXPECT_EQ(plugin::GetPluginActionXML(buffer.data(), &size), DocumentBytes);
    return std::string(buffer.data(), DocumentBytes);
}

TEST(Crc32, KnownValuesAndPieces) {
    EXPECT_EQ(plugin::Crc32("", 0, 0), 0u);
    EXPECT_EQ(plugin::Crc32("", 0, 0x1234u), 0x1234u);
    EXPECT_EQ(plugin::Crc32("123456789", 9, 0), 0xCBF43926u);
    EXPECT_EQ(plugin::Crc32("a", 1, 0), 0xE8B7BE43u);
    const std::string text = "<ActionTemplates>\r\n<Action>";
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        const std::uint32_t first = plugin::Crc32(text.data(), cut, 0);
        EXPECT_EQ(plugin::Crc32(text.data() + cut, text.size() - cut, first),
                  plugin::Crc32(text.data(), text.size(), 0));
    }
}

using UnpackCxml = ActionXmlTest;
using GetPluginActionXML = ActionXmlTest;
using ActionDocument = ActionXmlTest;

TEST_F(UnpackCxml, BuildsHeaderDocumentAndZeroTail) {
    const Bytes container = ConstantContainer();
    ASSERT_EQ(ReadLittleEndian32(container, 4), static_cast<std::uint32_t>(DocumentBytes));
    ASSERT_EQ(ReadLittleEndian32(container, 8), container.size() - plugin::CxmlHeaderBytes);
    std::uint8_t* block = plugin::UnpackCxml(container.data(), container.size());
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(std::equal(container.begin(), container.begin() + 20, block));
    EXPECT_EQ(plugin::Crc32(block + 20, DocumentBytes, 0), ReadLittleEndian32(container, 12));
    EXPECT_EQ(Bytes(block + 20 + DocumentBytes, block + 28 + DocumentBytes), Bytes(8, 0));
    runtime::ReleaseBlock(runtime::Heap::Memory, block);
}

TEST_F(UnpackCxml, HoldsTheDocumentSourceFile) {
    Bytes file;
    ASSERT_TRUE(test_support::ReadTestFile(DataDir + "../../plugin/actions.xml", &file));
    EXPECT_EQ(ServedDocument(), std::string(file.begin(), file.end()));
}

TEST_F(UnpackCxml, WithoutTheJcalg1PackerFails) {
    const runtime::PackerRegistry saved = runtime::packer_registry;
    runtime::packer_registry = runtime::PackerRegistry{};
    const Bytes container = ConstantContainer();
    EXPECT_EQ(plugin::UnpackCxml(container.data(), container.size()), nullptr);
    EXPECT_EQ(Serve(container, 2 * DocumentBytes).buffer.substr(0, DocumentBytes + 1),
              Spaces(DocumentBytes));
    runtime::packer_registry = saved;
}

TEST_F(UnpackCxml, DamagedContainersFromTestData) {
    Bytes document;
    ASSERT_TRUE(test_support::ReadTestFile(DataDir + "cxml_document.txt", &document));
    const auto cases = test_support::ReadCases(DataDir + "cxml_cases.txt");
    ASSERT_GE(cases.size(), 8u);
    for (const auto& [file, serves] : cases) {
        Bytes container;
        ASSERT_TRUE(test_support::ReadTestFile(DataDir + file, &container)) << file;
        const std::uint32_t len = ReadLittleEndian32(container, 4);
        // An exact-size copy, so reading past the container shows under AddressSanitizer.
        Bytes exact(container);
        exact.shrink_to_fit();
        const Served s = Serve(exact, static_cast<std::int32_t>(len) + 1);
        EXPECT_EQ(s.result, static_cast<std::int32_t>(len)) << file;
        const std::string expected = serves == "document"
                                         ? std::string(document.begin(), document.end()) + '\0'
                                         : Spaces(len);
        EXPECT_EQ(s.buffer, expected) << file;
    }
}

TEST_F(UnpackCxml, EveryPackedByteChangedGivesSpaces) {
    const Bytes sound = ConstantContainer();
    const std::string document = ServedDocument() + '\0';
    for (std::size_t i = plugin::CxmlHeaderBytes; i < sound.size(); ++i) {
        Bytes damaged = sound;
        damaged[i] = static_cast<std::uint8_t>(damaged[i] ^ 0x21);
        EXPECT_EQ(Serve(damaged, DocumentBytes + 1).buffer, Spaces(DocumentBytes)) << i;
        // With the packed CRC made to match, the decoder or the document CRC must catch it,
        // unless the change fell in the padding after the end code, which is never read.
        WriteLittleEndian32(damaged, 16,
                            plugin::Crc32(damaged.data() + 20, damaged.size() - 20, 0));
        const std::string served = Serve(damaged, DocumentBytes + 1).buffer;
        if (served != document) {
            EXPECT_EQ(served, Spaces(DocumentBytes)) << i;
        }
    }
}

TEST_F(GetPluginActionXML, CapacitiesAndTheBufferProtocol) {
    const struct {
        std::int32_t capacity;
        std::int32_t result;
        std::int32_t size_after;
    } cases[] = {
        {DocumentBytes, -1, DocumentBytes + 1},
        {0, -1, DocumentBytes + 1},
        {-1, -1, DocumentBytes + 1},
        {INT_MIN, -1, DocumentBytes + 1},
        {DocumentBytes + 1, DocumentBytes, DocumentBytes + 1},
        {16384, DocumentBytes, 16384},
    };
    const std::string document = ServedDocument();
    for (const auto& c : cases) {
        const std::size_t room = c.capacity > 0 ? static_cast<std::size_t>(c.capacity) : 0;
        std::vector<char> buffer(room + 1, 'x');
        std::int32_t size = c.capacity;
        EXPECT_EQ(plugin::GetPluginActionXML(buffer.data(), &size), c.result) << c.capacity;
        EXPECT_EQ(size, c.size_after) << c.capacity;
        const std::string got(buffer.begin(), buffer.end());
        if (c.result < 0) {
            EXPECT_EQ(got, std::string(room + 1, 'x')) << c.capacity; // untouched
        } else {
            EXPECT_EQ(got.substr(0, DocumentBytes + 1), document + '\0');
            EXPECT_EQ(got.substr(DocumentBytes + 1), std::string(room - DocumentBytes, 'x'));
        }
    }
    // Null pointers from the host: no size gives -1; no buffer asks for the needed size.
    char one[1];
    EXPECT_EQ(plugin::GetPluginActionXML(one, nullptr), -1);
    std::int32_t size = 8192;
    EXPECT_EQ(plugin::GetPluginActionXML(nullptr, &size), -1);
    EXPECT_EQ(size, DocumentBytes + 1);
}

TEST_F(GetPluginActionXML, ChangedMagicStillServesAndCallsRepeat) {
    Bytes container = ConstantContainer();
    const std::string first = Serve(container, DocumentBytes + 1).buffer;
    std::copy_n("RIZI", 4, container.begin());
    EXPECT_EQ(Serve(container, DocumentBytes + 1).buffer, first);
    EXPECT_EQ(ServedDocument() + '\0', first);
    EXPECT_EQ(ServedDocument(), ServedDocument());
}

// The document with every action after the first four cut out of both parts.
std::string FirstFourActions(const std::string& doc) {
    const std::string action_end = "</Action>\r\n";
    std::string kept;
    std::size_t from = 0;
    for (const char* part_end : {"<Extended>\r\n", "</Extended>\r\n"}) {
        std::size_t keep = from;
        for (int action = 0; action < 4; ++action)
            keep = doc.find(action_end, keep) + action_end.size();
        kept += doc.substr(from, keep - from);
        from = doc.find(part_end, keep);
    }
    return kept + doc.substr(from);
}

TEST_F(ActionDocument, FirstFourActionsKeepEveryByte) {
    const std::string original = FirstFourActions(ServedDocument());
    EXPECT_EQ(original.size(), FirstFourBytes);
    EXPECT_EQ(plugin::Crc32(original.data(), original.size(), 0), FirstFourCrc);
}

TEST_F(ActionDocument, Form) {
    const std::string doc = ServedDocument();
    EXPECT_EQ(doc.size(), static_cast<std::size_t>(DocumentBytes));
    EXPECT_EQ(doc.rfind("<ActionTemplates>\r\n", 0), 0u);
    EXPECT_EQ(doc.substr(doc.size() - 18), "</ActionTemplates>");
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t at; (at = doc.find("\r\n", from)) != std::string::npos; from = at + 2)
        lines.push_back(doc.substr(from, at - from));
    lines.push_back(doc.substr(from));
    EXPECT_EQ(lines.size(), 343u);
    std::size_t defaults = 0;
    for (const std::string& line : lines) {
        EXPECT_FALSE(line.empty());
        EXPECT_NE(line.front(), ' ') << line;
        EXPECT_EQ(line.find_first_of("\t\r\n&\""), std::string::npos) << line;
        EXPECT_EQ(line.find("/>"), std::string::npos) << line;
        defaults += line == "<Default></Default>" ? 1 : 0;
    }
    EXPECT_EQ(defaults, 30u);
    for (unsigned char ch : doc)
        EXPECT_LT(ch, 0x80);
}

#if !defined(_WIN32)
// Runs a shell command; its standard output, or nothing when it fails.
bool RunCommand(const std::string& command, std::string* output) {
    const std::string out_path = ::testing::TempDir() + "rizi_action_xml_out.txt";
    if (std::system((command + " > " + out_path + " 2>&1").c_str()) != 0)
        return false;
    std::ifstream in(out_path);
    std::stringstream text;
    text << in.rdbuf();
    *output = text.str();
    return true;
}

// The element tree as xmllint's shell prints it: one name a line, two blanks a level.
std::string ExpectedTree() {
    std::string t = "ActionTemplates\n";
    auto line = [&t](int depth, const char* name) {
        t += std::string(static_cast<std::size_t>(2 * depth), ' ') + name + "\n";
    };
    // The number of arguments of each action, in document order.
    const int arguments[] = {0, 0, 2, 2, 2, 2, 0, 2, 3, 2};
    for (int args : arguments) {
        line(1, "Action");
        for (const char* n : {"Name", "Description", "ReturnValueType"})
            line(2, n);
        if (args == 0)
            continue;
        line(2, "Arguments");
        for (int arg = 0; arg < args; ++arg) {
            line(3, "Arg");
            for (const char* n : {"Name", "Description", "Type", "Default", "Required"})
                line(4, n);
            line(4, "EasyMode");
            for (const char* n : {"Default", "DataType", "Constraints"})
                line(5, n);
        }
    }
    line(1, "Extended");
    for (int args : arguments) {
        line(2, "Action");
        for (const char* n : {"ReturnValueDescription", "Example", "Note"})
            line(3, n);
        for (int arg = 0; arg < args; ++arg) {
            line(3, "Arg");
            line(4, "Note");
        }
    }
    return t;
}

TEST_F(ActionDocument, XmllintParsesTheElementTreeAndTexts) {
    std::string version;
    if (!RunCommand("xmllint --version", &version))
        GTEST_SKIP() << "xmllint is not installed";
    const std::string path = ::testing::TempDir() + "rizi_actions.xml";
    {
        std::ofstream out(path, std::ios::binary);
        out << ServedDocument();
    }
    std::string output;
    ASSERT_TRUE(RunCommand("xmllint --noout --nonet " + path, &output)) << output;

    ASSERT_TRUE(RunCommand("echo du | xmllint --shell " + path, &output));
    std::string tree;
    std::istringstream lines(output);
    for (std::string l; std::getline(lines, l);) {
        if (l.rfind("/ >", 0) != 0)
            tree += l + "\n";
    }
    EXPECT_EQ(tree, ExpectedTree());

    const std::string returned =
        "The return value is a table containing the timezoneName, timezoneBias, biased "
        "format and unbiased format.";
    const struct {
        const char* xpath;
        std::string text;
    } texts[] = {
        {"/*/Action[1]/Name", "Rizi.GetTimezoneName"},
        {"/*/Action[1]/Description", "Get the name of the current timezone"},
        {"/*/Action[1]/ReturnValueType", "string"},
        {"/*/Action[2]/Name", "Rizi.GetTimezoneBias"},
        {"/*/Action[2]/Description", "Get the correction that is made on the UTC time in hours"},
        {"/*/Action[2]/ReturnValueType", "number"},
        {"/*/Action[3]/Name", "Rizi.RetrieveNTPTime"},
        {"/*/Action[3]/Description", "Try to retrieve the UTC time from a NTP server"},
        {"/*/Action[3]/ReturnValueType", "table"},
        {"/*/Action[3]//Arg[1]/Name", "NTP Server"},
        {"/*/Action[3]//Arg[1]/Description",
         "The NTP server to retrieve the time from (port 123)."},
        {"/*/Action[3]//Arg[1]/Type", "string"},
        {"/*/Action[3]//Arg[1]/Required", "1"},
        {"/*/Action[3]//Arg[1]/EasyMode/DataType", "string"},
        {"/*/Action[3]//Arg[2]/Name", "Timeout"},
        {"/*/Action[3]//Arg[2]/Description", "The timeout of the request, in milliseconds"},
        {"/*/Action[3]//Arg[2]/Type", "number"},
        {"/*/Action[3]//Arg[2]/Required", "0"},
        {"/*/Action[3]//Arg[2]/EasyMode/DataType", "number"},
        {"/*/Action[4]/Name", "Rizi.RetrieveTSTime"},
        {"/*/Action[4]/Description", "Try to retrieve the UTC time from a timeserver"},
        {"/*/Action[4]/ReturnValueType", "table"},
        {"/*/Action[4]//Arg[1]/Name", "Timeserver"},
        {"/*/Action[4]//Arg[1]/Description", "The timeserver to retrieve the time from (port 37)"},
        {"/*/Action[4]//Arg[1]/Type", "string"},
        {"/*/Action[4]//Arg[1]/Required", "1"},
        {"/*/Action[4]//Arg[2]/Name", "Timeout"},
        {"/*/Action[4]//Arg[2]/Required", "0"},
        {"/*/Extended/Action[1]/ReturnValueDescription", "The name of the current timezone"},
        {"/*/Extended/Action[2]/ReturnValueDescription", ""},
        {"/*/Extended/Action[3]/ReturnValueDescription", returned},
        {"/*/Extended/Action[4]/ReturnValueDescription", returned},
        {"/*/Action[5]/Name", "Rizi.QueryNTP"},
        {"/*/Action[5]/ReturnValueType", "table"},
        {"/*/Action[5]//Arg[1]/Name", "Server"},
        {"/*/Action[5]//Arg[1]/Type", "string"},
        {"/*/Action[5]//Arg[1]/Required", "1"},
        {"/*/Action[5]//Arg[1]/EasyMode/DataType", "string"},
        {"/*/Action[5]//Arg[2]/Name", "Timeout"},
        {"/*/Action[5]//Arg[2]/Type", "number"},
        {"/*/Action[5]//Arg[2]/Required", "0"},
        {"/*/Action[5]//Arg[2]/EasyMode/DataType", "number"},
        {"/*/Action[6]/Name", "Rizi.QueryNTPServers"},
        {"/*/Action[6]/ReturnValueType", "table"},
        {"/*/Action[6]//Arg[1]/Name", "Servers"},
        {"/*/Action[6]//Arg[1]/Required", "1"},
        {"/*/Action[6]//Arg[2]/Name", "Timeout"},
        {"/*/Action[6]//Arg[2]/Type", "number"},
        {"/*/Action[6]//Arg[2]/Required", "0"},
        {"/*/Action[7]/Name", "Rizi.Now"},
        {"/*/Action[7]/ReturnValueType", "number"},
        {"/*/Action[8]/Name", "Rizi.QueryHTTPS"},
        {"/*/Action[8]/ReturnValueType", "table"},
        {"/*/Action[8]//Arg[1]/Name", "URL"},
        {"/*/Action[8]//Arg[1]/Type", "string"},
        {"/*/Action[8]//Arg[1]/Required", "1"},
        {"/*/Action[8]//Arg[2]/Name", "Timeout"},
        {"/*/Action[8]//Arg[2]/Description",
         "The timeout of the whole call, in milliseconds (default 3000)"},
        {"/*/Action[8]//Arg[2]/Required", "0"},
        {"/*/Action[9]/Name", "Rizi.Start"},
        {"/*/Action[9]/ReturnValueType", "userdata"},
        {"/*/Action[9]//Arg[1]/Name", "Function"},
        {"/*/Action[9]//Arg[1]/Type", "function"},
        {"/*/Action[9]//Arg[1]/EasyMode/DataType", "function"},
        {"/*/Action[9]//Arg[1]/Required", "1"},
        {"/*/Action[9]//Arg[2]/Name", "Server"},
        {"/*/Action[9]//Arg[2]/Required", "1"},
        {"/*/Action[9]//Arg[3]/Name", "Timeout"},
        {"/*/Action[9]//Arg[3]/Type", "number"},
        {"/*/Action[9]//Arg[3]/Required", "0"},
        // Each of the five functions it runs is named, and the answers it adds to theirs.
        {"string(contains(/*/Action[9]//Arg[1]/Description, 'Rizi.RetrieveNTPTime, "
         "Rizi.RetrieveTSTime, Rizi.QueryNTP, Rizi.QueryNTPServers or Rizi.QueryHTTPS'))",
         "true"},
        {"string(contains(/*/Extended/Action[9]/ReturnValueDescription, 'pending') and "
         "contains(/*/Extended/Action[9]/ReturnValueDescription, 'busy') and "
         "contains(/*/Extended/Action[9]/Note, 'cancelled'))",
         "true"},
        {"/*/Action[10]/Name", "Rizi.QueryNTS"},
        {"/*/Action[10]/ReturnValueType", "table"},
        {"/*/Action[10]//Arg[1]/Name", "Server"},
        {"/*/Action[10]//Arg[1]/Type", "string"},
        {"/*/Action[10]//Arg[1]/Required", "1"},
        {"/*/Action[10]//Arg[2]/Name", "Timeout"},
        {"/*/Action[10]//Arg[2]/Type", "number"},
        {"/*/Action[10]//Arg[2]/Required", "0"},
        // The key-exchange server's default port, and every failure word of NTS.
        {"string(contains(/*/Action[10]//Arg[1]/Description, '4460'))", "true"},
        {"string(contains(/*/Extended/Action[10]/Note, "
         "'resolve, network, timeout, tls, nts-ke, kiss or unsynchronised.'))",
         "true"},
        // The list of several servers tells of web servers and their default timeout.
        {"string(contains(/*/Action[6]//Arg[1]/Description, 'https://'))", "true"},
        {"string(contains(/*/Action[6]//Arg[2]/Description, '3000'))", "true"},
        // Every failure word of the HTTPS source, in the order the help page lists them.
        {"string(contains(/*/Extended/Action[8]/Note, "
         "'resolve, network, timeout, tls, http or https unavailable.'))",
         "true"},
        // The added actions say what they do and what they return.
        {"string(count(/*/Action[position() > 4]/Description[text()] | "
         "/*/Extended/Action[position() > 4]/ReturnValueDescription[text()]))",
         "12"},
        // Every Default, and every Example and Note of the first four, is empty; every
        // Constraints is "none".
        {"concat(//Example, //Note, //Default)", ""},
        {"string(count(/*/Extended/Action[position() <= 4]//Example[text()] | "
         "/*/Extended/Action[position() <= 4]//Note[text()] | //Default[text()]))",
         "0"},
        {"string(count(//Constraints[. = 'none']))", "15"},
        {"string(count(//Action/Arguments/Arg/Default))", "15"},
    };
    for (const auto& t : texts) {
        const std::string expr =
            t.xpath[0] == '/' ? "string(" + std::string(t.xpath) + ")" : std::string(t.xpath);
        ASSERT_TRUE(RunCommand("xmllint --xpath \"" + expr + "\" " + path, &output)) << t.xpath;
        EXPECT_EQ(output, t.text + "\n") << t.xpath;
    }
}
#endif

} // namespace
