// Help display: the help file Rizi.chm in a folder that the host names, shown by starting
// the platform's HTML Help viewer "hh.exe" without waiting for it. File probes and program
// launch go through platform/files.h and platform/process.h.
#pragma once

#include "plugin/thread_text.h"

#include <cstdint>

namespace plugin {

// QueryFileSize results other than a size.
constexpr std::int64_t NothingThere = -1;
constexpr std::int64_t FolderOrDrive = -2;

// folder + "\" + "Rizi.chm" (null folder: empty), in text's storage; null on failure.
char* BuildHelpPath(TemporaryText& text, const char* folder);

// The action name lower-cased (ANSI) with every "." replaced by "_"; null on failure.
char* HelpPageName(TemporaryText& text, const char* action_name);

// The size of the file at path; NothingThere when nothing of that name exists (also for a
// null or empty path), FolderOrDrive for a folder or a drive.
std::int64_t QueryFileSize(const char* path);

// The path up to and including its last "/" or "\" before any "|", after one leading quote;
// empty when there is none. Null on failure.
char* FolderPart(TemporaryText& text, const char* path);

// Starts program with parameters (unquoted) in working_folder (empty: the caller's) without
// waiting; falls back to the shell. With an application path, that file is run (and given
// to the shell) rather than whatever the system's search finds for program; the command
// line still names program. 1 when started, else 0.
std::int32_t LaunchProgram(const char* program, const char* parameters, const char* working_folder,
                           const char* application = nullptr);

// Starts the viewer on the help file in folder: 1 when started, 0 when the file is absent or
// the viewer did not start. The viewer is the system's Windows folder's "hh.exe" when there
// is one (never one planted in the host's or the current folder), else whatever the search
// finds.
std::int32_t ShowHelpForPlugin(const char* folder);

// Starts the viewer on the action's page of the help file in folder; results as above.
std::int32_t ShowHelpForAction(const char* action_name, const char* folder);

} // namespace plugin
