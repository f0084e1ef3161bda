#include "plugin/help.h"

#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "plugin/identity.h"
#include "runtime/heap.h"

#include <cstring>

namespace plugin {
namespace {

constexpr const char* ViewerProgram = "hh.exe";

// Probes work on a copy of at most this many bytes, zero included (the system's path limit).
constexpr std::size_t ProbePathBytes = 260;

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

// The concatenation of the given texts in text's storage; null on failure.
char* Join(TemporaryText& text, const char* const* parts, std::size_t count) {
    std::size_t total = 1;
    for (std::size_t i = 0; i < count; ++i)
        total += std::strlen(parts[i]);
    char* joined = text.Allocate(total);
    if (joined == nullptr)
        return nullptr;
    char* out = joined;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t length = std::strlen(parts[i]);
        std::memcpy(out, parts[i], length);
        out += length;
    }
    return joined;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The viewer in the system's Windows folder, in text's storage, when a file of that name is
// there; null otherwise, and the system's search for the bare name applies.
const char* WindowsFolderViewer(TemporaryText& text) {
    char folder[ProbePathBytes] = {};
    const std::uint32_t length =
        platform::process_ops.get_system_windows_directory(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder)
        return nullptr;
    // The folder ends with a backslash only when it is a drive's root.
    const char* separator = folder[length - 1] == '\\' ? "" : "\\";
    const char* parts[] = {folder, separator, ViewerProgram};
    const char* viewer = Join(text, parts, 3);
    if (viewer == nullptr)
        return nullptr;
    const std::uint32_t attributes = platform::file_ops.get_file_attributes(viewer);
    if (attributes == platform::InvalidFileAttributes ||
        (attributes & platform::FileAttributeDirectory) != 0)
        return nullptr;
    return viewer;
}

} // namespace

char* BuildHelpPath(TemporaryText& text, const char* folder) {
    // The backslash is added whatever the folder ends with.
    const char* parts[] = {OrEmpty(folder), "\\", PluginName(), ".chm"};
    return Join(text, parts, 4);
}

char* HelpPageName(TemporaryText& text, const char* action_name) {
    char* page = text.Copy(action_name);
    if (page == nullptr)
        return nullptr;
    platform::CharLower(page);
    for (char* c = page; *c != '\0'; ++c)
        if (*c == '.')
            *c = '_';
    return page;
}

std::int64_t QueryFileSize(const char* path) {
    // Step 1: nothing to look for.
    if (path == nullptr || *path == '\0')
        return NothingThere;
    // Step 2: a bounded copy.
    char copy[ProbePathBytes + 1] = {};
    std::size_t length = std::strlen(path);
    if (length > ProbePathBytes - 1)
        length = ProbePathBytes - 1;
    std::memcpy(copy, path, length);

    // Step 3: a drive such as C: or C:\ is asked about as a root.
    if ((length == 2 || length == 3) && copy[1] == ':') {
        if (length == 2)
            copy[2] = '\\';
        return platform::file_ops.get_drive_type(copy) >= platform::DriveRemovable ? FolderOrDrive
                                                                                   : NothingThere;
    }

    // Step 4: the entry itself, without trailing backslashes.
    while (length > 0 && copy[length - 1] == '\\')
        copy[--length] = '\0';
    if (length == 0)
        return NothingThere;
    platform::FileEntry entry{};
    if (platform::file_ops.find_first_file(copy, &entry)) {
        if ((entry.attributes & platform::FileAttributeDirectory) != 0)
            return FolderOrDrive;
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(entry.size_high) << 32) |
                                         entry.size_low);
    }

    // Step 5: a network name or a relative parent, which a search may not list.
    const bool network = copy[0] == '\\' && copy[1] == '\\';
    const bool parent = copy[0] == '.' && copy[1] == '.';
    if (network || parent) {
        const std::uint32_t attributes = platform::file_ops.get_file_attributes(copy);
        if (attributes != platform::InvalidFileAttributes)
            return (attributes & platform::FileAttributeDirectory) != 0 ? FolderOrDrive
                                                                        : NothingThere;
        return platform::file_ops.get_drive_type(copy) >= platform::DriveRemovable ? FolderOrDrive
                                                                                   : NothingThere;
    }
    // Step 6.
    return NothingThere;
}

