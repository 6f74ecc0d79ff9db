#pragma once
// The application folder: where the programs, libraries, database, logs
// and settings files of one installation live together.
#include <filesystem>
#include <string>
#include <string_view>

namespace velmo {

// VELMORCAST_HOME when set, else the folder of the running executable.
std::filesystem::path AppFolder();

// Joins a path written with "\" separators ("\velmo.mdb",
// "Schedule\SchedConfig.cfg") onto a base folder; "/" separates too.
// A text that starts with "/" is taken as an absolute path of this machine.
std::filesystem::path WinPath(const std::filesystem::path& base, std::string_view winRelative);

// WinPath(AppFolder(), winRelative).
std::filesystem::path AppPath(std::string_view winRelative);

// The folder as text, without a trailing separator (what callers append
// "\velmo.mdb" to).
std::string AppFolderText();

}  // namespace velmo

namespace velmo {
// A full path written with "\" separators ("/opt/velmo\velmo.mdb") as a
// path of this machine.
std::filesystem::path NativePath(std::string_view text);
}  // namespace velmo
