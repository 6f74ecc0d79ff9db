#pragma once
// A TCP proxy between the program and a test's slapd that loses the server
// at a chosen point, so that "the server went away mid-collection" is a
// fixed place in the conversation, never a race.
//
// It forwards every connection to the server, whole LDAP messages at a
// time, and counts the search entries (SearchResultEntry) it hands to the
// program once armed. When the count reaches the limit, the server is lost:
//  - Loss::Kill: every connection is closed, and new ones are closed as
//    soon as they are accepted (a server killed, its port dead);
//  - Loss::Stop: nothing more is forwarded either way and new connections
//    are accepted but never answered (a server stopped with SIGSTOP: the
//    kernel still accepts, the process never replies).
// Heal() ends the loss: the frozen connections are closed and new ones are
// forwarded again.
//
// Hold() keeps the answers of the connections open now from the program
// (they wait in the server's socket) while new connections are served as
// usual; Resume() hands them over. So one client's call waits at a chosen
// moment while another client carries on. HoldRange holds the connections
// by the order they were accepted in (Accepted() counts them), those
// accepted later within the range included: the connections of one
// program started between two counts.
//
// Alter() changes the server's messages on their way: a damaged control or
// entry at a chosen place.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velmo::test {

class LdapProxy {
 public:
  enum class Loss { Kill, Stop };