char* FolderPart(TemporaryText& text, const char* path) {
    const char* start = OrEmpty(path);
    if (*start == '"')
        ++start;
    // The scan stops at the end or at the first "|"; the last separator met closes the folder.
    std::size_t end = 0;
    for (std::size_t i = 0; start[i] != '\0' && start[i] != '|'; ++i)
        if (IsSeparator(start[i]))
            end = i + 1;
    char* folder = text.Allocate(end + 1);
    if (folder != nullptr)
        std::memcpy(folder, start, end);
    return folder;
}

std::int32_t LaunchProgram(const char* program, const char* parameters, const char* working_folder,
                           const char* application) {
    program = OrEmpty(program);
    parameters = OrEmpty(parameters);
    const std::size_t program_length = std::strlen(program);
    const std::size_t parameters_length = std::strlen(parameters);

    // Step 1: "program" parameters, in a block of the module heap: two quotes, a space and
    // the zero fit in the 4 extra bytes.
    runtime::HeapBlock block(runtime::Heap::Module,
                             static_cast<std::int64_t>(program_length + parameters_length + 4));
    char* line = static_cast<char*>(block.Get());
    if (line == nullptr)
        return 0;
    char* out = line;
    if (*program == '"') {
        std::memcpy(out, program, program_length);
        out += program_length;
    } else {
        *out++ = '"';
        std::memcpy(out, program, program_length);
        out += program_length;
        *out++ = '"';
    }
    // The parameters go on unchanged and unquoted, spaces and all.
    if (parameters_length > 0) {
        *out++ = ' ';
        std::memcpy(out, parameters, parameters_length);
    }

    // Step 2: an empty working folder counts as none.
    const char* folder =
        working_folder != nullptr && *working_folder != '\0' ? working_folder : nullptr;
    // Steps 3 to 5: the program itself, else the shell's default action; both from the
    // application's path when one is given. The block goes back to the heap when it leaves
    // scope (step 6).
    if (platform::process_ops.create_process(application, line, folder))
        return 1;
    const char* file = application != nullptr ? application : program;
    return platform::process_ops.shell_execute(file, parameters, folder) ? 1 : 0;
}

std::int32_t ShowHelpForPlugin(const char* folder) {
    TemporaryText text;
    const char* path = BuildHelpPath(text, folder);
    if (path == nullptr || QueryFileSize(path) == NothingThere)
        return 0;
    const char* working_folder = FolderPart(text, path);
    if (working_folder == nullptr)
        return 0;
    const char* viewer = WindowsFolderViewer(text);
    return LaunchProgram(ViewerProgram, path, working_folder, viewer) != 0 ? 1 : 0;
}

std::int32_t ShowHelpForAction(const char* action_name, const char* folder) {
    TemporaryText text;
    const char* path = BuildHelpPath(text, folder);
    const char* page = HelpPageName(text, action_name);
    if (path == nullptr || page == nullptr)
        return 0;
    // Only the help file is looked for; whether the page is inside it is the viewer's affair.
    if (QueryFileSize(path) == NothingThere)
        return 0;
    const char* parts[] = {path, "::", page, ".htm"};
    const char* parameter = Join(text, parts, 4);
    const char* working_folder = FolderPart(text, path);
    if (parameter == nullptr || working_folder == nullptr)
        return 0;
    const char* viewer = WindowsFolderViewer(text);
    return LaunchProgram(ViewerProgram, parameter, working_folder, viewer) != 0 ? 1 : 0;
}

} // namespace plugin
