#include "DisplayProbe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include "TextFile.h"

namespace velmo {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

class Socket {
 public:
  explicit Socket(int fd = -1) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket& operator=(Socket&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Everything one display's set-up may take, and how it went wrong.
struct Exchange {
  Clock::time_point deadline;
  std::string bound;  // the bound as text: "2 s"
  std::string why;

  int Left() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  }
  // Waits for the socket to be ready for `events`; false once the time is up.
  bool Ready(int fd, short events) const {
    for (;;) {
      pollfd p{fd, events, 0};
      const int n = ::poll(&p, 1, Left());
      if (n > 0) return true;
      if (n == 0) return false;
      if (errno != EINTR) return true;  // the next call says what is wrong
    }
  }
  bool Fail(const std::string& text) {
    why = text;
    return false;
  }
  bool Send(int fd, const std::string& data, const std::string& peer) {
    for (size_t sent = 0; sent < data.size();) {
      const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        if (!Ready(fd, POLLOUT)) return Fail(peer + " did not answer within " + bound);
      } else {
        return Fail(peer + " closed the connection: " + std::strerror(errno));
      }
    }
    return true;
  }
  bool Receive(int fd, void* to, size_t size, const std::string& peer) {
    char* at = static_cast<char*>(to);
    for (size_t got = 0; got < size;) {
      const ssize_t n = ::recv(fd, at + got, size - got, 0);
      if (n > 0) {
        got += static_cast<size_t>(n);
      } else if (n == 0) {
        return Fail(peer + " closed the connection without an answer");
      } else if (errno == EAGAIN || errno == EINTR) {
        if (!Ready(fd, POLLIN)) return Fail(peer + " did not answer within " + bound);
      } else {
        return Fail(peer + " closed the connection: " + std::strerror(errno));
      }
    }
    return true;
  }
};

// A connected non-blocking local socket, by file name or (abstract) by name.
Socket ConnectLocal(const std::string& path, bool abstract, std::string& why) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t offset = abstract ? 1 : 0;
  if (path.empty() || path.size() + offset >= sizeof addr.sun_path) {
    why = "the socket name is too long: " + path;
    return Socket();
  }
  std::memcpy(addr.sun_path + offset, path.data(), path.size());
  const auto len =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
  Socket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (s.fd() < 0 || ::connect(s.fd(), reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    why = "nothing accepts connections at " + path + ": " + std::strerror(errno);
    return Socket();
  }
  return s;
}

// The host's addresses, looked up within what is left of the bound. The
// lookup itself cannot be bounded, so it runs on a thread of its own that
// is left to finish alone when the time is up; it then frees its answer.
// That thread takes no signal: one meant for the program (a stop request,
// the end of the child vjobrun waits for with the signal blocked) must not
// be delivered to it and handled by default there.
addrinfo* LookUpHost(const std::string& host, int port, Exchange& x) {
  struct Lookup {
    std::mutex mu;
    std::condition_variable done;
    bool finished = false, abandoned = false;
    int rc = 0;
    addrinfo* found = nullptr;
  };
  auto lookup = std::make_shared<Lookup>();
  sigset_t all, before;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &before);
  try {
    std::thread([lookup, host, service = std::to_string(port)] {
      addrinfo hints{};
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* found = nullptr;
      const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
      std::lock_guard lock(lookup->mu);
      if (lookup->abandoned) {
        if (rc == 0) ::freeaddrinfo(found);
        return;
      }
      lookup->rc = rc;
      lookup->found = found;
      lookup->finished = true;
      lookup->done.notify_all();
    }).detach();
  } catch (const std::system_error& e) {
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    x.why = "the host " + host + " could not be looked up: " + e.what();
    return nullptr;
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  std::unique_lock lock(lookup->mu);
  if (!lookup->done.wait_until(lock, x.deadline, [&] { return lookup->finished; })) {
    lookup->abandoned = true;
    x.why = "the host " + host + " was not looked up within " + x.bound;
    return nullptr;
  }
  if (lookup->rc != 0) {
    x.why = "the host " + host + " is not known: " + ::gai_strerror(lookup->rc);
    return nullptr;
  }
  return lookup->found;
}

// A connected non-blocking TCP socket; the peer's address for the
// authorisation lookup.
Socket ConnectTcp(const std::string& host, int port, Exchange& x, sockaddr_storage& peer) {
  addrinfo* found = LookUpHost(host, port, x);
  if (!found) return Socket();
  Socket s;
  const std::string where = "nothing accepts connections at " + host + " port " + std::to_string(port);
  x.why = where;
  for (addrinfo* a = found; a && s.fd() < 0; a = a->ai_next) {
    Socket attempt(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
    if (attempt.fd() < 0) continue;
    int err = 0;
    if (::connect(attempt.fd(), a->ai_addr, a->ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        socklen_t len = sizeof err;
        if (!x.Ready(attempt.fd(), POLLOUT)) err = ETIMEDOUT;
        else if (::getsockopt(attempt.fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      }
    }
    if (err == 0) {
      std::memcpy(&peer, a->ai_addr, a->ai_addrlen);
      s = std::move(attempt);
    } else {
      x.why = where + ": " + std::strerror(err);
    }
  }
  ::freeaddrinfo(found);
  return s;
}

// The X server's families of the authorisation file.
constexpr uint16_t kFamilyInternet = 0, kFamilyInternet6 = 6, kFamilyLocal = 256, kFamilyWild = 65535;

// The authorisation file: XAUTHORITY, else ~/.Xauthority; empty when
// neither is named.
std::string AuthorityFile() {
  std::string file = Env("XAUTHORITY");
  if (file.empty()) {
    const std::string home = Env("HOME");
    if (home.empty()) return "";
    file = home + "/.Xauthority";
  }
  return file;
}

// Qt's X connection reads the authorisation file with no bound: a named
// pipe (or a device) in its place would hold the program before it starts.
// False, saying so, when the file is there and is not a regular file.
bool AuthorityFileUsable(Exchange& x) {
  const std::string file = AuthorityFile();
  std::error_code ec;
  const fs::file_status status = file.empty() ? fs::file_status() : fs::status(file, ec);
  if (ec || !fs::exists(status) || fs::is_regular_file(status)) return true;
  return x.Fail("the authorisation file '" + file + "' is not a regular file");
}

// The MIT-MAGIC-COOKIE-1 of the authorisation file for the display's
// number and the connection's family and address; empty when there is none.
std::string MagicCookie(uint16_t family, const std::string& address, const std::string& number) {
  const std::string file = AuthorityFile();
  if (file.empty()) return "";
  const int fd = OpenRegularFile(file);
  if (fd < 0) return "";
  std::string data;
  char buf[4096];
  for (ssize_t n; data.size() < (1u << 20) && (n = ::read(fd, buf, sizeof buf)) > 0;)
    data.append(buf, static_cast<size_t>(n));
  ::close(fd);
  size_t at = 0;
  auto u16 = [&](uint16_t& v) {
    if (at + 2 > data.size()) return false;
    v = static_cast<uint16_t>((static_cast<unsigned char>(data[at]) << 8) | static_cast<unsigned char>(data[at + 1]));
    at += 2;
    return true;
  };
  auto counted = [&](std::string& v) {
    uint16_t len = 0;
    if (!u16(len) || at + len > data.size()) return false;
    v = data.substr(at, len);
    at += len;
    return true;
  };
  for (;;) {
    uint16_t entryFamily = 0;
    std::string entryAddress, entryNumber, name, cookie;
    if (!u16(entryFamily) || !counted(entryAddress) || !counted(entryNumber) || !counted(name) || !counted(cookie))
      return "";
    const bool place = entryFamily == kFamilyWild || (entryFamily == family && entryAddress == address);
    if (place && (entryNumber.empty() || entryNumber == number) && name == "MIT-MAGIC-COOKIE-1") return cookie;
  }
}

std::string LocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

// A server's text as one line of printable characters.
std::string Printable(std::string text) {
  while (!text.empty() && (text.back() == '\0' || std::isspace(static_cast<unsigned char>(text.back()))))
    text.pop_back();
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = ' ';
  return text;
}

void Put16(std::string& to, size_t at, size_t value) {
  const auto v = static_cast<uint16_t>(value);
  std::memcpy(to.data() + at, &v, 2);
}

std::string Padded(const std::string& text) { return text + std::string((4 - text.size() % 4) % 4, '\0'); }

// DISPLAY is [protocol/][host]:number[.screen]. True when the X server
// answers the connection set-up with success within the bound.
bool X11Usable(const std::string& display, Exchange& x) {
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return x.Fail("not a display name");
  std::string host = display.substr(0, colon);
  if (const size_t slash = host.find('/'); slash != std::string::npos) host = host.substr(slash + 1);
  const std::string rest = display.substr(colon + 1);
  const std::string number = rest.substr(0, rest.find('.'));
  if (number.empty() || number.size() > 5 || number.find_first_not_of("0123456789") != std::string::npos ||
      std::stol(number) > 65535 - 6000)
    return x.Fail("not a display name");
  if (!AuthorityFileUsable(x)) return false;

  Socket s;
  uint16_t family = kFamilyLocal;
  std::string address = LocalHostName();
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + number;
    s = ConnectLocal(path, true, x.why);
    if (s.fd() < 0) s = ConnectLocal(path, false, x.why);
  } else {
    sockaddr_storage peer{};
    s = ConnectTcp(host, 6000 + static_cast<int>(std::stol(number)), x, peer);
    // A connection to this machine uses the local entries, as Xlib does.
    if (peer.ss_family == AF_INET) {
      const auto& in = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
      if ((ntohl(in.s_addr) >> 24) != 127) {
        family = kFamilyInternet;
        address.assign(reinterpret_cast<const char*>(&in), 4);
      }
    } else if (peer.ss_family == AF_INET6) {
      const auto& in6 = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
      if (!IN6_IS_ADDR_LOOPBACK(&in6)) {
        family = kFamilyInternet6;
        address.assign(reinterpret_cast<const char*>(&in6), 16);
      }
    }
  }
  if (s.fd() < 0) return false;

  const std::string cookie = MagicCookie(family, address, number);
  const std::string protocol = cookie.empty() ? "" : "MIT-MAGIC-COOKIE-1";
  std::string request(12, '\0');
  request[0] = std::endian::native == std::endian::little ? 'l' : 'B';
  Put16(request, 2, 11);  // protocol version 11.0
  Put16(request, 6, protocol.size());
  Put16(request, 8, cookie.size());
  request += Padded(protocol) + Padded(cookie);
  const std::string peer = "the X server";
  unsigned char reply[8];
  if (!x.Send(s.fd(), request, peer) || !x.Receive(s.fd(), reply, sizeof reply, peer)) return false;
  uint16_t words = 0;
  std::memcpy(&words, reply + 6, 2);
  if (reply[0] == 1) {
    // The set-up is finished only with the additional data its header
    // announces (in 4-byte units): Qt would wait for the rest unbounded.
    std::string rest(words * 4u, '\0');
    if (!rest.empty() && !x.Receive(s.fd(), rest.data(), rest.size(), peer))
      return x.Fail("the X server's set-up answer stopped short: " + x.why);
    return true;
  }
  if (reply[0] > 2) return x.Fail("the X server's answer is not understood");
  // Failed (0: the reason's length, then the reason) or Authenticate (2:
  // the reason fills the additional data).
  const size_t size = std::min<size_t>(reply[0] == 0 ? reply[1] : words * 4u, words * 4u);
  std::string reason(std::min<size_t>(size, 256), '\0');
  if (!reason.empty() && !x.Receive(s.fd(), reason.data(), reason.size(), peer)) reason.clear();
  reason = Printable(reason);
  return x.Fail(std::string(reply[0] == 0 ? "the X server refused the connection"
                                          : "the X server asked for further authentication") +
                (reason.empty() ? "" : ": " + reason));
}

// WAYLAND_DISPLAY names a socket in XDG_RUNTIME_DIR, or by full path. True
// when the compositor answers wl_display.sync with wl_callback.done.
bool WaylandUsable(const std::string& name, Exchange& x) {
  std::string path = name;
  if (name[0] != '/') {
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (runtime.empty()) return x.Fail("XDG_RUNTIME_DIR is not set");
    path = runtime + "/" + name;
  }
  Socket s = ConnectLocal(path, false, x.why);
  if (s.fd() < 0) return false;
  // Messages are 32-bit words in the machine's order: object, then size
  // (high 16 bits) and opcode, then the arguments.
  const uint32_t sync[3] = {1, 12u << 16, 2};  // wl_display (1).sync, new callback 2
  const std::string peer = "the compositor";
  if (!x.Send(s.fd(), std::string(reinterpret_cast<const char*>(sync), sizeof sync), peer)) return false;
  for (;;) {
    uint32_t head[2];
    if (!x.Receive(s.fd(), head, sizeof head, peer)) return false;
    const uint32_t size = head[1] >> 16, opcode = head[1] & 0xFFFF;
    if (size < 8 || size % 4 != 0) return x.Fail("the compositor's answer is not understood");
    std::string body(size - 8, '\0');
    if (!body.empty() && !x.Receive(s.fd(), body.data(), body.size(), peer)) return false;
    if (head[0] == 2 && opcode == 0) return true;  // wl_callback.done
    if (head[0] == 1 && opcode == 0)               // wl_display.error: object, code, message
      return x.Fail("the compositor reported an error" +
                    (body.size() > 12 ? ": " + Printable(body.substr(12)) : std::string()));
  }
}

bool HasPlugin(const std::vector<fs::path>& folders, const std::string& prefix) {
  for (const auto& folder : folders) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string file = it->path().filename().string();
      if (file.rfind(prefix, 0) == 0 && it->path().extension() == ".so" && it->is_regular_file(ec)) return true;
    }
  }
  return false;
}

}  // namespace

