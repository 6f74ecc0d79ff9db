// The directory layer over libldap: sessions, the host map, the error
// table, value conversion and the bound objects.
#include "Directory.h"

#include <ldap.h>
#include <ldap_schema.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <list>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <utility>

#include "AppFolder.h"
#include "BadLines.h"
#include "DateText.h"
#include "DirPath.h"

namespace velmo::ads {

using detail::EqualsNoCase;
using detail::Lower;

// ---------------------------------------------------------------------------
// DirValue

DirValue DirValue::FromText(std::string text) {
  DirValue v;
  v.kind_ = Kind::Text;
  v.text_ = std::move(text);
  return v;
}
DirValue DirValue::FromBytes(std::vector<uint8_t> bytes) {
  DirValue v;
  v.kind_ = Kind::Bytes;
  v.bytes_ = std::move(bytes);
  return v;
}
DirValue DirValue::FromList(std::vector<DirValue> items) {
  DirValue v;
  v.kind_ = Kind::List;
  v.items_ = std::move(items);
  return v;
}
std::string DirValue::Text() const {
  switch (kind_) {
    case Kind::Text: return text_;
    case Kind::Bytes: return std::string(bytes_.begin(), bytes_.end());
    case Kind::List: return items_.empty() ? std::string() : items_.front().Text();
    default: return {};
  }
}
std::vector<uint8_t> DirValue::Bytes() const {
  switch (kind_) {
    case Kind::Bytes: return bytes_;
    case Kind::Text: return std::vector<uint8_t>(text_.begin(), text_.end());
    case Kind::List: return items_.empty() ? std::vector<uint8_t>() : items_.front().Bytes();
    default: return {};
  }
}
std::vector<std::string> DirValue::Texts() const {
  std::vector<std::string> out;
  if (kind_ == Kind::List) {
    out.reserve(items_.size());
    for (const auto& i : items_) out.push_back(i.Text());
  } else if (kind_ != Kind::Empty) {
    out.push_back(Text());
  }
  return out;
}
std::vector<DirValue> DirValue::Items() const {
  if (kind_ == Kind::List) return items_;
  if (kind_ == Kind::Empty) return {};
  return {*this};
}
size_t DirValue::Count() const {
  if (kind_ == Kind::List) return items_.size();
  return kind_ == Kind::Empty ? 0 : 1;
}

namespace {

// ---------------------------------------------------------------------------
// Settings and counters

std::atomic<int> gPageSize{1000};
std::atomic<int> gConnectTimeout{10};
std::atomic<int> gRequestTimeout{120};

struct Counters {
  std::atomic<long long> connects{0}, searches{0}, pages{0}, cacheHits{0}, hostMapChecks{0};
} gStats;

using SteadyClock = std::chrono::steady_clock;

// Bound LDAP objects alive: none between operations (see ServerUrl).
std::atomic<long> gLiveObjects{0};

}  // namespace

// ---------------------------------------------------------------------------
// Errors

// Descriptions travel inside bind-error texts that use "_" and "@@" as
// separators, so neither may appear in one.
std::string CleanText(std::string text) {
  for (size_t pos; (pos = text.find("@@")) != std::string::npos;) text.replace(pos, 2, "@");
  std::replace(text.begin(), text.end(), '_', ' ');
  return text;
}

std::string ServerBindHint(int32_t number) {
  const std::string lead = "\r\n\r\n";
  switch (static_cast<uint32_t>(number)) {
    case 0x80072029u:
      return lead + "Please ensure Basic (Clear Text) is enabled at the Site/Server level.";
    case 0x8007203Au:
    case 0x8007003Au:
      return lead + "Please ensure LDAP protocol is enabled at the Site/Server level or the server is operational.";
    case 0x8007052Eu:
      return lead +
             "Please ensure Anonymous Access is enabled or the currently logged on user/supplied credential is "
             "visible in that exchange server.";
    case 0x80005000u:
      return lead + "Please ensure Windows NT Challenge/Response is enabled at the Site/Server level.\r\n" +
             "OR Please try in different user credential using Connect As option.";
    default:
      return "";
  }
}

std::string ServerBindFailureText(const std::string& server, int32_t number, const std::string& description) {
  return "Error occured while binding to the server '" + server + "' : \r\n" + NumberText(number) + "\r\n" +
         description + ServerBindHint(number);
}

namespace {

ComError MapLdapError(int rc, bool duringBind);

// The failure of a request, with the server's diagnostic text, when it sent
// one, after the description: "Access is denied. (no write access)".
ComError MapLdapError(int rc, bool duringBind, const std::string& diagnostic) {
  ComError e = MapLdapError(rc, duringBind);
  if (diagnostic.empty()) return e;
  return ComError(e.Number(), e.Description() + " (" + CleanText(diagnostic) + ")");
}

// The server's diagnostic text of a parsed result, freed.
std::string TakeDiagnostic(char*& text) {
  std::string out = text ? text : "";
  if (text) ldap_memfree(text);
  text = nullptr;
  return out;
}

ComError MapLdapError(int rc, bool duringBind) {
  switch (rc) {
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
    case LDAP_TIMEOUT:
      return ComError(E_SERVER_NOT_OPERATIONAL, "The server is not operational.");
    case LDAP_INVALID_CREDENTIALS:
      return ComError(E_LOGON_FAILURE, "Logon failure: unknown user name or bad password.");
    case LDAP_INAPPROPRIATE_AUTH:
      return ComError(E_INAPPROPRIATE_AUTH, "Inappropriate authentication.");
    case LDAP_NO_SUCH_OBJECT:
      return ComError(E_NO_SUCH_OBJECT, "There is no such object on the server.");
    case LDAP_INSUFFICIENT_ACCESS:
      return ComError(E_ACCESS_DENIED, "Access is denied.");
    case LDAP_PROTOCOL_ERROR:
      return ComError(E_CANNOT_PERFORM, "The specified server cannot perform the requested operation.");
    case LDAP_SIZELIMIT_EXCEEDED:
    case LDAP_TIMELIMIT_EXCEEDED:
    case LDAP_ADMINLIMIT_EXCEEDED:
      return ComError(E_SIZE_LIMIT, "The size limit for this request was exceeded.");
    case LDAP_INVALID_DN_SYNTAX:
      return ComError(E_ADS_BAD_PATHNAME, "An invalid directory pathname was passed.");
    case LDAP_UNWILLING_TO_PERFORM:
      if (duringBind) return ComError(E_INVALID_PASSWORD, "The specified network password is not correct.");
      break;
    default:
      break;
  }
  const char* text = ldap_err2string(rc);
  return ComError(E_FAIL_, CleanText(text ? text : "Unspecified error"));
}

// The connection under a cached session went away; the caller may
// reconnect once.
struct ConnectionLost : ComError {
  ConnectionLost() : ComError(E_SERVER_NOT_OPERATIONAL, "The server is not operational.") {}
};

// Waits the hook gave up on this thread.
thread_local uint64_t tGivenUp = 0;

// The wait hook asked to give a wait up.
struct Cancelled : ComError {
  Cancelled() : ComError(E_CANCELLED, "The operation was canceled by the user.") { ++tGivenUp; }
};

[[noreturn]] void ThrowLdap(int rc, const std::string& diagnostic = "") {
  if (rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR) throw ConnectionLost();
  throw MapLdapError(rc, false, diagnostic);
}

[[noreturn]] void ThrowNotFound() {
  throw ComError(E_ADS_PROPERTY_NOT_FOUND, "The directory property cannot be found in the cache.");
}

// ---------------------------------------------------------------------------
// The wait hook

// The longest the calling thread goes without calling the hook.
constexpr auto kSlice = std::chrono::milliseconds(40);

struct HookSlot {
  std::mutex mu;
  std::shared_ptr<const WaitHook> hook;
  std::atomic<bool> set{false};
} gHook;

thread_local bool tInHook = false;
thread_local SteadyClock::time_point tLastHook{};

// Calls the hook now; false when it asks to give the wait up.
bool CallHook() {
  tLastHook = SteadyClock::now();
  if (tInHook) return true;  // a directory call made by the hook itself
  std::shared_ptr<const WaitHook> hook;
  {
    std::lock_guard lock(gHook.mu);
    hook = gHook.hook;
  }
  if (!hook) return true;
  struct Depth {
    Depth() { tInHook = true; }
    ~Depth() { tInHook = false; }
  } depth;
  const bool goOn = (*hook)();
  tLastHook = SteadyClock::now();
  return goOn;
}

// Calls the hook when a slice has passed since its last call on this
// thread; throws Cancelled when it asks to give up.
void PaceHook() {
  if (!gHook.set.load(std::memory_order_relaxed)) return;
  if (SteadyClock::now() - tLastHook < kSlice) return;
  if (!CallHook()) throw Cancelled();
}

// How long a wait may block before the hook is due: the time left to
// `deadline`, cut to the rest of the current slice when a hook is set.
SteadyClock::duration WaitSlice(SteadyClock::time_point deadline) {
  const auto now = SteadyClock::now();
  auto left = deadline - now;
  if (gHook.set.load(std::memory_order_relaxed)) {
    const auto due = tLastHook + kSlice - now;
    if (due < left) left = due;
  }
  return left < SteadyClock::duration::zero() ? SteadyClock::duration::zero() : left;
}

timeval ToTimeval(SteadyClock::duration d) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
  return timeval{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
}

// Closes a connection. Its unbind request may meet a socket the server
// (or an abandoned connect) already closed; the SIGPIPE that write raises
// is kept from the program.
void Unbind(LDAP* ld) {
  if (!ld) return;
  sigset_t pipe, old;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, &old);
  sigset_t pendingBefore;
  sigpending(&pendingBefore);
  ldap_unbind_ext_s(ld, nullptr, nullptr);
  if (!sigismember(&pendingBefore, SIGPIPE)) {
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE)) {
      timespec none{0, 0};
      sigtimedwait(&pipe, nullptr, &none);
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

// ---------------------------------------------------------------------------
// Connecting on the layer's own thread
//
// libldap's connect, TLS handshake and bind block (the handshake of
// "ldaps://" for as long as the network bound, even with an asynchronous
// connect), so each connection is opened on a thread of its own while the
// caller waits in slices. A connect the caller gives up (the hook said so,
// or its bound passed) is abandoned: its socket is shut down, which wakes
// the thread at once, and the thread closes the connection itself.

struct PendingConnect {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  bool abandoned = false;
  LDAP* ld = nullptr;     // the bound connection, when done and it worked
  int rc = LDAP_SUCCESS;  // the libldap result when done
  int fd = -1;            // the socket while it is open
  // On failure, the server's text of the refused bind, or the option that
  // could not be set.
  std::string diagnostic;
};
using PendingPtr = std::shared_ptr<PendingConnect>;

// The connects under way. Never destroyed: a thread still finishing when
// the program exits may use it after static destruction.
struct ConnectRegistry {
  std::mutex mu;
  std::condition_variable idle;
  std::unordered_map<LDAP*, PendingPtr> byHandle;  // for the socket callbacks
  std::list<PendingPtr> running;
};
ConnectRegistry& Connects() {
  static auto* registry = new ConnectRegistry;
  return *registry;
}

PendingPtr PendingOf(LDAP* ld) {
  ConnectRegistry& r = Connects();
  std::lock_guard lock(r.mu);
  auto it = r.byHandle.find(ld);
  return it == r.byHandle.end() ? nullptr : it->second;
}

// Marks a connect abandoned and wakes its thread. Call with job.mu held.
void AbandonLocked(PendingConnect& job) {
  job.abandoned = true;
  if (job.fd >= 0) ::shutdown(job.fd, SHUT_RDWR);
}

int OnSocketOpen(LDAP* ld, Sockbuf* sb, LDAPURLDesc*, sockaddr*, ldap_conncb*) {
  PendingPtr job = PendingOf(ld);
  if (!job) return 0;
  ber_socket_t fd = -1;
  ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd);
  std::lock_guard lock(job->mu);
  if (job->abandoned) return -1;  // the caller is gone: fail the connect
  job->fd = fd;
  return 0;
}

void OnSocketClose(LDAP* ld, Sockbuf*, ldap_conncb*) {
  if (PendingPtr job = PendingOf(ld)) {
    std::lock_guard lock(job->mu);
    job->fd = -1;
  }
}

ldap_conncb gSocketCallbacks{OnSocketOpen, OnSocketClose, nullptr};

// Opens and binds one connection; runs on the connect thread. The result
// code, with *out set only on success; on failure *diagnostic may say more
// (the server's text, or the option that could not be set).
int OpenAndBind(const PendingPtr& job, const std::string& url, const std::string& user, const std::string& password,
                SteadyClock::time_point deadline, int requestSeconds, LDAP** out, std::string* diagnostic) {
  LDAP* ld = nullptr;
  int rc = ldap_initialize(&ld, url.c_str());
  if (rc != LDAP_SUCCESS || !ld) return rc == LDAP_SUCCESS ? LDAP_CONNECT_ERROR : rc;
  {
    ConnectRegistry& r = Connects();
    std::lock_guard lock(r.mu);
    r.byHandle[ld] = job;
  }
  auto release = [&] {
    {
      ConnectRegistry& r = Connects();
      std::lock_guard lock(r.mu);
      r.byHandle.erase(ld);
    }
    Unbind(ld);
  };
  int version = LDAP_VERSION3;
  const auto connectLeft = deadline - SteadyClock::now();
  timeval connectTv = connectLeft > SteadyClock::duration::zero() ? ToTimeval(connectLeft) : timeval{0, 0};
  if (connectTv.tv_sec == 0 && connectTv.tv_usec == 0) connectTv.tv_usec = 1;
  timeval requestTv{requestSeconds, 0};
  // Each option is one the connection relies on (an asynchronous connect
  // makes libldap bound the TLS handshake too): one that cannot be set
  // fails the connect.
  const struct {
    int option;
    const void* value;
    const char* name;
  } options[] = {
      {LDAP_OPT_PROTOCOL_VERSION, &version, "protocol version"},
      {LDAP_OPT_REFERRALS, LDAP_OPT_OFF, "referrals"},
      {LDAP_OPT_RESTART, LDAP_OPT_ON, "restart"},
      {LDAP_OPT_CONNECT_ASYNC, LDAP_OPT_ON, "asynchronous connect"},
      {LDAP_OPT_NETWORK_TIMEOUT, &connectTv, "network timeout"},
      {LDAP_OPT_TIMEOUT, &requestTv, "request timeout"},
      {LDAP_OPT_CONNECT_CB, &gSocketCallbacks, "connect callbacks"},
  };
  for (const auto& o : options) {
    if (ldap_set_option(ld, o.option, o.value) == LDAP_OPT_SUCCESS) continue;
    *diagnostic = std::string("the connection option '") + o.name + "' could not be set";
    release();
    return LDAP_LOCAL_ERROR;
  }

  // The current logon is an anonymous bind (see Directory.h).
  berval cred{};
  if (!user.empty()) {
    cred.bv_val = const_cast<char*>(password.c_str());
    cred.bv_len = password.size();
  }
  const char* dn = user.empty() ? "" : user.c_str();
  auto abandoned = [&] {
    std::lock_guard lock(job->mu);
    return job->abandoned;
  };
  ++gStats.connects;
  int msgid = -1;
  rc = ldap_sasl_bind(ld, dn, LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, &msgid);
  // The TCP connect is still under way: ask again when the socket is
  // writable (or a while later).
  while (rc == LDAP_X_CONNECTING) {
    if (abandoned() || SteadyClock::now() >= deadline) {
      rc = LDAP_TIMEOUT;
      break;
    }
    ber_socket_t fd = -1;
    ldap_get_option(ld, LDAP_OPT_DESC, &fd);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    const int waitMs = static_cast<int>(std::clamp<long long>(left, 1, 100));
    if (fd >= 0) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, waitMs);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(waitMs, 10)));
    }
    rc = ldap_sasl_bind(ld, dn, LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, &msgid);
  }
  if (rc == LDAP_SUCCESS) {
    const auto left = deadline - SteadyClock::now();
    LDAPMessage* res = nullptr;
    timeval tv = ToTimeval(left);
    const int type = left <= SteadyClock::duration::zero() ? 0 : ldap_result(ld, msgid, LDAP_MSG_ALL, &tv, &res);
    if (type == 0) {
      rc = LDAP_TIMEOUT;
    } else if (type < 0) {
      int err = LDAP_SERVER_DOWN;
      ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &err);
      rc = err == LDAP_SUCCESS ? LDAP_SERVER_DOWN : err;
    } else {
      int err = LDAP_SUCCESS;
      char* text = nullptr;
      rc = ldap_parse_result(ld, res, &err, nullptr, &text, nullptr, nullptr, 1);
      const std::string said = TakeDiagnostic(text);
      if (rc == LDAP_SUCCESS) rc = err;
      if (rc != LDAP_SUCCESS) *diagnostic = said;
    }
  }
  if (rc != LDAP_SUCCESS) {
    release();
    return rc;
  }
  {
    ConnectRegistry& r = Connects();
    std::lock_guard lock(r.mu);
    r.byHandle.erase(ld);
  }
  *out = ld;
  return LDAP_SUCCESS;
}

