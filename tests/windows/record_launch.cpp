// A stand-in viewer for the Windows tests: writes its arguments, one a line, to
// launched.txt in its own folder, so a test can tell which copy of it was started.
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const std::string self = _pgmptr != nullptr ? _pgmptr : "";
    const std::string folder = self.substr(0, self.find_last_of("\\/") + 1);
    // Written under another name first and renamed when complete.
    const std::string partial = folder + "launched.part";
    std::FILE* out = std::fopen(partial.c_str(), "w");
    if (out == nullptr)
        return 1;
    for (int i = 1; i < argc; ++i)
        std::fprintf(out, "%s\n", argv[i]);
    std::fclose(out);
    return std::rename(partial.c_str(), (folder + "launched.txt").c_str()) == 0 ? 0 : 1;
}
