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
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "BadLines.h"
#include "TextParts.h"

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
inline bool EqualsNoCase(std::string_view a, std::string_view b) { return text::EqualNoCase(a, b); }
using text::UpperAscii;

// Shared with every reader of the program's files (BadLines.h).
using velmo::BadLines;
using velmo::FileStamp;
using velmo::kAccessDenied;
using velmo::kMaxLoggedLines;
using velmo::ReadRegularFile;
using velmo::StampOf;

// One line of a provider file: its number (from 1) and its fields.
struct Record {
  int line = 0;
  std::vector<std::string> fields;
  // Field i, or "" when the line has fewer fields.
  const std::string& Field(size_t i) const;
};

// Lines grouped in "[Section]" blocks (an INI-like file whose sections hold
// TAB-separated records). Records before the first section belong to "".
struct Section {
  std::string name;
  int line = 0;
  std::vector<Record> records;
};

// Splits the text of a provider file into records: lines split at TAB, a
// trailing CR removed, blank lines and "#" comment lines skipped, blanks
// around each field trimmed. A UTF-8 byte-order mark is ignored. A line
// that is not text (control characters, bytes that are not UTF-8) is
// reported to `bad` (when given) and left out.
std::vector<Record> ParseRecords(std::string_view text, BadLines* bad = nullptr);
std::vector<Section> ParseSections(std::string_view text, BadLines* bad = nullptr);

// The section of that name (without regard to case), or nullptr.
const Section* FindSection(const std::vector<Section>& sections, std::string_view name);

// A number written in decimal or as 0x-prefixed hexadecimal; nullopt when
// the text is not one (or does not fit in 64 bits).
std::optional<uint64_t> ParseNumber(std::string_view text);

// A lookup round of the calling thread: while one is open, each provider
// file kept by ParsedFiles is looked at (stat) at most once, however many
// lookups the round makes. A call that looks up thousands of accounts (a
// page of a collection) opens one for the call, so a file changed on disk
// is seen by the next call. Rounds nest; the outermost one counts.
class LookupRound {
 public:
  LookupRound();
  ~LookupRound();
  LookupRound(const LookupRound&) = delete;
  LookupRound& operator=(const LookupRound&) = delete;
  // The calling thread's open round (0 when none).
  static uint64_t Current();
};

// A provider file parsed into T, kept while the file stays as it was. Get
// looks the file up once (one stat per call, once per lookup round inside
// one) and reads and parses it again only when its version changed; bad lines are reported while parsing, so
// each is logged once per version. Missing, refused and unreadable files
// give nullptr. Safe to use from any thread.
struct ProviderText {
  const std::filesystem::path& file;
  const std::string& bytes;
  BadLines& bad;
};
class ParsedFiles {
 public:
  using Parse = std::function<std::shared_ptr<const void>(const ProviderText&)>;
  explicit ParsedFiles(std::string context) : context_(std::move(context)) {}
  // `relative` names the file below the providers folder ("stores/EX1.txt").
  std::shared_ptr<const void> Get(std::string_view relative, const Parse& parse);

 private:
  struct Entry {
    std::filesystem::path folder;  // the providers folder it was found in
    std::filesystem::path file;
    FileStamp stamp;
    std::shared_ptr<const void> value;
    uint64_t round = 0;  // the lookup round it was last looked at in
    // False while the file was read within moments of its last change: a
    // change made in the same tick of the file system's clock would leave
    // its stamp as it was, so such a version is read again next time.
    bool settled = false;
  };
  std::shared_ptr<const void> Load(Entry& entry, const struct stat& st, const Parse& parse);
  std::string context_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;  // by relative name, upper case
};

template <class T>
class ProviderCache {
 public:
  explicit ProviderCache(std::string context) : files_(std::move(context)) {}
  // parse: T(const ProviderText&).
  template <class F>
  std::shared_ptr<const T> Get(std::string_view relative, F parse) {
    return std::static_pointer_cast<const T>(files_.Get(relative, [&](const ProviderText& text) {
      return std::shared_ptr<const void>(std::make_shared<const T>(parse(text)));
    }));
  }

 private:
  ParsedFiles files_;
};

}  // namespace velmo::providers