void ConnectThread(PendingPtr job, std::string url, std::string user, std::string password,
                   SteadyClock::time_point deadline, int requestSeconds) {
  // Writes on a socket the server closed raise SIGPIPE in the writing
  // thread; this one keeps it blocked, so it never reaches the program.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  LDAP* ld = nullptr;
  std::string diagnostic;
  const int rc = OpenAndBind(job, url, user, password, deadline, requestSeconds, &ld, &diagnostic);
  {
    std::unique_lock lock(job->mu);
    job->fd = -1;
    if (job->abandoned) {
      lock.unlock();
      Unbind(ld);
      lock.lock();
    } else {
      job->ld = ld;
      job->rc = rc;
      job->diagnostic = std::move(diagnostic);
    }
    job->done = true;
    job->cv.notify_all();
  }
  ConnectRegistry& r = Connects();
  std::lock_guard lock(r.mu);
  r.running.remove(job);
  r.idle.notify_all();
}

// At exit: wakes the connects still under way and gives their threads a
// moment to close their connections, so none is cut off inside libldap.
struct ConnectExitGuard {
  ~ConnectExitGuard() {
    ConnectRegistry& r = Connects();
    std::vector<PendingPtr> running;
    {
      std::lock_guard lock(r.mu);
      running.assign(r.running.begin(), r.running.end());
    }
    for (const auto& job : running) {
      std::lock_guard lock(job->mu);
      AbandonLocked(*job);
    }
    std::unique_lock lock(r.mu);
    r.idle.wait_for(lock, std::chrono::seconds(1), [&] { return r.running.empty(); });
  }
} gConnectExitGuard;

