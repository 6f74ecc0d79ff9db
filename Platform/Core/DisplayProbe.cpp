#include "DisplayProbe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace velmo {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// A connect to a local socket, by file name or (abstract) by name alone.
bool UnixAnswers(const std::string& path, bool abstract) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t offset = abstract ? 1 : 0;
  if (path.empty() || path.size() + offset >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path + offset, path.data(), path.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() +
                                               (abstract ? 0 : 1));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
  ::close(fd);
  return ok;
}

bool TcpAnswers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool ok = false;
  for (addrinfo* a = found; a && !ok; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      ok = true;
    } else if (errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int err = 0;
      socklen_t len = sizeof err;
      ok = ::poll(&p, 1, 1000) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return ok;
}

// DISPLAY is [host]:number[.screen].
bool X11Answers(const std::string& display) {
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = display.substr(0, colon);
  if (const size_t slash = host.find('/'); slash != std::string::npos) host = host.substr(slash + 1);
  const std::string rest = display.substr(colon + 1);
  char* end = nullptr;
  const long number = std::strtol(rest.c_str(), &end, 10);
  if (end == rest.c_str() || number < 0 || number > 65535 - 6000) return false;
  if (host.empty() || host == "unix") {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    return UnixAnswers(socket, true) || UnixAnswers(socket, false);
  }
  return TcpAnswers(host, 6000 + static_cast<int>(number));
}

bool WaylandAnswers(const std::string& name) {
  if (name[0] == '/') return UnixAnswers(name, false);
  const std::string runtime = Env("XDG_RUNTIME_DIR");
  return !runtime.empty() && UnixAnswers(runtime + "/" + name, false);
}

}  // namespace

bool DisplayAnswers() {
  const std::string x11 = Env("DISPLAY");
  const std::string wayland = Env("WAYLAND_DISPLAY");
  return (!x11.empty() && X11Answers(x11)) || (!wayland.empty() && WaylandAnswers(wayland));
}

}  // namespace velmo
