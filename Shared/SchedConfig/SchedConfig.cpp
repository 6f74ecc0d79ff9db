#include "SchedConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "AppFolder.h"
#include "TextFile.h"
#include "TextParts.h"

namespace velmo {

namespace {

// The number a field holds, 0 when it holds none (leading digits count,
// as the schedule windows read them).
long NumberOf(const std::string& s) {
  const char* p = s.c_str();
  while (*p == ' ') ++p;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(p, &end, 10);
  if (end == p || errno == ERANGE) return 0;
  return v;
}

bool IsKind(const std::string& s) { return s.size() == 1 && s[0] >= '0' && s[0] <= '7'; }

std::string Join(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += kSchedFieldSep;
    out += fields[i];
  }
  return out;
}

std::vector<std::string> TaskFields(const ScheduleTaskEntry& t) {
  return {t.jobName,
          t.account,
          std::to_string(t.triggerKind),
          t.startTime,
          t.count,
          t.dayList,
          std::to_string(t.weekIndex),
          std::to_string(t.weekdayIndex),
          t.startDate,
          t.endDate,
          std::to_string(t.repeatFlag),
          std::to_string(t.repeatInterval),
          std::to_string(t.repeatDuration),
          t.stopAtEnd};
}

std::vector<std::string> ServerFields(const ScheduledServerEntry& s) {
  return {s.serverName, s.reportName,   s.profileName,  s.operation,
          s.printerName, s.exportFormat, s.outputFolder, s.runStamp};
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

void SetErrno(std::string* error, int err, bool notRegular) {
  SetError(error, notRegular ? std::string("The file is not a regular file.")
                             : std::string("The file could not be opened: ") + std::strerror(err));
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// What is kept of a skipped line's text.
constexpr size_t kShown = 1024;

// What keeps a line from being read, from its first bad byte on: a
// control character or bytes that are not UTF-8 (the file is written as
// UTF-8, so a name typed in another code page is damage too).
std::optional<SchedSkippedLine::Why> Damage(std::string_view line) {
  for (size_t i = 0; i < line.size();) {
    if (IsControl(static_cast<unsigned char>(line[i]))) return SchedSkippedLine::Why::Control;
    const size_t n = text::Utf8CharLength(line, i);
    if (n == 0) return SchedSkippedLine::Why::NotUtf8;
    i += n;
  }
  return std::nullopt;
}

// Opens the file with the one open helper and hands its bytes to `take`
// block by block, until the end or until `take` returns false (having set
// its reason). False with the reason when it cannot be opened or read.
bool ReadBlocks(const std::filesystem::path& file, std::string* error, bool* notRegular,
                const std::function<bool(const char*, size_t)>& take) {
  int err = 0;
  bool irregular = false;
  const int fd = OpenRegularFile(file, &err, &irregular);
  if (notRegular) *notRegular = irregular;
  if (fd < 0) {
    SetErrno(error, err, irregular);
    return false;
  }
  std::vector<char> buf(65536);
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      SetError(error, std::string("The file could not be read: ") + std::strerror(errno));
      ok = false;
      break;
    }
    if (!take(buf.data(), static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  return ok;
}

// The file's lines without their line ends, each at most kSchedMaxLine
// bytes, read in blocks so that memory stays bounded whatever the file
// holds; a UTF-8 byte-order mark at the start is dropped. A line that is
// too long, holds a control character (other than the CR of a CR LF end)
// or is not UTF-8 is left out and noted in *skipped, with at most the start
// of its text. `numbers`, when given, gets each kept line's number.
bool ReadBoundedLines(const std::filesystem::path& file, std::vector<std::string>& lines,
                      DamagedLines<SchedSkippedLine>* skipped, std::string* error, bool* notRegular,
                      std::vector<int>* numbers = nullptr) {
  std::string line;
  bool tooLong = false;
  int number = 0;
  bool first = true;
  auto finish = [&] {
    ++number;
    if (!tooLong && !line.empty() && line.back() == '\r') line.pop_back();
    if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    first = false;
    const auto why = tooLong ? std::optional(SchedSkippedLine::Why::TooLong) : Damage(line);
    if (why) {
      if (skipped) skipped->Add({number, *why, line.substr(0, kShown), {}});
    } else {
      lines.push_back(std::move(line));
      if (numbers) numbers->push_back(number);
    }
    line.clear();
    tooLong = false;
  };
  bool pending = false;  // bytes of a line not yet ended
  const bool ok = ReadBlocks(file, error, notRegular, [&](const char* p, size_t n) {
    const char* end = p + n;
    while (p < end) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      const char* stop = nl ? nl : end;
      const size_t len = static_cast<size_t>(stop - p);
      if (!tooLong) {
        // A CR that ends the line does not count towards its length.
        if (line.size() + len > kSchedMaxLine + 1) {
          tooLong = true;
          if (line.size() < kShown) line.append(p, std::min(len, kShown - line.size()));
        } else {
          line.append(p, len);
        }
      }
      pending = true;
      if (!nl) break;
      if (!tooLong && line.size() > kSchedMaxLine && line.back() != '\r') tooLong = true;
      finish();
      pending = false;
      p = nl + 1;
    }
    return true;
  });
  if (!ok) return false;
  if (pending) {
    if (!tooLong && line.size() > kSchedMaxLine && line.back() != '\r') tooLong = true;
    finish();
  }
  return true;
}

// Why the scheduled run cannot carry a server line out as it stands, if
// it cannot. An empty operation collects the server and writes nothing.
std::optional<SchedSkippedLine::Why> NotCarriedOut(const ScheduledServerEntry& s, size_t fields) {
  const std::string& op = s.operation;
  const bool exports = op == "Export" || op == "Both";
  const bool prints = op == "Print" || op == "Both";
  if (s.serverName.empty()) return SchedSkippedLine::Why::NoServer;
  if (!op.empty() && !exports && !prints) return SchedSkippedLine::Why::NoOperation;
  // A line that only collects is written with all its fields; one that ends
  // before its stamp is a file cut short, not a schedule without output.
  if (op.empty() && fields < 8) return SchedSkippedLine::Why::NoOperation;
  if (exports && s.exportFormat != "MDB" && s.exportFormat != "CSV" && s.exportFormat != "HTML")
    return SchedSkippedLine::Why::NoExportFormat;
  if (prints && s.printerName.empty()) return SchedSkippedLine::Why::NoPrinter;
  // An output line cut short is told as the empty-operation one is: its
  // files would be named without a stamp.
  if (fields < 8) return SchedSkippedLine::Why::NoOperation;
  if (exports && !SchedFolderIsFullPath(s.outputFolder)) return SchedSkippedLine::Why::NotFullPath;
  return std::nullopt;
}

bool IsTaskRecord(const std::string& line) {
  std::string_view v(line);
  std::string_view job(kSchedTaskJob);
  return v.substr(0, v.find(kSchedFieldSep)) == job;
}

// Writes the text to a new file beside the target and renames it over the
// target. The new file keeps the mode of the one it replaces (0644 when
// there was none).
bool ReplaceFile(const std::filesystem::path& file, const std::string& text, std::string* error) {
  std::string tmpl = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    SetError(error, std::string("The file could not be created: ") + std::strerror(errno));
    return false;
  }
  struct stat st {};
  mode_t mode = 0644;
  if (::stat(file.c_str(), &st) == 0) mode = st.st_mode & 07777;
  bool ok = ::fchmod(fd, mode) == 0;
  size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  int savedErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(name.data(), file.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  } else if (ok) {
    SyncFolderOf(file);
  }
  if (!ok) {
    ::unlink(name.data());
    SetError(error, std::string("The file could not be written: ") + std::strerror(savedErrno));
  }
  return ok;
}

bool CheckFields(const std::vector<std::string>& fields, std::string* error) {
  for (const auto& f : fields) {
    if (!SchedFieldCarries(f)) {
      SetError(error, "A field holds @@@, a line break or a control character, or ends with @: " +
                          EscapedSchedText(f));
      return false;
    }
  }
  return true;
}

bool CheckServer(const ScheduledServerEntry& s, std::string* error) {
  // A server named as the job would be read back as a task line.
  if (s.serverName == kSchedTaskJob || s.serverName == kSchedHeader) {
    SetError(error, "A server cannot be named " + s.serverName + ".");
    return false;
  }
  return CheckFields(ServerFields(s), error);
}

std::string Pad(int v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, v);
  return buf;
}

}  // namespace