DisplayChoice ChooseDisplay(const std::vector<fs::path>& pluginFolders, std::chrono::milliseconds bound) {
  std::ostringstream seconds;
  seconds << bound.count() / 1000.0 << " s";
  struct Kind {
    const char* variable;
    const char* platform;
    const char* plugin;
    const char* pluginName;
    bool (*usable)(const std::string&, Exchange&);
  };
  const Kind kinds[] = {{"DISPLAY", "xcb", "libqxcb", "X11 (xcb)", X11Usable},
                        {"WAYLAND_DISPLAY", "wayland", "libqwayland", "Wayland", WaylandUsable}};
  DisplayChoice choice{"offscreen", ""};
  for (const Kind& kind : kinds) {
    const std::string name = Env(kind.variable);
    if (name.empty()) continue;
    Exchange x{Clock::now() + bound, seconds.str(), ""};
    if (!HasPlugin(pluginFolders, kind.plugin))
      x.why = std::string("Qt has no ") + kind.pluginName + " platform plugin";
    else if (kind.usable(name, x))
      return {kind.platform, ""};
    choice.why += (choice.why.empty() ? "" : "; ") + std::string(kind.variable) + " '" + name + "' : " + x.why;
  }
  return choice;
}

std::vector<fs::path> QtPlatformPluginFolders() {
  std::vector<fs::path> folders;
  if (const std::string own = Env("QT_QPA_PLATFORM_PLUGIN_PATH"); !own.empty()) folders.emplace_back(own);
  // Found without asking Qt, whose application object does not exist yet
  // when the display is chosen: the folders of QT_PLUGIN_PATH and the plugin
  // folder of the Qt the program was built with.
  const std::string pluginPath = Env("QT_PLUGIN_PATH");
  for (size_t at = 0; at <= pluginPath.size();) {
    const size_t colon = std::min(pluginPath.find(':', at), pluginPath.size());
    if (colon > at) folders.push_back(fs::path(pluginPath.substr(at, colon - at)) / "platforms");
    at = colon + 1;
  }
  folders.push_back(fs::path(VELMO_QT_PLUGIN_DIR) / "platforms");
  std::error_code ec;
  if (const fs::path program = fs::read_symlink("/proc/self/exe", ec); !ec)
    folders.push_back(program.parent_path() / "platforms");
  return folders;
}

}  // namespace velmo
