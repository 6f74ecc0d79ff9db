#pragma once
// The providers folder: where the file-backed stand-ins for outside
// services (server list, accounts, information stores, profiles,
// registries) read their files. It is the folder VELMORCAST_PROVIDERS
// names when that is set (tests, the sample run), else "providers" in the
// application folder, so a run started by cron finds the same files.
//
// Helpers shared by every provider: names of files and folders match
// without regard to case, and the text formats are lines of TAB-separated
// fields where blank lines and lines starting with "#" are ignored.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::providers {

// VELMORCAST_PROVIDERS when set and not empty, else AppFolder()/"providers".
std::filesystem::path ProviderFolder();

// A file below the providers folder, each component of `relative` ("/" or
// "\" separated, e.g. "stores/EX1.txt") matched without regard to case.
// nullopt when there is none.
std::optional<std::filesystem::path> FindProviderFile(std::string_view relative);

// The same below another folder.
std::optional<std::filesystem::path> FindFileNoCase(const std::filesystem::path& folder,
                                                    std::string_view relative);

// ASCII letters compared without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string UpperAscii(std::string_view s);

// One line of a provider file: its number (from 1) and its fields.
struct Record {
  int line = 0;
  std::vector<std::string> fields;
  // Field i, or "" when the line has fewer fields.
  const std::string& Field(size_t i) const;
};

// Reads a provider file: lines split at TAB, a trailing CR removed, blank
// lines and "#" comment lines skipped, blanks around each field trimmed.
// A UTF-8 byte-order mark is ignored. False when the file cannot be read.
bool ReadRecords(const std::filesystem::path& file, std::vector<Record>& records);

// Lines grouped in "[Section]" blocks (an INI-like file whose sections hold
// TAB-separated records). Records before the first section belong to "".
struct Section {
  std::string name;
  int line = 0;
  std::vector<Record> records;
};
bool ReadSections(const std::filesystem::path& file, std::vector<Section>& sections);
// The section of that name (without regard to case), or nullptr.
const Section* FindSection(const std::vector<Section>& sections, std::string_view name);

// A number written in decimal or as 0x-prefixed hexadecimal; nullopt when
// the text is not one (or does not fit in 64 bits).
std::optional<uint64_t> ParseNumber(std::string_view text);

}  // namespace velmo::providers