// A new bound connection, made on a connect thread within the connect
// bound while this thread waits in slices calling the hook.
LDAP* ConnectAndBind(const std::string& url, const std::string& user, const std::string& password) {
  const auto deadline = SteadyClock::now() + std::chrono::seconds(gConnectTimeout.load());
  auto job = std::make_shared<PendingConnect>();
  {
    ConnectRegistry& r = Connects();
    std::lock_guard lock(r.mu);
    r.running.push_back(job);
  }
  try {
    std::thread(ConnectThread, job, url, user, password, deadline, gRequestTimeout.load()).detach();
  } catch (const std::system_error&) {
    ConnectRegistry& r = Connects();
    std::lock_guard lock(r.mu);
    r.running.remove(job);
    throw ComError(E_FAIL_, "Unspecified error");
  }
  std::unique_lock lock(job->mu);
  for (;;) {
    job->cv.wait_for(lock, WaitSlice(deadline), [&] { return job->done; });
    if (job->done) break;
    if (SteadyClock::now() >= deadline) {
      AbandonLocked(*job);
      throw ComError(E_SERVER_NOT_OPERATIONAL, "The server is not operational.");
    }
    lock.unlock();
    bool goOn = true;
    try {
      goOn = CallHook();
    } catch (...) {
      lock.lock();
      AbandonLocked(*job);
      throw;
    }
    lock.lock();
    if (!goOn) {
      if (job->done) {
        Unbind(job->ld);
        job->ld = nullptr;
      } else {
        AbandonLocked(*job);
      }
      throw Cancelled();
    }
  }
  LDAP* ld = job->ld;
  job->ld = nullptr;
  if (job->rc != LDAP_SUCCESS || !ld)
    throw MapLdapError(job->rc == LDAP_SUCCESS ? LDAP_CONNECT_ERROR : job->rc, true, job->diagnostic);
  return ld;
}

// ---------------------------------------------------------------------------
// Host map

struct HostMapCache {
  std::mutex mu;
  bool loaded = false;
  std::string hostsVariable, homeVariable;  // the environment the reading was made under
  std::string file;
  time_t mtimeSec = 0;
  long mtimeNsec = 0;
  off_t size = -1;
  std::vector<std::pair<std::string, std::string>> entries;  // lower name, URL
} gHosts;

// What the error log says the host map's lines were read for.
constexpr const char* kHostMapContext = "Directory servers";

std::string HostMapFile() {
  if (const char* env = std::getenv("VELMORCAST_LDAP_HOSTS"); env && *env) return env;
  return (AppFolder() / "ldaphosts.conf").string();
}

// Reads the host map again when its version changed. A file that is there
// but cannot be read, and a line that is not a name and an "ldap://" or
// "ldaps://" URL, go to the error log (once per version of the file); the
// names they would map mean "ldap://NAME:389" meanwhile. A line with more
// words after its URL is logged too, and its name and URL still map.
void LoadHostMap(HostMapCache& c, const std::string& file) {
  ++gStats.hostMapChecks;
  c.loaded = true;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    const int err = errno;
    c.file = file;
    c.size = -1;
    c.entries.clear();
    if (err != ENOENT) BadLines(file, FileStamp{}, kHostMapContext).Report(0, std::strerror(err));
    return;
  }
  if (c.file == file && c.size == st.st_size && c.mtimeSec == st.st_mtim.tv_sec &&
      c.mtimeNsec == st.st_mtim.tv_nsec)
    return;
  c.file = file;
  c.size = st.st_size;
  c.mtimeSec = st.st_mtim.tv_sec;
  c.mtimeNsec = st.st_mtim.tv_nsec;
  c.entries.clear();
  std::string bytes, why;
  FileStamp stamp = StampOf(st);
  BadLines bad(file, stamp, kHostMapContext);
  if (!ReadRegularFile(file, bytes, &stamp, &why)) {
    bad.Report(0, why);
    return;
  }
  std::istringstream in(bytes);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::istringstream words(line);
    std::string name, url;
    if (!(words >> name) || name[0] == '#') continue;
    if (!(words >> url) || (url.rfind("ldap://", 0) != 0 && url.rfind("ldaps://", 0) != 0)) {
      bad.Report(number, "it is not a server name and an ldap:// or ldaps:// URL");
      continue;
    }
    // The name and URL still map; what follows them is logged as damage.
    if (std::string more; words >> more)
      bad.Report(number, "it holds more than a server name and an ldap:// or ldaps:// URL: '" + more + "'");
    while (!url.empty() && url.back() == '/') url.pop_back();
    c.entries.emplace_back(Lower(name), url);
  }
}

// ---------------------------------------------------------------------------
// Schema: syntaxes decide how values read (binary, boolean, time).

enum class Syntax { Text, Bool, Time, Binary };

struct AttrInfo {
  Syntax syntax = Syntax::Text;
  bool operational = false;
};

struct ClassInfo {
  std::string name;                 // as the schema spells it
  std::vector<std::string> supers;  // lower-case
  int kind = LDAP_SCHEMA_STRUCTURAL;
};

struct SchemaInfo {
  std::unordered_map<std::string, AttrInfo> attrs;     // every NAME, lower-case
  std::unordered_map<std::string, ClassInfo> classes;  // every NAME, lower-case
};

Syntax SyntaxOf(const std::string& oid) {
  if (oid == "1.3.6.1.4.1.1466.115.121.1.7") return Syntax::Bool;
  if (oid == "1.3.6.1.4.1.1466.115.121.1.24" || oid == "1.3.6.1.4.1.1466.115.121.1.53") return Syntax::Time;
  if (oid == "1.3.6.1.4.1.1466.115.121.1.40" || oid == "1.3.6.1.4.1.1466.115.121.1.5" ||
      oid == "1.3.6.1.4.1.1466.115.121.1.8" || oid == "1.3.6.1.4.1.1466.115.121.1.9" ||
      oid == "1.3.6.1.4.1.1466.115.121.1.10" || oid == "1.3.6.1.4.1.1466.115.121.1.28" ||
      oid == "1.3.6.1.4.1.1466.115.121.1.4" || oid == "1.3.6.1.4.1.1466.115.121.1.49")
    return Syntax::Binary;
  return Syntax::Text;
}

// Without a published schema: the attributes every Exchange server and
// OpenLDAP agree on.
AttrInfo FallbackInfo(const std::string& lname) {
  static const char* const kBinary[] = {"nt-security-descriptor", "assoc-nt-account", "objectguid",
                                        "objectsid", "usercertificate", "usersmimecertificate"};
  static const char* const kTime[] = {"createtimestamp", "modifytimestamp", "whencreated", "whenchanged"};
  static const char* const kOperational[] = {
      "createtimestamp", "modifytimestamp", "creatorsname", "modifiersname", "structuralobjectclass",
      "entrydn",         "entryuuid",       "entrycsn",     "hassubordinates", "subschemasubentry",
      "numsubordinates", "contextcsn",      "pwdchangedtime"};
  AttrInfo info;
  for (auto* n : kBinary)
    if (lname == n) info.syntax = Syntax::Binary;
  for (auto* n : kTime)
    if (lname == n) info.syntax = Syntax::Time;
  for (auto* n : kOperational)
    if (lname == n) info.operational = true;
  return info;
}

