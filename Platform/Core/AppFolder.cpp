#include "AppFolder.h"

#include <cstdlib>
#include <system_error>

namespace velmo {

std::filesystem::path AppFolder() {
  if (const char* home = std::getenv("VELMORCAST_HOME"); home && *home)
    return std::filesystem::path(home);
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path();
  return exe.parent_path();
}

std::filesystem::path WinPath(const std::filesystem::path& base, std::string_view winRelative) {
  // A path that starts with "/" is already a path of this machine; one that
  // starts with "\" (or has no leading separator) lies under the base.
  if (!winRelative.empty() && winRelative.front() == '/') return std::filesystem::path(std::string(winRelative));
  std::filesystem::path out = base;
  std::string piece;
  for (char c : winRelative) {
    if (c == '\\' || c == '/') {
      if (!piece.empty()) out /= piece;
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!piece.empty()) out /= piece;
  return out;
}

std::filesystem::path AppPath(std::string_view winRelative) { return WinPath(AppFolder(), winRelative); }

std::string AppFolderText() {
  std::string s = AppFolder().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace velmo

namespace velmo {
std::filesystem::path NativePath(std::string_view text) {
  std::string s(text);
  for (auto& c : s)
    if (c == '\\') c = '/';
  return std::filesystem::path(s);
}
}  // namespace velmo