std::filesystem::path SchedConfigPath() { return AppPath("Schedule\\SchedConfig.cfg"); }

std::vector<std::string> SplitSchedFields(std::string_view line) {
  std::vector<std::string> out;
  const std::string_view sep(kSchedFieldSep);
  size_t pos = 0;
  for (;;) {
    size_t at = line.find(sep, pos);
    if (at == std::string_view::npos) {
      out.emplace_back(line.substr(pos));
      return out;
    }
    out.emplace_back(line.substr(pos, at - pos));
    pos = at + sep.size();
  }
}

std::string FormatTaskLine(const ScheduleTaskEntry& task) { return Join(TaskFields(task)); }
std::string FormatServerLine(const ScheduledServerEntry& server) { return Join(ServerFields(server)); }

bool ParseTaskLine(std::string_view line, ScheduleTaskEntry& task) {
  auto f = SplitSchedFields(line);
  if (f.size() < 14 || f[0] != kSchedTaskJob || !IsKind(f[2])) return false;
  ScheduleTaskEntry t;
  t.jobName = f[0];
  t.account = f[1];
  t.triggerKind = f[2][0] - '0';
  t.startTime = f[3];
  t.count = f[4];
  t.dayList = f[5];
  t.weekIndex = static_cast<int>(NumberOf(f[6]));
  t.weekdayIndex = static_cast<int>(NumberOf(f[7]));
  t.startDate = f[8];
  t.endDate = f[9];
  t.repeatFlag = static_cast<int>(NumberOf(f[10]));
  t.repeatInterval = NumberOf(f[11]);
  t.repeatDuration = NumberOf(f[12]);
  t.stopAtEnd = f[13];
  task = t;
  return true;
}