std::shared_ptr<SchemaInfo> ParseSchema(const std::vector<std::string>& attributeTypes,
                                        const std::vector<std::string>& objectClasses) {
  auto schema = std::make_shared<SchemaInfo>();
  struct Raw {
    std::vector<std::string> names;
    std::string sup, syntax;
    bool operational;
  };
  std::vector<Raw> raws;
  std::unordered_map<std::string, size_t> byName;
  for (const auto& text : attributeTypes) {
    int code = 0;
    const char* err = nullptr;
    LDAPAttributeType* at = ldap_str2attributetype(text.c_str(), &code, &err, LDAP_SCHEMA_ALLOW_ALL);
    if (!at) continue;
    Raw r;
    for (char** n = at->at_names; n && *n; ++n) r.names.push_back(Lower(*n));
    if (at->at_oid) r.names.push_back(at->at_oid);
    if (at->at_sup_oid) r.sup = Lower(at->at_sup_oid);
    if (at->at_syntax_oid) r.syntax = at->at_syntax_oid;
    r.operational = at->at_usage != LDAP_SCHEMA_USER_APPLICATIONS;
    ldap_attributetype_free(at);
    for (const auto& n : r.names) byName[n] = raws.size();
    raws.push_back(std::move(r));
  }
  for (const Raw& r : raws) {
    // The syntax of an attribute without one comes from its SUP chain.
    std::string syntax = r.syntax;
    std::string sup = r.sup;
    for (int depth = 0; syntax.empty() && !sup.empty() && depth < 16; ++depth) {
      auto it = byName.find(sup);
      if (it == byName.end()) break;
      syntax = raws[it->second].syntax;
      sup = raws[it->second].sup;
    }
    AttrInfo info{SyntaxOf(syntax), r.operational};
    for (const auto& n : r.names) schema->attrs[n] = info;
  }
  for (const auto& text : objectClasses) {
    int code = 0;
    const char* err = nullptr;
    LDAPObjectClass* oc = ldap_str2objectclass(text.c_str(), &code, &err, LDAP_SCHEMA_ALLOW_ALL);
    if (!oc) continue;
    ClassInfo ci;
    if (oc->oc_names && oc->oc_names[0]) ci.name = oc->oc_names[0];
    for (char** s = oc->oc_sup_oids; s && *s; ++s) ci.supers.push_back(Lower(*s));
    ci.kind = oc->oc_kind;
    for (char** n = oc->oc_names; n && *n; ++n) schema->classes[Lower(*n)] = ci;
    ldap_objectclass_free(oc);
  }
  return schema;
}

// ---------------------------------------------------------------------------
// Entries

// One entry as read: the DN and the attributes, names and values kept back
// to back in one buffer (an enumeration of 20,000 entries makes 20,000 of
// these, so they are built with few allocations).
struct Span {
  uint32_t off = 0, len = 0;
};

struct Attr {
  Span name;  // as the server returned it
  uint32_t first = 0, count = 0;
};

struct Entry {
  std::string dn;
  std::string blob;
  std::vector<Attr> attrs;
  std::vector<Span> spans;
  bool allUser = false;                // "*" was asked for
  bool allOperational = false;         // "+" was asked for
  std::vector<std::string> requested;  // names asked for by name, lower-case

  std::string_view Text(Span s) const { return std::string_view(blob.data() + s.off, s.len); }
  std::string_view Name(const Attr& a) const { return Text(a.name); }
  std::string_view Value(const Attr& a, size_t i) const { return Text(spans[a.first + i]); }
  std::vector<std::string> Values(const Attr& a) const {
    std::vector<std::string> out;
    out.reserve(a.count);
    for (size_t i = 0; i < a.count; ++i) out.emplace_back(Value(a, i));
    return out;
  }

  const Attr* Find(std::string_view name) const {
    for (const auto& a : attrs)
      if (EqualsNoCase(Name(a), name)) return &a;
    return nullptr;
  }
  // True when a read of `lname` would add nothing: the attribute is either
  // here or known to be absent.
  bool Covers(const std::string& lname, bool operational) const {
    if (operational ? allOperational : allUser) return true;
    return std::find(requested.begin(), requested.end(), lname) != requested.end();
  }

  Span Append(std::string_view text) {
    Span s{static_cast<uint32_t>(blob.size()), static_cast<uint32_t>(text.size())};
    blob.append(text);
    return s;
  }
  void AddAttr(std::string_view name) {
    Attr a;
    a.name = Append(name);
    a.first = static_cast<uint32_t>(spans.size());
    attrs.push_back(a);
  }
  void AddValue(std::string_view value) {
    spans.push_back(Append(value));
    ++attrs.back().count;
  }
};

using EntryPtr = std::shared_ptr<const Entry>;

// What every read of an entry asks for: all user attributes and the
// operational ones the layer shows (time stamps, the structural class).
const char* const kStandardAttrs[] = {"*", "createTimestamp", "modifyTimestamp", "structuralObjectClass",
                                      nullptr};
const std::vector<std::string> kStandardRequested = {"createtimestamp", "modifytimestamp",
                                                     "structuralobjectclass"};

// A message of libldap, freed when it goes.
struct MessageFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using MessagePtr = std::unique_ptr<LDAPMessage, MessageFree>;

// The entry of a search entry message. An entry that does not decode
// throws: a part of it would read as an entry without those attributes.
EntryPtr ReadEntryMessage(LDAP* ld, LDAPMessage* msg, const std::vector<std::string>& requested, bool allUser,
                          bool allOperational) {
  auto e = std::make_shared<Entry>();
  e->requested = requested;
  e->allUser = allUser;
  e->allOperational = allOperational;
  BerElement* ber = nullptr;
  berval dn{};
  int rc = ldap_get_dn_ber(ld, msg, &ber, &dn);
  if (rc != LDAP_SUCCESS) {
    if (ber) ber_free(ber, 0);
    throw MapLdapError(rc, false);
  }
  e->dn.assign(dn.bv_val, dn.bv_len);
  e->blob.reserve(1024);
  e->attrs.reserve(32);
  e->spans.reserve(40);
  berval name{};
  BerVarray vals = nullptr;
  for (rc = ldap_get_attribute_ber(ld, msg, ber, &name, &vals); rc == LDAP_SUCCESS && name.bv_val;
       rc = ldap_get_attribute_ber(ld, msg, ber, &name, &vals)) {
    e->AddAttr(std::string_view(name.bv_val, name.bv_len));
    if (vals) {
      for (BerVarray v = vals; v->bv_val; ++v) e->AddValue(std::string_view(v->bv_val, v->bv_len));
      ber_memfree(vals);
      vals = nullptr;
    }
  }
  if (vals) ber_memfree(vals);
  ber_free(ber, 0);
  if (rc != LDAP_SUCCESS) throw MapLdapError(rc, false);
  return e;
}

