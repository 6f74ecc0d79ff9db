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

// Reads a text file's lines (CR LF or LF); false when it cannot be opened.
// A last line without a line end is kept.
bool ReadLines(const std::filesystem::path& file, std::vector<std::string>& lines);

}  // namespace velmo