ScheduledServerEntry ParseServerLine(std::string_view line, size_t* fields) {
  auto f = SplitSchedFields(line);
  if (fields) *fields = f.size();
  f.resize(8);
  return {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]};
}

bool ReadSchedConfig(const std::filesystem::path& file, SchedConfigContents& out, std::string* error,
                     bool* notRegular, bool forRun) {
  std::vector<std::string> lines;
  std::vector<int> numbers;
  SchedConfigContents c;
  if (!ReadBoundedLines(file, lines, &c.skipped, error, notRegular, &numbers)) return false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty() || line == kSchedHeader) continue;
    if (IsTaskRecord(line)) {
      ScheduleTaskEntry t;
      if (ParseTaskLine(line, t)) {
        c.task = t;
        c.hasTask = true;
      }
      continue;
    }
    size_t fields = 0;
    ScheduledServerEntry server = ParseServerLine(line, &fields);
    if (forRun) {
      if (const auto why = NotCarriedOut(server, fields)) {
        c.skipped.Add({numbers[i], *why, line.substr(0, kShown),
                       *why == SchedSkippedLine::Why::NotFullPath ? server.outputFolder : server.exportFormat});
        continue;
      }
    }
    c.servers.push_back(std::move(server));
  }
  out = std::move(c);
  return true;
}