std::string FilterEscape(const std::string& value) {
  std::string out;
  for (unsigned char c : value) {
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == 0) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "\\%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool HasClass(const Entry& e, const std::vector<std::string>& classes) {
  if (classes.empty()) return true;
  const Attr* oc = e.Find("objectClass");
  if (!oc) return false;
  for (size_t i = 0; i < oc->count; ++i)
    for (const auto& c : classes)
      if (EqualsNoCase(e.Value(*oc, i), c)) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Schema cache per server URL

struct SchemaCache {
  std::mutex mu;
  std::map<std::string, std::shared_ptr<SchemaInfo>> byUrl;
} gSchemas;

// ---------------------------------------------------------------------------
// Sessions

class Session {
 public:
  Session(std::string url, std::string user, std::string password)
      : url_(std::move(url)), user_(std::move(user)), password_(std::move(password)) {}
  ~Session() {
    Drop();
    CloseRetired();
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::string& Url() const { return url_; }

  void Connect() {
    std::lock_guard lock(mu_);
    ConnectLocked();
  }

  // One base read of an entry. `names` empty reads the standard set.
  EntryPtr Read(const std::string& dn, const std::vector<std::string>& names) {
    return WithRetry([&] { return ReadLocked(dn, names, false); });
  }

  EntryPtr ReadRootDse() {
    return WithRetry([&] { return ReadLocked("", {}, true); });
  }

  // The children of `dn` one level down whose objectClass holds one of the
  // classes exactly (all children when none), in the server's order.
  std::vector<EntryPtr> Enumerate(const std::string& dn, const std::vector<std::string>& classes) {
    return WithRetry([&] { return EnumerateLocked(dn, classes); });
  }

  EntryPtr FromLastEnumeration(const std::string& dn) {
    std::lock_guard lock(mu_);
    if (lastEnum_.empty() && visiting_.empty()) return nullptr;
    const std::string key = detail::NormalizeDn(dn);
    for (auto page = visiting_.rbegin(); page != visiting_.rend(); ++page)
      if (auto it = page->find(key); it != page->end()) return it->second;
    auto it = lastEnum_.find(key);
    return it == lastEnum_.end() ? nullptr : it->second;
  }

  std::string OrganisationDn() {
    std::lock_guard lock(mu_);
    if (!orgDn_.empty()) return orgDn_;
    EntryPtr root = ReadRootDse();
    if (const Attr* nc = root->Find("namingContexts")) {
      for (const auto& ctx : root->Values(*nc)) {
        EntryPtr e;
        try {
          e = Read(ctx, {"objectClass"});
        } catch (const ConnectionLost&) {
          throw;
        } catch (const Cancelled&) {
          throw;
        } catch (const ComError&) {
          continue;
        }
        if (HasClass(*e, {"organization"})) {
          orgDn_ = e->dn.empty() ? ctx : e->dn;
          return orgDn_;
        }
      }
    }
    throw ComError(E_NO_SUCH_OBJECT, "There is no such object on the server.");
  }

  std::shared_ptr<SchemaInfo> Schema() {
    {
      std::lock_guard lock(gSchemas.mu);
      auto it = gSchemas.byUrl.find(url_);
      if (it != gSchemas.byUrl.end()) return it->second;
    }
    if (schemaFailed_) return nullptr;
    std::shared_ptr<SchemaInfo> schema;
    try {
      EntryPtr root = ReadRootDse();
      const Attr* sub = root->Find("subschemaSubentry");
      if (sub && sub->count > 0) {
        EntryPtr s = Read(std::string(root->Value(*sub, 0)), {"attributeTypes", "objectClasses"});
        const Attr* at = s->Find("attributeTypes");
        const Attr* oc = s->Find("objectClasses");
        if (at) schema = ParseSchema(s->Values(*at), oc ? s->Values(*oc) : std::vector<std::string>{});
      }
    } catch (const ConnectionLost&) {
      return nullptr;  // read values by the fallback rules this time
    } catch (const Cancelled&) {
      throw;
    } catch (const ComError&) {
      schemaFailed_ = true;  // no readable schema: the fallback rules serve
      return nullptr;
    }
    if (!schema) schema = std::make_shared<SchemaInfo>();
    std::lock_guard lock(gSchemas.mu);
    return gSchemas.byUrl.emplace(url_, schema).first->second;
  }

 private:
  template <class F>
  auto WithRetry(F&& f) -> decltype(f()) {
    std::lock_guard lock(mu_);
    BusyScope busy(*this);
    if (!ld_) ConnectLocked();
    try {
      return f();
    } catch (const ConnectionLost&) {
      // The server dropped the cached connection: reconnect once.
      Drop();
      ConnectLocked();
      return f();
    }
  }

  // Counts the requests under way on this session. Only the thread that
  // holds mu_ runs one, but the wait hook it calls may run another
  // directory call on the same thread; a connection that call gives up is
  // closed only when the outer request is done with it too.
  struct BusyScope {
    Session& s;
    explicit BusyScope(Session& session) : s(session) { ++s.busy_; }
    ~BusyScope() {
      if (--s.busy_ == 0 && s.streaming_ == 0) s.CloseRetired();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
  };

  void Drop() {
    if (ld_) {
      if (busy_ > 1 || streaming_ > 0)
        retired_.push_back(ld_);
      else
        Unbind(ld_);
    }
    ld_ = nullptr;
  }

  void CloseRetired() {
    for (LDAP* ld : retired_) Unbind(ld);
    retired_.clear();
  }

  void ConnectLocked() {
    Drop();
    ld_ = OpenConnection();
  }

  // A new connection with this session's bind.
  LDAP* OpenConnection() { return ConnectAndBind(url_, user_, password_); }

  // A connection of its own for an enumeration that starts while a
  // streamed one is between pages: the server keeps one paged search per
  // connection, and a second one there would end the first.
  struct SideConnection {
    LDAP* ld = nullptr;
    ~SideConnection() {
      Unbind(ld);
    }
  };
  LDAP* EnumerationConnection(SideConnection& side) {
    if (streaming_ == 0) return ld_;
    if (!side.ld) side.ld = OpenConnection();
    return side.ld;
  }

  // Turns a failed request into an error; a timeout also gives up the
  // connection, whose state is then unknown.
  [[noreturn]] void Fail(int rc) { Fail(rc, ld_); }
  [[noreturn]] void Fail(int rc, LDAP* ld, const std::string& diagnostic = "") {
    if (rc == LDAP_TIMEOUT && ld == ld_) Drop();
    ThrowLdap(rc, diagnostic);
  }

  EntryPtr ReadLocked(const std::string& dn, const std::vector<std::string>& names, bool rootDse) {
    std::vector<const char*> attrs;
    std::vector<std::string> requested;
    bool allUser = false, allOps = false;
    if (rootDse) {
      attrs = {"*", "+", nullptr};
      allUser = allOps = true;
    } else if (names.empty()) {
      attrs.assign(std::begin(kStandardAttrs), std::end(kStandardAttrs));
      requested = kStandardRequested;
      allUser = true;
    } else {
      for (const auto& n : names) {
        attrs.push_back(n.c_str());
        requested.push_back(Lower(n));
      }
      attrs.push_back(nullptr);
    }
    LDAP* ld = ld_;
    const auto deadline = SteadyClock::now() + std::chrono::seconds(gRequestTimeout.load());
    timeval limit{gRequestTimeout.load(), 0};
    ++gStats.searches;
    ++gStats.pages;
    int msgid = 0;
    int rc = ldap_search_ext(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", const_cast<char**>(attrs.data()),
                             0, nullptr, nullptr, &limit, LDAP_NO_LIMIT, &msgid);
    if (rc != LDAP_SUCCESS) Fail(rc, ld);
    MessagePtr res(Await(ld, msgid, LDAP_MSG_ALL, deadline));
    int err = LDAP_SUCCESS;
    char* text = nullptr;
    rc = ldap_parse_result(ld, res.get(), &err, nullptr, &text, nullptr, nullptr, 0);
    const std::string diagnostic = TakeDiagnostic(text);
    if (rc == LDAP_SUCCESS) rc = err;
    if (rc != LDAP_SUCCESS) Fail(rc, ld, diagnostic);
    LDAPMessage* msg = ldap_first_entry(ld, res.get());
    if (!msg) throw ComError(E_NO_SUCH_OBJECT, "There is no such object on the server.");
    EntryPtr e = ReadEntryMessage(ld, msg, requested, allUser, allOps);
    res.reset();
    PaceHook();
    return e;
  }

  // The next message (all of them with LDAP_MSG_ALL) of request `msgid`,
  // waited for in slices with the hook called between them. The request is
  // abandoned when its deadline passes (an error that also gives up the
  // connection) or when the hook gives the wait up.
  LDAPMessage* Await(LDAP* ld, int msgid, int all, SteadyClock::time_point deadline) {
    for (;;) {
      try {
        PaceHook();
      } catch (const Cancelled&) {
        ldap_abandon_ext(ld, msgid, nullptr, nullptr);
        throw;
      }
      if (SteadyClock::now() >= deadline) {
        ldap_abandon_ext(ld, msgid, nullptr, nullptr);
        Fail(LDAP_TIMEOUT, ld);
      }
      timeval wait = ToTimeval(WaitSlice(deadline));
      LDAPMessage* msg = nullptr;
      const int type = ldap_result(ld, msgid, all, &wait, &msg);
      if (type > 0) return msg;
      if (type < 0) {
        int err = LDAP_SERVER_DOWN;
        ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &err);
        Fail(err == LDAP_SUCCESS ? LDAP_SERVER_DOWN : err, ld);
      }
    }
  }

  bool PagingOffered() {
    if (pagingKnown_) return paging_;
    EntryPtr root;
    try {
      root = ReadLocked("", {}, true);
    } catch (const ConnectionLost&) {
      throw;
    } catch (const Cancelled&) {
      throw;
    } catch (const ComError&) {
      pagingKnown_ = true;  // an unreadable root DSE offers nothing
      paging_ = false;
      return false;
    }
    paging_ = false;
    if (const Attr* sc = root->Find("supportedControl"))
      for (size_t i = 0; i < sc->count; ++i)
        if (root->Value(*sc, i) == LDAP_CONTROL_PAGEDRESULTS) paging_ = true;
    pagingKnown_ = true;
    return paging_;
  }

  static std::string ClassFilter(const std::vector<std::string>& classes) {
    if (classes.empty()) return "(objectClass=*)";
    if (classes.size() == 1) return "(objectClass=" + FilterEscape(classes[0]) + ")";
    std::string filter = "(|";
    for (const auto& c : classes) filter += "(objectClass=" + FilterEscape(c) + ")";
    return filter + ")";
  }

  std::vector<EntryPtr> EnumerateLocked(const std::string& dn, const std::vector<std::string>& classes) {
    const std::string filter = ClassFilter(classes);
    const bool paged = PagingOffered();
    ++gStats.searches;
    std::vector<EntryPtr> out;
    std::string cookie;
    SideConnection side;
    LDAP* ld = EnumerationConnection(side);
    do {
      if (paged) out.reserve(out.size() + gPageSize.load());
      PageLocked(ld, dn, filter, classes, paged, cookie, out);
    } while (!cookie.empty());
    std::unordered_map<std::string, EntryPtr> byDn;
    byDn.reserve(out.size());
    for (const auto& e : out) byDn.emplace(detail::NormalizeDn(e->dn), e);
    lastEnum_ = std::move(byDn);
    return out;
  }

 public:
  // Streams the children of `dn` page by page: each page is fetched with
  // the session locked, then visited with it unlocked, its entries served
  // to binds by path meanwhile. A dropped connection is reconnected once
  // before the first page; later pages depend on the server's paging state,
  // which a new connection does not have, so losing it there is an error.
  void EnumeratePages(const std::string& dn, const std::vector<std::string>& classes,
                      const std::function<bool(const std::vector<EntryPtr>&)>& visitPage) {
    const std::string filter = ClassFilter(classes);
    bool paged = false;
    std::string cookie;
    std::vector<EntryPtr> page;
    SideConnection side;
    LDAP* ld = nullptr;
    WithRetry([&] {
      page.clear();
      cookie.clear();
      if (side.ld) {  // a retry: the side connection may be the one that was lost
        Unbind(side.ld);
        side.ld = nullptr;
      }
      paged = PagingOffered();
      ld = EnumerationConnection(side);
      ++gStats.searches;
      PageLocked(ld, dn, filter, classes, paged, cookie, page);
      return 0;
    });
    StreamScope streaming(*this);
    // The next page is asked for before this one is visited, so the server
    // prepares and sends it while the visitor works; a walk that stops
    // early or fails abandons it.
    struct NextPage {
      Session& s;
      LDAP*& ld;
      int msgid = -1;
      ~NextPage() {
        if (msgid < 0) return;
        std::lock_guard lock(s.mu_);
        ldap_abandon_ext(ld, msgid, nullptr, nullptr);
      }
    } next{*this, ld};
    // The main connection may have been replaced meanwhile; its paging
    // state went with it.
    auto requireConnection = [&] {
      if (ld != side.ld && ld != ld_) throw ComError(E_SERVER_NOT_OPERATIONAL, "The server is not operational.");
    };
    for (;;) {
      if (!cookie.empty()) {
        std::lock_guard lock(mu_);
        requireConnection();
        try {
          next.msgid = SendPageLocked(ld, dn, filter, paged, cookie);
        } catch (const ConnectionLost&) {
          throw ComError(E_SERVER_NOT_OPERATIONAL, "The server is not operational.");
        }
      }
      {
        PageScope scope(*this, page);
        if (!visitPage(page) || next.msgid < 0) return;
      }
      page.clear();
      std::lock_guard lock(mu_);
      requireConnection();
      try {
        const int msgid = std::exchange(next.msgid, -1);
        ReceivePageLocked(ld, msgid, classes, paged, cookie, page);
      } catch (const ConnectionLost&) {
        throw ComError(E_SERVER_NOT_OPERATIONAL, "The server is not operational.");
      }
    }
  }

 private:
  // Counts a streamed enumeration between its pages.
  struct StreamScope {
    Session& s;
    explicit StreamScope(Session& session) : s(session) {
      std::lock_guard lock(s.mu_);
      ++s.streaming_;
    }
    ~StreamScope() {
      std::lock_guard lock(s.mu_);
      if (--s.streaming_ == 0 && s.busy_ == 0) s.CloseRetired();
    }
    StreamScope(const StreamScope&) = delete;
    StreamScope& operator=(const StreamScope&) = delete;
  };

  // Registers a page being visited for FromLastEnumeration while it lives.
  struct PageScope {
    Session& s;
    std::list<std::unordered_map<std::string, EntryPtr>>::iterator it;
    PageScope(Session& session, const std::vector<EntryPtr>& page) : s(session) {
      std::unordered_map<std::string, EntryPtr> byDn;
      byDn.reserve(page.size());
      for (const auto& e : page) byDn.emplace(detail::NormalizeDn(e->dn), e);
      std::lock_guard lock(s.mu_);
      it = s.visiting_.insert(s.visiting_.end(), std::move(byDn));
    }
    ~PageScope() {
      std::lock_guard lock(s.mu_);
      s.visiting_.erase(it);
    }
    PageScope(const PageScope&) = delete;
    PageScope& operator=(const PageScope&) = delete;
  };

  // One request of a one-level search: the first when `cookie` is empty,
  // else the page after the one that gave `cookie`. The entries arrive in
  // `out`; `cookie` is left empty after the last page (always, unpaged).
  void PageLocked(LDAP* ld, const std::string& dn, const std::string& filter, const std::vector<std::string>& classes,
                  bool paged, std::string& cookie, std::vector<EntryPtr>& out) {
    const int msgid = SendPageLocked(ld, dn, filter, paged, cookie);
    ReceivePageLocked(ld, msgid, classes, paged, cookie, out);
  }

  // Sends the request of one page; its message id.
  int SendPageLocked(LDAP* ld, const std::string& dn, const std::string& filter, bool paged,
                     const std::string& cookieText) {
    LDAPControl* page = nullptr;
    if (paged) {
      berval sent{static_cast<ber_len_t>(cookieText.size()),
                  cookieText.empty() ? nullptr : const_cast<char*>(cookieText.data())};
      int rc = ldap_create_page_control(ld, static_cast<ber_int_t>(gPageSize.load()), &sent, 1, &page);
      if (rc != LDAP_SUCCESS) Fail(rc, ld);
    }
    LDAPControl* controls[2] = {page, nullptr};
    timeval limit{gRequestTimeout.load(), 0};
    int msgid = 0;
    ++gStats.pages;
    int rc = ldap_search_ext(ld, dn.c_str(), LDAP_SCOPE_ONELEVEL, filter.c_str(),
                             const_cast<char**>(kStandardAttrs), 0, paged ? controls : nullptr, nullptr, &limit,
                             LDAP_NO_LIMIT, &msgid);
    if (page) ldap_control_free(page);
    if (rc != LDAP_SUCCESS) Fail(rc, ld);
    return msgid;
  }

  // The entries of the page asked for by `msgid` into `out`, and the cookie
  // of the page after it (empty after the last page). The wait is bounded
  // by the request timeout, counted from now: a page asked for ahead may
  // have waited for its visitor.
  void ReceivePageLocked(LDAP* ld, int msgid, const std::vector<std::string>& classes, bool paged,
                         std::string& cookieText, std::vector<EntryPtr>& out) {
    berval cookie{0, nullptr};
    struct CookieGuard {
      berval& c;
      ~CookieGuard() {
        if (c.bv_val) ber_memfree(c.bv_val);
      }
    } guard{cookie};
    cookieText.clear();
    const auto deadline = SteadyClock::now() + std::chrono::seconds(gRequestTimeout.load());
    // Entries are taken one by one as they arrive, so reading them
    // overlaps with the server sending the rest of the page.
    for (;;) {
      MessagePtr msg(Await(ld, msgid, LDAP_MSG_ONE, deadline));
      const int type = ldap_msgtype(msg.get());
      if (type == LDAP_RES_SEARCH_ENTRY) {
        // An entry that does not decode fails the walk (the rest of the
        // page given up): a list without it would look whole.
        EntryPtr e;
        try {
          e = ReadEntryMessage(ld, msg.get(), kStandardRequested, true, false);
        } catch (const ComError&) {
          ldap_abandon_ext(ld, msgid, nullptr, nullptr);
          throw;
        }
        if (HasClass(*e, classes)) out.push_back(std::move(e));  // the server also matches subclasses
        continue;
      }
      if (type != LDAP_RES_SEARCH_RESULT) continue;  // references and anything else
      int err = LDAP_SUCCESS;
      LDAPControl** returned = nullptr;
      char* text = nullptr;
      int rc = ldap_parse_result(ld, msg.release(), &err, nullptr, &text, nullptr, &returned, 1);
      const std::string diagnostic = TakeDiagnostic(text);
      if (rc == LDAP_SUCCESS && err != LDAP_SUCCESS) rc = err;
      if (rc == LDAP_SUCCESS && paged) {
        // A page control that does not parse fails the walk too: taken for
        // the last page, it would end the list short.
        if (LDAPControl* c = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr)) {
          ber_int_t estimate = 0;
          rc = ldap_parse_pageresponse_control(ld, c, &estimate, &cookie);
        }
      }
      if (returned) ldap_controls_free(returned);
      // A limit hit part-way is an error, never a short list.
      if (rc != LDAP_SUCCESS) Fail(rc, ld, diagnostic);
      if (cookie.bv_val && cookie.bv_len > 0) cookieText.assign(cookie.bv_val, cookie.bv_len);
      return;
    }
  }

  std::recursive_mutex mu_;
  const std::string url_, user_, password_;
  LDAP* ld_ = nullptr;
  int busy_ = 0;                // requests under way (see BusyScope)
  std::vector<LDAP*> retired_;  // connections given up while busy
  bool pagingKnown_ = false, paging_ = false;
  std::atomic<bool> schemaFailed_{false};
  std::string orgDn_;
  std::unordered_map<std::string, EntryPtr> lastEnum_;
  // The pages ForEachChild walks are visiting (more than one when walks
  // nest).
  std::list<std::unordered_map<std::string, EntryPtr>> visiting_;
  int streaming_ = 0;  // streamed enumerations between their pages
};

using SessionPtr = std::shared_ptr<Session>;

struct SessionRegistry {
  std::mutex mu;
  std::map<std::tuple<std::string, std::string, std::string>, SessionPtr> sessions;
} gSessions;

SessionPtr GetSession(const std::string& url, const std::string& user, const std::string& password) {
  auto key = std::make_tuple(url, user, password);
  {
    std::lock_guard lock(gSessions.mu);
    auto it = gSessions.sessions.find(key);
    if (it != gSessions.sessions.end()) return it->second;
  }
  auto s = std::make_shared<Session>(url, user, password);
  try {
    s->Connect();
  } catch (const ConnectionLost&) {
    throw ComError(E_SERVER_NOT_OPERATIONAL, "The server is not operational.");
  }
  std::lock_guard lock(gSessions.mu);
  return gSessions.sessions.emplace(key, s).first->second;
}

// ---------------------------------------------------------------------------
// Values

std::string GeneralizedTimeText(const std::string& v) {
  // YYYYMMDDHHMMSS[.f]Z, YYYYMMDDHHMMSS[.f]+hhmm, or UTCTime YYMMDDHHMMSSZ.
  std::tm tm{};
  size_t pos = 0;
  auto num = [&](size_t n, int& out) {
    if (pos + n > v.size()) return false;
    out = 0;
    for (size_t i = 0; i < n; ++i) {
      char c = v[pos + i];
      if (c < '0' || c > '9') return false;
      out = out * 10 + (c - '0');
    }
    pos += n;
    return true;
  };
  int year = 0, mon = 0, day = 0, hour = 0, min = 0, sec = 0;
  size_t digits = 0;
  while (digits < v.size() && v[digits] >= '0' && v[digits] <= '9') ++digits;
  bool utcTime = digits == 10 || digits == 12;
  if (!(utcTime ? num(2, year) : num(4, year)) || !num(2, mon) || !num(2, day) || !num(2, hour)) return v;
  if (utcTime) year += year < 50 ? 2000 : 1900;
  if (pos < v.size() && v[pos] >= '0' && v[pos] <= '9' && !num(2, min)) return v;
  if (pos < v.size() && v[pos] >= '0' && v[pos] <= '9' && !num(2, sec)) return v;
  if (pos < v.size() && (v[pos] == '.' || v[pos] == ',')) {
    ++pos;
    while (pos < v.size() && v[pos] >= '0' && v[pos] <= '9') ++pos;
  }
  long offset = 0;
  if (pos < v.size() && (v[pos] == '+' || v[pos] == '-')) {
    int sign = v[pos] == '-' ? -1 : 1;
    ++pos;
    int oh = 0, om = 0;
    if (!num(2, oh)) return v;
    num(2, om);
    offset = sign * (oh * 3600L + om * 60L);
  }
  tm.tm_year = year - 1900;
  tm.tm_mon = mon - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  time_t t = timegm(&tm) - offset;
  return GeneralDate(Clock::from_time_t(t));
}

}  // namespace

