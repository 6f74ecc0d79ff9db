#include "TaskCredentials.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "AppFolder.h"
#include "TextFile.h"
#include "TextParts.h"

namespace velmo::scheduler {

namespace {

void SetText(std::string* out, const std::string& text) {
  if (out) *out = text;
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads at most 64 KiB from an open file.
bool ReadAll(int fd, std::string& text) {
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > 65536) return false;
  }
}

}  // namespace

std::filesystem::path CredentialsFile(const std::string& taskName) { return AppFolder() / (taskName + ".cred"); }

bool WriteTaskCredentials(const std::string& taskName, const std::string& account, const std::string& password,
                          std::string* error) {
  for (const std::string* s : {&account, &password}) {
    if (s->find('\n') != std::string::npos || s->find('\r') != std::string::npos) {
      SetText(error, "An account or password holding a line break cannot be stored.");
      return false;
    }
  }
  const auto target = CredentialsFile(taskName);
  // The temporary file is created with mode 0600 by the one open call, so
  // under any umask it is never readable by others, not even empty.
  std::random_device rd;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    tmp = (target.parent_path() / ("." + taskName + ".cred." + std::to_string(rd()))).string();
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    SetText(error, Errno("The credentials file could not be created"));
    return false;
  }
  bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, account + "\n" + password + "\n") && ::fsync(fd) == 0;
  std::string why = ok ? "" : Errno("The credentials file could not be written");
  if (::close(fd) != 0 && ok) {
    ok = false;
    why = Errno("The credentials file could not be written");
  }
  if (ok && ::rename(tmp.c_str(), target.c_str()) != 0) {
    ok = false;
    why = Errno("The credentials file could not be saved");
  } else if (ok) {
    SyncFolderOf(target);
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    SetText(error, why);
  }
  return ok;
}

bool RemoveTaskCredentials(const std::string& taskName, std::string* error) {
  if (::unlink(CredentialsFile(taskName).c_str()) == 0 || errno == ENOENT) return true;
  SetText(error, Errno("The credentials file could not be removed"));
  return false;
}

bool UpdateTaskCredentials(const std::string& taskName, const std::string& account, const std::string& password,
                           std::string* error) {
  if (!password.empty()) return WriteTaskCredentials(taskName, account, password, error);
  std::string storedAccount, storedPassword;
  if (ReadTaskCredentials(taskName, storedAccount, storedPassword) == CredentialsRead::Ok &&
      text::EqualNoCase(storedAccount, account))
    return true;
  return RemoveTaskCredentials(taskName, error);
}

CredentialsRead ReadTaskCredentials(const std::string& taskName, std::string& account, std::string& password,
                                    std::string* why) {
  account.clear();
  password.clear();
  const auto file = CredentialsFile(taskName);
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return CredentialsRead::Missing;
    SetText(why, Errno("The credentials file could not be opened"));
    return errno == ELOOP ? CredentialsRead::Refused : CredentialsRead::Unreadable;
  }
  // The checks look at the file that was opened, not at the name again.
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    SetText(why, Errno("The credentials file could not be examined"));
    ::close(fd);
    return CredentialsRead::Unreadable;
  }
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    SetText(why, "The credentials file is not a private file of this user (owner only, mode 0600).");
    ::close(fd);
    return CredentialsRead::Refused;
  }
  std::string text;
  bool ok = ReadAll(fd, text);
  ::close(fd);
  if (!ok) {
    SetText(why, "The credentials file could not be read.");
    return CredentialsRead::Unreadable;
  }
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos <= text.size() && lines.size() < 2) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  if (lines.size() < 2) {
    SetText(why, "The credentials file does not hold an account and a password.");
    return CredentialsRead::Unreadable;
  }
  account = lines[0];
  password = lines[1];
  return CredentialsRead::Ok;
}

}  // namespace velmo::scheduler
