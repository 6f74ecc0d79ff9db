#pragma once
// Small text-file helpers: append a line, read all lines.
#include <filesystem>
#include <string>
#include <vector>

namespace velmo {

// Appends text and CR LF to the file, creating it (not its folder) when
// missing. The file is opened and closed for the one line, so lines of
// several processes interleave whole. Returns false when it could not write.
bool AppendLine(const std::filesystem::path& file, const std::string& text);

// Opens a file for reading without ever waiting on it. Only a regular file
// is opened: a named pipe (whose plain open waits for a writer, for good), a
// device, a socket or a folder is refused before it is opened, and, should
// the name be swapped meanwhile, by a look at what was opened (the open does
// not wait: O_NONBLOCK, then fstat). The descriptor is returned in blocking
// mode and closes on exec; -1 on failure, with *err the errno of the failure
// (0 when the file is not a regular file) and *notRegular set accordingly.
int OpenRegularFile(const std::filesystem::path& file, int* err = nullptr, bool* notRegular = nullptr);

// Syncs the folder holding `file`, after a file was renamed into place
// there, so that the new name survives a power cut as the synced contents
// do. The write itself is done by then: a folder that cannot be opened (a
// drop box this user may write but not read) or synced is no failure of
// it, as SQLite treats its own folder syncs, and nothing is reported.
void SyncFolderOf(const std::filesystem::path& file);

// Reads a text file's lines (CR LF or LF); false when it cannot be opened.
// A last line without a line end is kept.
bool ReadLines(const std::filesystem::path& file, std::vector<std::string>& lines);

}  // namespace velmo