// ---------------------------------------------------------------------------
// Bound objects

namespace {

class LdapObject final : public DirObject {
 public:
  LdapObject(SessionPtr session, std::string server, EntryPtr entry, bool rootDse)
      : session_(std::move(session)), server_(std::move(server)), entry_(std::move(entry)), rootDse_(rootDse) {
    gLiveObjects.fetch_add(1, std::memory_order_relaxed);
  }
  ~LdapObject() override { gLiveObjects.fetch_sub(1, std::memory_order_relaxed); }
  LdapObject(const LdapObject&) = delete;
  LdapObject& operator=(const LdapObject&) = delete;

  std::string Name() const override {
    if (rootDse_) return "";
    return detail::DisplayRdn(detail::FirstRdn(entry_->dn));
  }

  std::string Class() const override {
    if (rootDse_) return "RootDSE";
    auto schema = session_->Schema();
    auto spelled = [&](const std::string& name) {
      if (schema) {
        auto it = schema->classes.find(Lower(name));
        if (it != schema->classes.end() && !it->second.name.empty()) return it->second.name;
      }
      return name;
    };
    if (const Attr* s = entry_->Find("structuralObjectClass"); s && s->count > 0)
      return spelled(std::string(entry_->Value(*s, 0)));
    const Attr* ocAttr = entry_->Find("objectClass");
    if (!ocAttr || ocAttr->count == 0) return "";
    const std::vector<std::string> classes = entry_->Values(*ocAttr);
    const std::vector<std::string>* oc = &classes;
    // The most derived structural class listed: one no other listed class
    // derives from.
    if (schema) {
      auto derivesFrom = [&](const std::string& cls, const std::string& ancestor) {
        std::vector<std::string> todo{Lower(cls)};
        for (int guard = 0; !todo.empty() && guard < 64; ++guard) {
          std::string c = todo.back();
          todo.pop_back();
          auto it = schema->classes.find(c);
          if (it == schema->classes.end()) continue;
          for (const auto& s : it->second.supers) {
            if (s == ancestor) return true;
            todo.push_back(s);
          }
        }
        return false;
      };
      for (const auto& v : *oc) {
        auto it = schema->classes.find(Lower(v));
        if (it != schema->classes.end() && it->second.kind != LDAP_SCHEMA_STRUCTURAL) continue;
        bool isAncestor = false;
        for (const auto& other : *oc)
          if (&other != &v && derivesFrom(other, Lower(v))) isAncestor = true;
        if (!isAncestor && !EqualsNoCase(v, "top")) return spelled(v);
      }
    }
    for (const auto& v : *oc)
      if (!EqualsNoCase(v, "top")) return v;
    return oc->front();
  }

