// Reads the files of tests/data, found beside the test sources (source paths are absolute in
// our builds, so __FILE__ of a test under tests/unit/<folder>/ leads to tests/data/).
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace test_support {

// The tests/data folder, from the __FILE__ of a test in tests/unit/<folder>/.
inline std::string TestDataDir(const std::string& test_file) {
    std::string dir = test_file;
    for (int up = 0; up < 3; ++up) {
        const std::size_t slash = dir.find_last_of("/\\");
        dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
    }
    return dir + "/data/";
}

// The bytes of a file; false when it cannot be opened.
inline bool ReadTestFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// The lines of a listing such as jc_cases.txt, each split at its first blank.
inline std::vector<std::pair<std::string, std::string>> ReadCases(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> cases;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t blank = line.find(' ');
        if (blank != std::string::npos)
            cases.emplace_back(line.substr(0, blank), line.substr(blank + 1));
    }
    return cases;
}

} // namespace test_support
