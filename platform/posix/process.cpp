#include "platform/process.h"

#include "platform/posix/native_path.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Runs in the new process between fork and exec, so it makes async-signal-safe calls only.
[[noreturn]] void ExecInChild(const char* program, char* const* argv, const char* folder,
                              int report_fd) {
    // The program starts with a clean signal mask and default child and pipe handling,
    // whatever the host's thread had set.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGCHLD, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    // Like a Windows process started without handle inheritance, the program gets none of
    // the host's descriptors beyond the standard three (the report pipe closes at exec too).
    close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
    int error = 0;
    if (folder != nullptr && chdir(folder) != 0) {
        error = errno;
    } else {
        execvp(program, argv);
        error = errno;
    }
    ssize_t written = write(report_fd, &error, sizeof error);
    (void)written;
    _exit(127);
}

// Starts program (found along PATH when it has no "/") with args in folder (null: ours)
// without waiting for it. A short-lived middle process starts the program and exits at
// once, so the program is adopted by init (or the nearest subreaper) and never lingers as
// this process's zombie; the host's own SIGCHLD handling is left alone. A close-on-exec
// pipe carries exec's error back: end of file without data means the program is running.
bool SpawnDetached(const std::string& program, const std::vector<std::string>& args,
                   const char* folder) {
    if (program.empty() || args.empty())
        return false;
    // Everything the children use is built before fork: they must not allocate.
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t middle = fork();
    if (middle < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (middle == 0) {
        close(report[0]);
        const pid_t child = fork();
        if (child == 0)
            ExecInChild(program.c_str(), argv.data(), folder, report[1]);
        _exit(child < 0 ? 1 : 0);
    }
    close(report[1]);

    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do {
        got = read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    // A host that ignores SIGCHLD leaves nothing to wait for; status then stays 0.
    const bool middle_forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return middle_forked && got == 0;
}

bool PosixCreateProcess(const char* application, char* command_line, const char* working_folder) {
    std::vector<std::string> args = SplitCommandLine(command_line);
    if (args.empty())
        return false;
    // The program's own name may carry a Windows path.
    args[0] = NativePath(args[0].c_str());
    // A named application runs from its path; its first argument stays as the command
    // line gives it.
    const std::string program = application != nullptr ? NativePath(application) : args[0];
    if (working_folder == nullptr)
        return SpawnDetached(program, args, nullptr);
    return SpawnDetached(program, args, NativePath(working_folder).c_str());
}

// The desktop's opener takes one file; the parameters have no place on its command line.
bool PosixShellExecute(const char* file, const char* /*parameters*/, const char* directory) {
    std::string target = NativePath(file);
    if (target.empty())
        return false;
    const std::string folder = NativePath(directory);
    if (target[0] != '/' && !folder.empty())
        target = folder + "/" + target;
    struct stat info {};
    if (stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return SpawnDetached("xdg-open", {"xdg-open", target},
                         folder.empty() ? nullptr : folder.c_str());
}

// No Windows folder here: the search along PATH always applies.
std::uint32_t PosixGetSystemWindowsDirectory(char* buffer, std::uint32_t size) {
    if (size > 0)
        buffer[0] = '\0';
    return 0;
}

} // namespace

std::vector<std::string> SplitCommandLine(const char* command_line) {
    std::vector<std::string> args;
    const char* s = command_line != nullptr ? command_line : "";
    // The program name: up to the closing quote when quoted, else up to the first blank.
    // Backslashes mean nothing special here.
    std::string program;
    if (*s == '"') {
        for (++s; *s != '\0' && *s != '"'; ++s)
            program += *s;
        if (*s == '"')
            ++s;
    } else {
        for (; *s != '\0' && !IsBlank(*s); ++s)
            program += *s;
    }
    args.push_back(program);

    while (IsBlank(*s))
        ++s;
    while (*s != '\0') {
        std::string arg;
        bool quoted = false;
        while (*s != '\0' && (quoted || !IsBlank(*s))) {
            std::size_t backslashes = 0;
            while (*s == '\\') {
                ++backslashes;
                ++s;
            }
            if (*s == '"') {
                // 2n backslashes and a quote: n backslashes and a quote that groups;
                // 2n + 1: n backslashes and a literal quote.
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    arg += '"';
                } else if (quoted && s[1] == '"') {
                    // Two quotes inside a quoted part: one literal quote, and the part ends.
                    arg += '"';
                    ++s;
                    quoted = false;
                } else {
                    quoted = !quoted;
                }
                ++s;
            } else {
                arg.append(backslashes, '\\');
                if (*s != '\0' && (quoted || !IsBlank(*s)))
                    arg += *s++;
            }
        }
        args.push_back(arg);
        while (IsBlank(*s))
            ++s;
    }
    return args;
}

ProcessOps process_ops = {&PosixCreateProcess, &PosixShellExecute, &PosixGetSystemWindowsDirectory};

} // namespace platform