  std::string Parent() const override {
    if (rootDse_) return "LDAP://" + server_;
    std::string parent = detail::ParentDn(entry_->dn);
    if (parent.empty()) return "LDAP://" + server_;
    return "LDAP://" + server_ + "/" + parent;
  }

  std::string ADsPath() const override {
    if (rootDse_) return "LDAP://" + server_ + "/RootDSE";
    return "LDAP://" + server_ + "/" + detail::EscapeSlash(entry_->dn);
  }

  void GetInfoEx(const std::vector<std::string>& names, long) override {
    std::vector<std::string> missing;
    auto schema = session_->Schema();
    for (const auto& n : names) {
      std::string lname = StripOption(n);
      if (lname.empty()) continue;
      if (!entry_->Covers(lname, IsOperational(lname, schema.get())) &&
          std::find(missing.begin(), missing.end(), lname) == missing.end())
        missing.push_back(lname);
    }
    if (!missing.empty()) Fetch(missing);
  }

  void GetInfo() override {
    binary_.clear();
    entry_ = rootDse_ ? session_->ReadRootDse() : session_->Read(entry_->dn, {});
  }

  DirValue Get(const std::string& name) override { return Read(name, false); }
  DirValue GetEx(const std::string& name) override { return Read(name, true); }
  bool TryGet(const std::string& name, DirValue& out) override { return Lookup(name, false, out); }
  bool TryGetEx(const std::string& name, DirValue& out) override { return Lookup(name, true, out); }

  void SetFilter(std::vector<std::string> classes) override { filter_ = std::move(classes); }
  std::vector<std::string> Filter() const override { return filter_; }

  std::vector<DirObjectPtr> Children() override {
    std::vector<DirObjectPtr> out;
    if (rootDse_) return out;
    auto entries = session_->Enumerate(entry_->dn, filter_);
    out.reserve(entries.size());
    for (auto& e : entries) out.push_back(std::make_shared<LdapObject>(session_, server_, std::move(e), false));
    return out;
  }

  void ForEachChild(const std::function<bool(DirObjectPtr)>& visit) override {
    if (rootDse_) return;
    session_->EnumeratePages(entry_->dn, filter_, [&](const std::vector<EntryPtr>& page) {
      for (const auto& e : page)
        if (!visit(std::make_shared<LdapObject>(session_, server_, e, false))) return false;
      return true;
    });
  }

 private:
  // "name;binary" asks for bytes; the option is not sent to the server.
  std::string StripOption(const std::string& name) {
    std::string lname = Lower(name);
    size_t semi = lname.find(';');
    if (semi != std::string::npos) {
      std::string option = lname.substr(semi + 1);
      lname.resize(semi);
      if (option == "binary" && std::find(binary_.begin(), binary_.end(), lname) == binary_.end())
        binary_.push_back(lname);
    }
    return lname;
  }

  static bool IsOperational(const std::string& lname, const SchemaInfo* schema) {
    if (schema) {
      auto it = schema->attrs.find(lname);
      if (it != schema->attrs.end()) return it->second.operational;
    }
    return FallbackInfo(lname).operational;
  }

  void Fetch(const std::vector<std::string>& names) {
    EntryPtr fetched = rootDse_ ? session_->ReadRootDse() : session_->Read(entry_->dn, names);
    // A new entry: the attributes read now replace those of the same name.
    auto merged = std::make_shared<Entry>();
    merged->dn = entry_->dn;
    merged->allUser = entry_->allUser;
    merged->allOperational = entry_->allOperational;
    merged->requested = entry_->requested;
    auto copy = [&](const Entry& from, const Attr& a) {
      merged->AddAttr(from.Name(a));
      for (size_t i = 0; i < a.count; ++i) merged->AddValue(from.Value(a, i));
    };
    for (const auto& a : entry_->attrs)
      if (!fetched->Find(entry_->Name(a))) copy(*entry_, a);
    for (const auto& a : fetched->attrs) copy(*fetched, a);
    for (const auto& n : names)
      if (std::find(merged->requested.begin(), merged->requested.end(), n) == merged->requested.end())
        merged->requested.push_back(n);
    entry_ = std::move(merged);
  }