bool SchedFolderIsFullPath(std::string_view folder) {
  const std::filesystem::path p = NativePath(folder);
  return !p.empty() && p.is_absolute();
}

bool SchedFieldCarries(std::string_view value) {
  if (value.find(kSchedFieldSep) != std::string_view::npos) return false;
  // A value ending with "@" would run into the separator after it and be
  // read back with its "@" moved to the start of the next field.
  if (!value.empty() && value.back() == '@') return false;
  return !Damage(value);
}

std::string EscapedSchedText(std::string_view text, size_t limit) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  size_t i = 0;
  size_t chars = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::string piece;
    size_t take = 1;
    if (c >= 0x80) {
      // A well-formed UTF-8 character is shown as it is, any other byte
      // escaped.
      take = velmo::text::Utf8CharLength(text, i);
      if (take == 0) {
        take = 1;
        piece = std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
      }
    } else if (IsControl(c)) {
      piece = std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
    }
    if (piece.empty()) piece.assign(text.substr(i, take));
    if (chars + (piece.size() > take ? piece.size() : 1) > limit) {
      out += "...";
      return out;
    }
    chars += piece.size() > take ? piece.size() : 1;
    out += piece;
    i += take;
  }
  return out;
}

std::string SkippedLineText(const std::filesystem::path& file, const SchedSkippedLine& skipped) {
  using Why = SchedSkippedLine::Why;
  std::string why;
  switch (skipped.why) {
    case Why::TooLong: why = "Line Too Long"; break;
    case Why::NotUtf8: why = "Not UTF-8 Text"; break;
    case Why::Control: why = "Control Characters"; break;
    case Why::NoOperation: why = "Operation Not Export, Print Or Both"; break;
    // The format as the line holds it: an empty one shows as ''.
    case Why::NoExportFormat:
      why = "Export Format Not MDB, CSV Or HTML : '" + EscapedSchedText(skipped.value, 40) + "'";
      break;
    case Why::NoPrinter: why = "Printer Name Empty"; break;
    case Why::NotFullPath:
      why = "Export Folder Not A Full Path : '" + EscapedSchedText(skipped.value, 200) + "'";
      break;
    case Why::NoServer: why = "Server Name Empty"; break;
  }
  return file.string() + " : line " + std::to_string(skipped.line) + " : " + why + " : " +
         EscapedSchedText(skipped.text);
}

std::string SkippedLinesMoreText(const std::filesystem::path& file, size_t more) {
  return file.string() + " : " + std::to_string(more) + " more lines skipped";
}

bool SchedTaskCarries(const ScheduleTaskEntry& task, std::string* error) {
  return CheckFields(TaskFields(task), error);
}

bool WriteSchedConfig(const std::filesystem::path& file, const ScheduleTaskEntry* task,
                      const std::vector<ScheduledServerEntry>& servers, std::string* error) {
  std::string text = std::string(kSchedHeader) + "\r\n";
  if (task) {
    auto f = TaskFields(*task);
    if (!CheckFields(f, error)) return false;
    text += Join(f) + "\r\n";
  }
  for (const auto& s : servers) {
    if (!CheckServer(s, error)) return false;
    text += FormatServerLine(s) + "\r\n";
  }
  return ReplaceFile(file, text, error);
}

namespace {

// A line as written back: its own end, or CR LF when it had none (the
// file's last line), so that nothing written after it joins it.
std::string Ended(const std::string& bytes) {
  return !bytes.empty() && bytes.back() == '\n' ? bytes : bytes + "\r\n";
}

}  // namespace

