#include "TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fstream>

namespace velmo {

bool AppendLine(const std::filesystem::path& file, const std::string& text) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string line = text + "\r\n";
  // One write call per line, so concurrent appenders never split a line.
  ssize_t n = ::write(fd, line.data(), line.size());
  ::close(fd);
  return n == static_cast<ssize_t>(line.size());
}

void SyncFolderOf(const std::filesystem::path& file) {
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

int OpenRegularFile(const std::filesystem::path& file, int* err, bool* notRegular) {
  auto fail = [&](int number, bool irregular) {
    if (err) *err = number;
    if (notRegular) *notRegular = irregular;
    return -1;
  };
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) return fail(errno, false);
  if (!S_ISREG(st.st_mode)) return fail(0, true);
  int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return fail(errno, false);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(0, true);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (err) *err = 0;
  if (notRegular) *notRegular = false;
  return fd;
}

bool ReadLines(const std::filesystem::path& file, std::vector<std::string>& lines) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return true;
}

}  // namespace velmo