  DirValue Read(const std::string& name, bool all) {
    DirValue value;
    if (!Lookup(name, all, value)) ThrowNotFound();
    return value;
  }

  // The attribute's value(s) into `out`; false when the entry has none.
  bool Lookup(const std::string& name, bool all, DirValue& out) {
    std::string lname = Lower(name);
    bool binary = false;
    if (size_t semi = lname.find(';'); semi != std::string::npos) {
      binary = lname.substr(semi + 1) == "binary";
      lname.resize(semi);
    }
    auto schema = session_->Schema();
    const Attr* a = entry_->Find(lname);
    if (!a && !entry_->Covers(lname, IsOperational(lname, schema.get()))) {
      Fetch({lname});
      a = entry_->Find(lname);
    }
    if (!a || a->count == 0) return false;
    binary = binary || std::find(binary_.begin(), binary_.end(), lname) != binary_.end();

    Syntax syntax = Syntax::Text;
    if (schema) {
      auto it = schema->attrs.find(lname);
      if (it != schema->attrs.end()) syntax = it->second.syntax;
      else syntax = FallbackInfo(lname).syntax;
    } else {
      syntax = FallbackInfo(lname).syntax;
    }
    auto convert = [&](std::string_view v) {
      if (binary || syntax == Syntax::Binary) return DirValue::FromBytes(std::vector<uint8_t>(v.begin(), v.end()));
      if (syntax == Syntax::Bool || (!schema && (v == "TRUE" || v == "FALSE"))) {
        if (v == "TRUE") return DirValue::FromText("True");
        if (v == "FALSE") return DirValue::FromText("False");
      }
      if (syntax == Syntax::Time) return DirValue::FromText(GeneralizedTimeText(std::string(v)));
      return DirValue::FromText(std::string(v));
    };
    if (!all && a->count == 1) {
      out = convert(entry_->Value(*a, 0));
      return true;
    }
    std::vector<DirValue> items;
    items.reserve(a->count);
    for (size_t i = 0; i < a->count; ++i) items.push_back(convert(entry_->Value(*a, i)));
    out = DirValue::FromList(std::move(items));
    return true;
  }

  SessionPtr session_;
  std::string server_;
  EntryPtr entry_;
  bool rootDse_;
  std::vector<std::string> binary_;
  std::vector<std::string> filter_;
};

std::mutex gWinNTMu;
WinNTProvider gWinNT;

}  // namespace

// ---------------------------------------------------------------------------
// Base versions for objects of other providers

bool DirObject::TryGet(const std::string& name, DirValue& out) {
  try {
    out = Get(name);
    return true;
  } catch (const ComError& e) {
    if (e.Number() != E_ADS_PROPERTY_NOT_FOUND) throw;
    return false;
  }
}

bool DirObject::TryGetEx(const std::string& name, DirValue& out) {
  try {
    out = GetEx(name);
    return true;
  } catch (const ComError& e) {
    if (e.Number() != E_ADS_PROPERTY_NOT_FOUND) throw;
    return false;
  }
}

void DirObject::ForEachChild(const std::function<bool(DirObjectPtr)>& visit) {
  for (auto& child : Children())
    if (!visit(std::move(child))) return;
}

// ---------------------------------------------------------------------------
// Public functions

std::string ServerUrl(const std::string& server) {
  {
    std::lock_guard lock(gHosts.mu);
    // Looked at again by the first bind of an operation (no bound object
    // alive), or when the variables naming the file changed.
    const char* hosts = std::getenv("VELMORCAST_LDAP_HOSTS");
    const char* home = std::getenv("VELMORCAST_HOME");
    if (!gHosts.loaded || gLiveObjects.load(std::memory_order_relaxed) == 0 ||
        gHosts.hostsVariable != (hosts ? hosts : "") || gHosts.homeVariable != (home ? home : "")) {
      gHosts.hostsVariable = hosts ? hosts : "";
      gHosts.homeVariable = home ? home : "";
      LoadHostMap(gHosts, HostMapFile());
    }
    std::string lname = Lower(server);
    for (const auto& [name, url] : gHosts.entries)
      if (name == lname) return url;
  }
  if (server.find(':') != std::string::npos) return "ldap://" + server;
  return "ldap://" + server + ":389";
}

namespace {
std::mutex gLogonMu;
std::string gLogonUser, gLogonPassword;
}  // namespace

void SetCurrentLogon(const std::string& user, const std::string& password) {
  std::lock_guard lock(gLogonMu);
  gLogonUser = user;
  gLogonPassword = user.empty() ? std::string() : password;
}

bool AccountBindName(const std::string& account, std::string& dn) {
  auto blank = [](const std::string& t) { return t.find_first_not_of(" \t") == std::string::npos; };
  const auto slash = account.find('\\');
  if (slash == std::string::npos) return false;
  const std::string domain = account.substr(0, slash);
  const auto next = account.find('\\', slash + 1);
  const std::string name =
      account.substr(slash + 1, next == std::string::npos ? std::string::npos : next - slash - 1);
  if (blank(domain) || blank(name)) return false;
  dn = "dc=" + domain + ",cn=" + name;
  return true;
}

DirObjectPtr GetObject(const std::string& path) { return OpenDSObject(path, "", "", 0); }

DirObjectPtr OpenDSObject(const std::string& path, const std::string& user, const std::string& password, long flags) {
  detail::ParsedPath parsed = detail::ParsePath(path);
  if (parsed.kind == detail::ParsedPath::Kind::WinNT) {
    WinNTProvider provider;
    {
      std::lock_guard lock(gWinNTMu);
      provider = gWinNT;
    }
    if (!provider) throw ComError(E_ADS_BAD_PATHNAME, "An invalid directory pathname was passed.");
    return provider(path, user, password, flags);
  }
  // An empty user is the current logon: the process's logon when one is
  // set, else an anonymous bind (password unused).
  std::string bindUser = user, pw = user.empty() ? std::string() : password;
  if (bindUser.empty()) {
    std::lock_guard lock(gLogonMu);
    bindUser = gLogonUser;
    pw = gLogonPassword;
  }
  try {
    SessionPtr session = GetSession(ServerUrl(parsed.server), bindUser, pw);
    switch (parsed.kind) {
      case detail::ParsedPath::Kind::RootDSE:
        return std::make_shared<LdapObject>(session, parsed.server, session->ReadRootDse(), true);
      case detail::ParsedPath::Kind::Organisation:
        return std::make_shared<LdapObject>(session, parsed.server, session->Read(session->OrganisationDn(), {}),
                                            false);
      default:
        break;
    }
    if (EntryPtr cached = session->FromLastEnumeration(parsed.dn)) {
      ++gStats.cacheHits;
      return std::make_shared<LdapObject>(session, parsed.server, std::move(cached), false);
    }
    return std::make_shared<LdapObject>(session, parsed.server, session->Read(parsed.dn, {}), false);
  } catch (const ConnectionLost&) {
    throw ComError(E_SERVER_NOT_OPERATIONAL, "The server is not operational.");
  }
}

void SetWinNTProvider(WinNTProvider provider) {
  std::lock_guard lock(gWinNTMu);
  gWinNT = std::move(provider);
}

void ResetSessions() {
  std::lock_guard lock(gSessions.mu);
  gSessions.sessions.clear();
}

uint64_t WaitsGivenUp() { return tGivenUp; }

thread_local bool tPacingWork = false;

bool PaceWaitHook() {
  struct Pacing {
    Pacing() : outer(tPacingWork) { tPacingWork = true; }
    ~Pacing() { tPacingWork = outer; }
    bool outer;
  } pacing;
  try {
    PaceHook();
    return true;
  } catch (const Cancelled&) {
    return false;
  }
}

bool OutsideWaitHook() {
  try {
    PaceHook();
    return true;
  } catch (const Cancelled&) {
    return false;
  }
}

bool PacingWork() { return tPacingWork; }

void SetWaitHook(WaitHook hook) {
  std::lock_guard lock(gHook.mu);
  gHook.hook = hook ? std::make_shared<const WaitHook>(std::move(hook)) : nullptr;
  gHook.set = gHook.hook != nullptr;
}

void SetPageSize(int entries) { gPageSize = entries > 0 ? entries : 1000; }

void SetTimeouts(int connectSeconds, int requestSeconds) {
  gConnectTimeout = connectSeconds > 0 ? connectSeconds : 10;
  gRequestTimeout = requestSeconds > 0 ? requestSeconds : 120;
}

DirStats Stats() {
  DirStats s;
  s.connects = gStats.connects;
  s.searches = gStats.searches;
  s.pages = gStats.pages;
  s.cacheHits = gStats.cacheHits;
  s.hostMapChecks = gStats.hostMapChecks;
  return s;
}

void ResetStats() {
  gStats.connects = 0;
  gStats.searches = 0;
  gStats.pages = 0;
  gStats.cacheHits = 0;
  gStats.hostMapChecks = 0;
}

}  // namespace velmo::ads
