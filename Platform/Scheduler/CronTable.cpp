#include "CronTable.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ComError.h"

extern char** environ;

namespace velmo::scheduler {

namespace {

constexpr int32_t kCronFailed = Hr(0x80004005);

// The table cut into lines, each keeping its own line end, so that joining
// them gives the table back byte for byte.
std::vector<std::string> Lines(const std::string& table) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < table.size()) {
    size_t nl = table.find('\n', pos);
    size_t end = nl == std::string::npos ? table.size() : nl + 1;
    out.push_back(table.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

// A line without its line end (LF, or CR LF).
std::string Bare(const std::string& line) {
  std::string s = line;
  if (!s.empty() && s.back() == '\n') s.pop_back();
  if (!s.empty() && s.back() == '\r') s.pop_back();
  return s;
}

// Where a task's block lies: [begin, end] line indexes, end being the END
// marker, or, when the marker is missing, the last of the task's own lines
// that follow the BEGIN marker.
struct Block {
  size_t begin, end;
};

std::optional<Block> FindBlock(const std::vector<std::string>& lines, const std::string& name) {
  const std::string begin = CronTable::BeginLine(name), end = CronTable::EndLine(name);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Bare(lines[i]) != begin) continue;
    for (size_t j = i + 1; j < lines.size(); ++j)
      if (Bare(lines[j]) == end) return Block{i, j};
    size_t last = i;
    while (last + 1 < lines.size() && Bare(lines[last + 1]).find(CronTable::kRunnerStart) != std::string::npos)
      ++last;
    return Block{i, last};
  }
  return std::nullopt;
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, const std::string& input, std::string& out, std::string& err) {
  out.clear();
  err.clear();
  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return -1;
  if (::pipe2(outPipe, O_CLOEXEC) != 0) {
    ::close(inPipe[0]);
    ::close(inPipe[1]);
    return -1;
  }
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1]}) ::close(fd);
    return -1;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(inPipe[1]);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    err = std::strerror(rc);
    return -1;
  }
  // Feed the input and drain both outputs together, so a program that
  // writes much before reading all its input never blocks.
  size_t fed = 0;
  int inFd = inPipe[1];
  if (input.empty()) {
    ::close(inFd);
    inFd = -1;
  } else {
    ::fcntl(inFd, F_SETFL, O_NONBLOCK);
  }
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  int outFd = outPipe[0], errFd = errPipe[0];
  while (outFd >= 0 || errFd >= 0 || inFd >= 0) {
    pollfd fds[3];
    int n = 0;
    if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
    if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
    if (::poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      int fd = fds[i].fd;
      if (fd == inFd) {
        ssize_t w = ::write(fd, input.data() + fed, input.size() - fed);
        if (w > 0) fed += static_cast<size_t>(w);
        if (w < 0 && errno != EAGAIN && errno != EINTR) fed = input.size();
        if (fed >= input.size()) {
          ::close(inFd);
          inFd = -1;
        }
        continue;
      }
      char buf[4096];
      ssize_t r = ::read(fd, buf, sizeof buf);
      if (r > 0) {
        (fd == outFd ? out : err).append(buf, static_cast<size_t>(r));
      } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
        ::close(fd);
        (fd == outFd ? outFd : errFd) = -1;
      }
    }
  }
  if (inFd >= 0) ::close(inFd);
  if (outFd >= 0) ::close(outFd);
  if (errFd >= 0) ::close(errFd);
  ::sigaction(SIGPIPE, &old, nullptr);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string CronTable::Program() {
  const char* p = std::getenv("VELMORCAST_CRONTAB");
  return p && *p ? p : "crontab";
}

std::string CronTable::Read() {
  std::string out, err;
  int rc = RunProgram({Program(), "-l"}, "", out, err);
  if (rc == 0) return out;
  if (rc > 0 && err.find("no crontab for") != std::string::npos) return "";
  throw ComError(kCronFailed, "The crontab could not be read (" + Program() + " -l): " +
                                  (err.empty() ? "exit status " + std::to_string(rc) : Trim(err)));
}

void CronTable::Write(const std::string& table) {
  std::string out, err;
  int rc = RunProgram({Program(), "-"}, table, out, err);
  if (rc != 0)
    throw ComError(kCronFailed, "The crontab could not be written (" + Program() + " -): " +
                                    (err.empty() ? "exit status " + std::to_string(rc) : Trim(err)));
}

std::string CronTable::BeginLine(const std::string& name) { return "# BEGIN job-scheduler task " + name; }
std::string CronTable::EndLine(const std::string& name) { return "# END job-scheduler task " + name; }

std::vector<std::string> CronTable::TaskNames(const std::string& table) {
  std::vector<std::string> names;
  const std::string prefix = "# BEGIN job-scheduler task ";
  for (const auto& line : Lines(table)) {
    std::string bare = Bare(line);
    if (bare.rfind(prefix, 0) == 0 && bare.size() > prefix.size()) names.push_back(bare.substr(prefix.size()));
  }
  return names;
}

std::optional<std::vector<std::string>> CronTable::TaskLines(const std::string& table, const std::string& name) {
  auto lines = Lines(table);
  auto b = FindBlock(lines, name);
  if (!b) return std::nullopt;
  std::vector<std::string> inside;
  for (size_t i = b->begin + 1; i < b->end; ++i) inside.push_back(Bare(lines[i]));
  if (b->end > b->begin && Bare(lines[b->end]) != EndLine(name)) inside.push_back(Bare(lines[b->end]));
  return inside;
}

std::string CronTable::WithTask(const std::string& table, const std::string& name,
                                const std::vector<std::string>& taskLines) {
  std::string block = BeginLine(name) + "\n";
  for (const auto& l : taskLines) block += l + "\n";
  block += EndLine(name) + "\n";
  auto lines = Lines(table);
  auto b = FindBlock(lines, name);
  std::string out;
  if (!b) {
    out = table;
    if (!out.empty() && out.back() != '\n') out += "\n";
    return out + block;
  }
  for (size_t i = 0; i < b->begin; ++i) out += lines[i];
  out += block;
  for (size_t i = b->end + 1; i < lines.size(); ++i) out += lines[i];
  return out;
}

std::string CronTable::WithoutTask(const std::string& table, const std::string& name) {
  auto lines = Lines(table);
  auto b = FindBlock(lines, name);
  if (!b) return table;
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i)
    if (i < b->begin || i > b->end) out += lines[i];
  return out;
}

}  // namespace velmo::scheduler