  explicit LdapProxy(int serverPort) : serverPort_(serverPort) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 64) != 0)
      throw std::runtime_error("proxy: cannot listen");
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (::pipe(wake_) != 0) throw std::runtime_error("proxy: no pipe");
    thread_ = std::thread([this] { Run(); });
  }
  ~LdapProxy() {
    quit_ = true;
    Wake();
    thread_.join();
    for (auto& c : conns_) Close(c);
    ::close(listen_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }
  LdapProxy(const LdapProxy&) = delete;
  LdapProxy& operator=(const LdapProxy&) = delete;

  int port() const { return port_; }

  // A host map naming EX1, EX2 and EX10 at the proxy, written into dir.
  std::filesystem::path WriteHostsFile(const std::filesystem::path& dir) const {
    const auto file = dir / "proxy-ldaphosts.conf";
    std::ofstream out(file);
    for (const char* name : {"EX1", "EX2", "EX10"}) out << name << " ldap://127.0.0.1:" << port_ << "\n";
    return file;
  }

  // Loses the server once `entries` more search entries have passed.
  void Arm(long entries, Loss loss) {
    std::lock_guard<std::mutex> lock(m_);
    limit_ = entries;
    passed_ = 0;
    loss_ = loss;
    armed_ = true;
  }
  // Loses the server now, whatever has passed.
  void Lose(Loss loss) {
    std::lock_guard<std::mutex> lock(m_);
    armed_ = false;
    loss_ = loss;
    LoseAll();
    Wake();
  }
  // Forwards again; connections frozen by a stop are closed.
  void Heal() {
    std::lock_guard<std::mutex> lock(m_);
    armed_ = false;
    lost_ = false;
    heal_ = true;
    Wake();
  }
  bool Lost() {
    std::lock_guard<std::mutex> lock(m_);
    return lost_;
  }
  // Waits up to `seconds` for the loss; true when it happened.
  bool WaitLost(double seconds) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return lost_; });
  }
  // Holds the answers on every connection open now; Resume hands them over.
  void Hold() {
    std::lock_guard<std::mutex> lock(m_);
    for (auto& c : conns_) c.held = true;
    Wake();
  }
  void HoldRange(long first, long last) {
    std::lock_guard<std::mutex> lock(m_);
    holdFirst_ = first;
    holdLast_ = last;
    for (auto& c : conns_) c.held = c.held || (c.index >= first && c.index < last);
    Wake();
  }
  long Accepted() {
    std::lock_guard<std::mutex> lock(m_);
    return accepted_;
  }
  void Resume() {
    std::lock_guard<std::mutex> lock(m_);
    holdFirst_ = holdLast_ = 0;
    for (auto& c : conns_) c.held = false;
    Wake();
  }
  // Each whole message from the server goes through alter(op, message)
  // before it is handed over; it may change bytes, not the length. An empty
  // function changes nothing.
  using Alteration = std::function<void(uint8_t op, std::vector<uint8_t>& message)>;
  void Alter(Alteration alter) {
    std::lock_guard<std::mutex> lock(m_);
    alter_ = std::move(alter);
  }
  // Search entries handed over since Arm.
  long Passed() {
    std::lock_guard<std::mutex> lock(m_);
    return passed_;
  }

 private:
  struct Conn {
    int client = -1;
    int server = -1;
    std::vector<uint8_t> fromServer;  // bytes of a message not complete yet
    bool frozen = false;
    bool held = false;  // the server's answers are not read for now
    long index = 0;     // accepted as the index-th, from 0
  };

  void Wake() {
    char c = 0;
    (void)!::write(wake_[1], &c, 1);
  }
  static void Close(Conn& c) {
    if (c.client >= 0) ::close(c.client);
    if (c.server >= 0) ::close(c.server);
    c.client = c.server = -1;
  }
  static bool SendAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
      ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
      if (w <= 0) return false;
      p += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }
  // Length of the first whole BER message in buf, 0 while incomplete; its
  // protocol operation's tag into op.
  static size_t WholeMessage(const std::vector<uint8_t>& buf, uint8_t& op) {
    if (buf.size() < 2) return 0;
    size_t at = 1, len = buf[at++];
    if (len & 0x80) {
      size_t n = len & 0x7f;
      if (buf.size() < at + n) return 0;
      len = 0;
      for (size_t i = 0; i < n; ++i) len = (len << 8) | buf[at++];
    }
    if (buf.size() < at + len) return 0;
    // messageID INTEGER, then the operation.
    size_t idAt = at;
    if (idAt + 1 < buf.size()) {
      size_t idLen = buf[idAt + 1];
      size_t opAt = idAt + 2 + idLen;
      op = opAt < buf.size() ? buf[opAt] : 0;
    }
    return at + len;
  }

  void LoseAll() {
    // Called with m_ held.
    lost_ = true;
    cv_.notify_all();
    for (auto& c : conns_) {
      if (loss_ == Loss::Kill)
        Close(c);
      else
        c.frozen = true;
    }
  }

  void Accept() {
    int fd = ::accept(listen_, nullptr, nullptr);
    if (fd < 0) return;
    std::lock_guard<std::mutex> lock(m_);
    if (lost_ && loss_ == Loss::Kill) {
      ::close(fd);
      return;
    }
    // Messages go on at once, not held back for the peer's acknowledgement.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Conn c;
    c.client = fd;
    c.index = accepted_++;
    c.held = c.index >= holdFirst_ && c.index < holdLast_;
    if (lost_) {
      c.frozen = true;  // accepted, never answered
    } else {
      c.server = ::socket(AF_INET, SOCK_STREAM, 0);
      ::setsockopt(c.server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(serverPort_));
      if (::connect(c.server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        Close(c);
        return;
      }
    }
    conns_.push_back(std::move(c));
  }

  // One read from the client (forwarded as is) or from the server
  // (forwarded in whole messages, entries counted).
  void Pump(Conn& c, bool fromClient) {
    uint8_t buf[65536];
    const int fd = fromClient ? c.client : c.server;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    std::lock_guard<std::mutex> lock(m_);
    if (n <= 0) {
      Close(c);
      return;
    }
    if (c.frozen) return;  // swallowed
    if (fromClient) {
      if (!SendAll(c.server, buf, static_cast<size_t>(n))) Close(c);
      return;
    }
    c.fromServer.insert(c.fromServer.end(), buf, buf + n);
    for (;;) {
      uint8_t op = 0;
      size_t len = WholeMessage(c.fromServer, op);
      if (len == 0) break;
      if (alter_) {
        std::vector<uint8_t> message(c.fromServer.begin(), c.fromServer.begin() + static_cast<long>(len));
        alter_(op, message);
        if (message.size() == len) std::copy(message.begin(), message.end(), c.fromServer.begin());
      }
      if (!SendAll(c.client, c.fromServer.data(), len)) {
        Close(c);
        return;
      }
      c.fromServer.erase(c.fromServer.begin(), c.fromServer.begin() + static_cast<long>(len));
      if (armed_ && op == 0x64 && ++passed_ >= limit_) {
        armed_ = false;
        LoseAll();
        return;
      }
    }
  }

  void Run() {
    while (!quit_) {
      std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
      std::vector<std::pair<size_t, bool>> who{{0, false}, {0, false}};
      {
        std::lock_guard<std::mutex> lock(m_);
        if (heal_) {
          heal_ = false;
          for (auto& c : conns_)
            if (c.frozen) Close(c);
        }
        std::vector<Conn> live;
        for (auto& c : conns_)
          if (c.client >= 0) live.push_back(std::move(c));
        conns_ = std::move(live);
        for (size_t i = 0; i < conns_.size(); ++i) {
          fds.push_back({conns_[i].client, POLLIN, 0});
          who.push_back({i, true});
          if (conns_[i].server >= 0 && !conns_[i].held) {
            fds.push_back({conns_[i].server, POLLIN, 0});
            who.push_back({i, false});
          }
        }
      }
      if (::poll(fds.data(), fds.size(), 200) <= 0) continue;
      if (fds[0].revents) {
        char drain[64];
        (void)!::read(wake_[0], drain, sizeof drain);
      }
      if (fds[1].revents & POLLIN) Accept();
      for (size_t k = 2; k < fds.size(); ++k) {
        if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        Conn& c = conns_[who[k].first];
        if ((who[k].second ? c.client : c.server) != fds[k].fd) continue;  // closed meanwhile
        Pump(c, who[k].second);
      }
    }
  }

  int serverPort_;
  int port_ = 0;
  int listen_ = -1;
  int wake_[2] = {-1, -1};
  std::atomic<bool> quit_{false};
  std::thread thread_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<Conn> conns_;  // touched by the proxy's thread only, under m_ where shared
  bool armed_ = false, lost_ = false, heal_ = false;
  long limit_ = 0, passed_ = 0;
  long accepted_ = 0, holdFirst_ = 0, holdLast_ = 0;
  Loss loss_ = Loss::Kill;
  Alteration alter_;
};

}  // namespace velmo::test
