#pragma once
// Reading the program's own text files (provider files, the directory host
// map) and logging the lines of them a reader cannot use: the version of a
// file, a whole-file reader that never waits on anything but a regular file,
// and the capped log of damaged lines.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DamagedLines.h"

namespace velmo {

// One version of a file: a file rewritten, replaced or touched gets another
// stamp, so a reader that keeps a parsed file reads it again.
struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // nanoseconds
  int64_t changed = 0;   // nanoseconds
  bool operator==(const FileStamp&) const = default;
};

// The version of a file as it is now (one stat); nullopt when there is none.
std::optional<FileStamp> StampOf(const std::filesystem::path& file);
// The version a stat describes.
FileStamp StampOf(const struct stat& st);

// The text every refused file gives, as the system's own "access denied"
// reads.
inline constexpr const char* kAccessDenied = "Access is denied.";

// Reads a whole file. Only a regular file is read: a named pipe, a device or
// a socket is refused before it is opened (opening a named pipe waits for a
// writer, for good) with kAccessDenied, a folder as the system says ("Is a
// directory"). False, with *error
// saying why, when the file is refused or cannot be read; *stamp is the
// version that was read.
bool ReadRegularFile(const std::filesystem::path& file, std::string& bytes, FileStamp* stamp = nullptr,
                     std::string* error = nullptr);

// The lines of a file a reader cannot read go to the program's error log
// "VelmorcastErrorLog.log" in the application folder, in the shared line
// shape (time, number, description, context), each line of a version of a
// file once however often that version is read, at most kMaxLoggedLines of
// them per version (then one line saying so). What an object keeps does not
// grow with the number of lines reported.
// Where the lines go instead of the error log: the program's own log
// (the scheduled run's), given each line's description and context; an
// empty function sends them to the error log again.
using BadLinesLog = std::function<void(const std::string& description, const std::string& context)>;
void SetBadLinesLog(BadLinesLog log);

class BadLines {
 public:
  // context: what was being read ("Account names", ...).
  BadLines(std::filesystem::path file, FileStamp stamp, std::string context);
  // Writes what was reported, in line order.
  ~BadLines();
  BadLines(const BadLines&) = delete;
  BadLines& operator=(const BadLines&) = delete;
  // Reports line `line` (from 1) of the file with the reason; 0 for the
  // file as a whole.
  void Report(int line, const std::string& why);
  // How many lines were reported on this object.
  int Count() const { return static_cast<int>(reported_.Count()); }
  const std::filesystem::path& File() const { return file_; }

 private:
  std::filesystem::path file_;
  FileStamp stamp_;
  std::string context_;
  struct Reported {
    int line = 0;
    std::string why;
  };
  DamagedLines<Reported> reported_;
};

}  // namespace velmo