std::string SchedRawLine::Text() const {
  std::string text = bytes;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

bool ReadSchedConfigLines(const std::filesystem::path& file, std::vector<SchedRawLine>& lines, std::string* error,
                          bool* notRegular) {
  std::string all;
  const bool ok = ReadBlocks(file, error, notRegular, [&](const char* p, size_t n) {
    if (all.size() + n > kSchedMaxKeptFile) {
      SetError(error, "The file is larger than " + std::to_string(kSchedMaxKeptFile / (1024 * 1024)) + " MB.");
      return false;
    }
    all.append(p, n);
    return true;
  });
  if (!ok) return false;
  std::vector<SchedRawLine> out;
  if (all.rfind("\xEF\xBB\xBF", 0) == 0) all.erase(0, 3);
  for (size_t start = 0; start < all.size();) {
    const size_t nl = all.find('\n', start);
    const size_t stop = nl == std::string::npos ? all.size() : nl + 1;
    SchedRawLine line;
    line.number = static_cast<int>(out.size()) + 1;
    line.bytes = all.substr(start, stop - start);
    const std::string text = line.Text();
    using Kind = SchedRawLine::Kind;
    if (text.size() > kSchedMaxLine) {
      line.kind = Kind::Unreadable;
      line.why = SchedSkippedLine::Why::TooLong;
    } else if (const auto why = Damage(text)) {
      line.kind = Kind::Unreadable;
      line.why = *why;
    } else {
      line.kind = text.empty() ? Kind::Blank : text == kSchedHeader ? Kind::Header
                  : IsTaskRecord(text)                            ? Kind::Task
                                                                  : Kind::Server;
    }
    out.push_back(std::move(line));
    start = stop;
  }
  lines = std::move(out);
  return true;
}

bool WriteSchedServersKeepingLines(const std::filesystem::path& file, const std::vector<std::string>& serverLines,
                                   std::string* error) {
  using Kind = SchedRawLine::Kind;
  std::vector<SchedRawLine> lines;
  std::error_code ec;
  if (std::filesystem::symlink_status(file, ec).type() != std::filesystem::file_type::not_found &&
      !ReadSchedConfigLines(file, lines, error))
    return false;
  std::string header = std::string(kSchedHeader) + "\r\n";
  std::string tasks, unreadable;
  bool headerSeen = false;
  for (const auto& line : lines) {
    if (line.kind == Kind::Header && !headerSeen) {
      header = Ended(line.bytes);
      headerSeen = true;
    } else if (line.kind == Kind::Task) {
      tasks += Ended(line.bytes);
    } else if (line.kind == Kind::Unreadable) {
      unreadable += Ended(line.bytes);
    }
  }
  std::string text = header + tasks;
  for (const auto& line : serverLines) text += line;
  return ReplaceFile(file, text + unreadable, error);
}

bool WriteSchedTaskKeepingServers(const std::filesystem::path& file, const ScheduleTaskEntry& task,
                                  std::string* error) {
  using Kind = SchedRawLine::Kind;
  auto f = TaskFields(task);
  if (!CheckFields(f, error)) return false;
  std::vector<SchedRawLine> lines;
  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !ReadSchedConfigLines(file, lines, error)) return false;
  std::string text = std::string(kSchedHeader) + "\r\n" + Join(f) + "\r\n";
  for (const auto& line : lines)
    if (line.kind == Kind::Server || line.kind == Kind::Unreadable) text += Ended(line.bytes);
  return ReplaceFile(file, text, error);
}

std::string SchedDateText(const std::tm& t) {
  return Pad(t.tm_mon + 1, 2) + strDateSep + Pad(t.tm_mday, 2) + strDateSep + Pad(t.tm_year + 1900, 4);
}

std::string SchedTimeText(const std::tm& t) { return Pad(t.tm_hour, 2) + strTimeSep + Pad(t.tm_min, 2); }

std::string RunStampText(const std::tm& t) {
  return Pad(t.tm_mon + 1, 2) + "_" + Pad(t.tm_mday, 2) + "_" + Pad(t.tm_year + 1900, 4) + "_" + Pad(t.tm_hour, 2) +
         "_" + Pad(t.tm_min, 2) + "_" + Pad(t.tm_sec, 2);
}

}  // namespace velmo
