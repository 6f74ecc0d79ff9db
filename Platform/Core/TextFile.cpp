#include "TextFile.h"

#include <fcntl.h>
#include <unistd.h>

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
