#pragma once
// Stand-ins for displays, each served by a thread of the test: a socket
// that accepts and stays silent, an X server that answers the connection
// set-up (success only for its MIT-MAGIC-COOKIE-1, else a refusal; any
// request with the cookie "*"), one that sends only the head of a success
// and a Wayland compositor that answers a first round trip.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace velmo::test {

class DisplayStandIn {
 public:
  enum class Answer { Silent, XSetUp, XHalfSetUp, WaylandRoundTrip };

  // An X server on a free display number: the local (abstract) socket, or
  // TCP port 6000 + number on 127.0.0.1. XSetUp without a cookie refuses.
  DisplayStandIn(Answer answer, bool tcp, const std::string& cookie = "") {
    for (number = 2000 + std::random_device()() % 50000; number < 60000; ++number) {
      const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
      sockaddr_in in{AF_INET, htons(static_cast<uint16_t>(6000 + number)), {htonl(INADDR_LOOPBACK)}, {}};
      sockaddr_un un{AF_UNIX, {}};
      std::memcpy(un.sun_path + 1, path.data(), path.size());
      if (tcp ? Listen(AF_INET, reinterpret_cast<sockaddr*>(&in), sizeof in)
              : Listen(AF_UNIX, reinterpret_cast<sockaddr*>(&un), sizeof(sa_family_t) + 1 + path.size())) {
        name = (tcp ? "127.0.0.1:" : ":") + std::to_string(number);
        break;
      }
    }
    Serve(answer, cookie);
  }
  // A Wayland compositor's socket at `path`.
  DisplayStandIn(const std::filesystem::path& path, Answer answer) {
    sockaddr_un un{AF_UNIX, {}};
    std::memcpy(un.sun_path, path.c_str(), path.string().size());
    if (Listen(AF_UNIX, reinterpret_cast<sockaddr*>(&un), sizeof un)) name = path.string();
    Serve(answer, "");
  }
  ~DisplayStandIn() {
    ::close(stop_[1]);  // wakes the thread
    thread_.join();
    ::close(stop_[0]);
    ::close(listener_);
    if (name[0] == '/') ::unlink(name.c_str());
  }
  DisplayStandIn(const DisplayStandIn&) = delete;
  DisplayStandIn& operator=(const DisplayStandIn&) = delete;

  std::string name;  // DISPLAY's value (":N", "127.0.0.1:N") or the socket's path
  int number = -1;

 private:
  bool Listen(int family, const sockaddr* addr, socklen_t len) {
    listener_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(listener_, addr, len) == 0 && ::listen(listener_, 16) == 0) return true;
    ::close(listener_);
    return false;
  }

  void Serve(Answer answer, const std::string& cookie) {
    if (::pipe2(stop_, O_CLOEXEC) != 0) return;
    thread_ = std::thread([stop = stop_[0], listener = listener_, answer, cookie] {
      std::vector<int> held;  // silent: accepted and never answered
      for (pollfd p[2] = {{stop, POLLIN, 0}, {listener, POLLIN, 0}}; ::poll(p, 2, -1) > 0 && !p[0].revents;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (answer == Answer::Silent || answer == Answer::XHalfSetUp) held.push_back(fd);
        if (answer == Answer::XHalfSetUp) {
          // Success, 400 bytes announced, none sent.
          const uint16_t head[4] = {1, 11, 0, 100};
          (void)!::write(fd, head, sizeof head);
        } else if (answer == Answer::XSetUp) {
          AnswerSetUp(fd, cookie);
        } else if (answer == Answer::WaylandRoundTrip) {
          AnswerRoundTrip(fd);
        }
        if (answer != Answer::Silent && answer != Answer::XHalfSetUp) ::close(fd);
      }
      for (int fd : held) ::close(fd);
    });
  }

  static bool ReadAll(int fd, void* to, size_t size) {
    for (size_t got = 0; got < size;) {
      pollfd p{fd, POLLIN, 0};
      const ssize_t n = ::poll(&p, 1, 5000) == 1 ? ::read(fd, static_cast<char*>(to) + got, size - got) : -1;
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }

  // Requests come in this machine's byte order.
  static void AnswerSetUp(int fd, const std::string& cookie) {
    char head[12];
    uint16_t nameSize, dataSize;
    if (!ReadAll(fd, head, sizeof head)) return;
    std::memcpy(&nameSize, head + 6, 2);
    std::memcpy(&dataSize, head + 8, 2);
    std::string rest((nameSize + 3u) / 4 * 4 + (dataSize + 3u) / 4 * 4, '\0');
    if (!ReadAll(fd, rest.data(), rest.size())) return;
    const bool granted = cookie == "*" || (!cookie.empty() && rest.substr(0, nameSize) == "MIT-MAGIC-COOKIE-1" &&
                                           rest.substr((nameSize + 3u) / 4 * 4, dataSize) == cookie);
    const std::string reason = granted ? "" : "Authorization required, but no authorization protocol specified";
    std::string reply(8, '\0');
    reply[0] = granted ? 1 : 0;
    reply[1] = static_cast<char>(reason.size());
    const uint16_t version = 11, words = static_cast<uint16_t>((reason.size() + 3) / 4);
    std::memcpy(reply.data() + 2, &version, 2);
    std::memcpy(reply.data() + 6, &words, 2);
    reply += reason + std::string(words * 4 - reason.size(), '\0');
    (void)!::write(fd, reply.data(), reply.size());
  }

  // wl_display.sync answered by wl_callback.done, then wl_display.delete_id.
  static void AnswerRoundTrip(int fd) {
    uint32_t sync[3];
    if (!ReadAll(fd, sync, sizeof sync)) return;
    const uint32_t answer[6] = {sync[2], 12u << 16, 1, 1, 12u << 16 | 1, sync[2]};
    (void)!::write(fd, answer, sizeof answer);
  }

  int listener_ = -1;
  int stop_[2] = {-1, -1};
  std::thread thread_;
};

// The variables that name displays, their authorisation and Qt's platform,
// restored when the object goes; Set with nullptr unsets.
class DisplayVariables {
 public:
  DisplayVariables() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "XAUTHORITY", "HOME", "QT_QPA_PLATFORM",
                             "QT_QPA_PLATFORM_PLUGIN_PATH"})
      if (const char* v = std::getenv(name)) saved_.emplace_back(name, v);
      else saved_.emplace_back(name, std::nullopt);
  }
  ~DisplayVariables() {
    for (auto& [name, value] : saved_) Set(name, value ? value->c_str() : nullptr);
  }
  static void Set(const char* name, const char* value) { value ? ::setenv(name, value, 1) : ::unsetenv(name); }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// An authorisation file with one MIT-MAGIC-COOKIE-1 entry for this
// machine's local connections to display `number`.
inline void WriteXauthority(const std::filesystem::path& file, int number, const std::string& cookie) {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  std::string entry = {1, 0};  // the local family, big-endian as every count
  for (const std::string& field : {std::string(host), std::to_string(number), std::string("MIT-MAGIC-COOKIE-1"), cookie})
    entry += std::string{static_cast<char>(field.size() >> 8), static_cast<char>(field.size() & 0xFF)} + field;
  std::ofstream(file, std::ios::binary) << entry;
}

}  // namespace velmo::test
