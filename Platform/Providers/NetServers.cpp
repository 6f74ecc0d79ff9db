#include "NetServers.h"

#include <atomic>
#include <map>
#include <mutex>
#include <optional>

#include "ProviderFolder.h"

namespace velmo::net {

namespace {

using providers::EqualsNoCase;
using providers::UpperAscii;

struct Server {
  std::string domain;
  std::string name;
  uint32_t type = 0;
  std::vector<std::string> services;
  uint32_t access = 0;
};

struct Network {
  bool present = false;
  std::vector<std::string> domains;
  std::vector<Server> servers;
  std::string localDomain;
  std::string localMachine;
  std::optional<uint32_t> domainListError;
  std::map<std::string, uint32_t> serverListErrors;  // by upper-case domain
};

std::optional<uint32_t> AccessCode(const std::string& text) {
  if (text.empty() || text == "-" || EqualsNoCase(text, "ok")) return 0u;
  if (EqualsNoCase(text, "denied")) return ERROR_ACCESS_DENIED;
  if (EqualsNoCase(text, "unreachable")) return RPC_S_SERVER_UNAVAILABLE;
  auto n = providers::ParseNumber(text);
  if (!n || *n > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(*n);
}

std::optional<uint32_t> Code(const std::string& text) {
  auto n = providers::ParseNumber(text);
  if (!n || *n > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(*n);
}

void AddDomain(Network& net, const std::string& name) {
  if (name.empty()) return;
  for (auto& d : net.domains)
    if (EqualsNoCase(d, name)) return;
  net.domains.push_back(name);
}

// Why a line cannot be read, or "" when it was taken.
std::string TakeLine(Network& net, const providers::Record& r) {
  const std::string& kind = r.Field(0);
  if (EqualsNoCase(kind, "domain")) {
    if (r.Field(1).empty()) return "a domain line names no domain";
    AddDomain(net, r.Field(1));
  } else if (EqualsNoCase(kind, "server")) {
    Server s;
    s.domain = r.Field(1);
    s.name = r.Field(2);
    if (s.name.empty()) return "a server line names the server in its third field";
    auto type = Code(r.Field(3));
    if (!type) return "the server type '" + r.Field(3) + "' is not a number";
    s.type = *type;
    std::string list = r.Field(4), piece;
    for (size_t i = 0; i <= list.size(); ++i) {
      if (i == list.size() || list[i] == ',') {
        while (!piece.empty() && piece.back() == ' ') piece.pop_back();
        size_t b = piece.find_first_not_of(' ');
        if (b != std::string::npos && piece != "-") s.services.push_back(piece.substr(b));
        piece.clear();
      } else {
        piece += list[i];
      }
    }
    auto access = AccessCode(r.Field(5));
    if (!access) return "the access '" + r.Field(5) + "' is neither ok, denied, unreachable nor an error number";
    s.access = *access;
    AddDomain(net, s.domain);
    net.servers.push_back(std::move(s));
  } else if (EqualsNoCase(kind, "local")) {
    if (r.Field(1).empty()) return "a local line names the local domain";
    net.localDomain = r.Field(1);
    net.localMachine = r.Field(2);
  } else if (EqualsNoCase(kind, "error")) {
    if (EqualsNoCase(r.Field(1), "domains")) {
      auto n = Code(r.Field(2));
      if (!n) return "the error '" + r.Field(2) + "' is not a number";
      net.domainListError = *n;
    } else if (EqualsNoCase(r.Field(1), "servers")) {
      auto n = Code(r.Field(3));
      if (r.Field(2).empty() || !n) return "an error line for servers names a domain and an error number";
      net.serverListErrors[UpperAscii(r.Field(2))] = *n;
    } else {
      return "an error line is for 'domains' or 'servers'";
    }
  } else {
    return "'" + kind + "' is not a kind of line (domain, server, local or error)";
  }
  return "";
}

Network Parse(const providers::ProviderText& text) {
  Network net;
  net.present = true;
  for (const auto& r : providers::ParseRecords(text.bytes, &text.bad))
    if (std::string why = TakeLine(net, r); !why.empty()) text.bad.Report(r.line, why);
  if (net.localDomain.empty() && !net.domains.empty()) net.localDomain = net.domains.front();
  return net;
}

// The network as the file says now; a missing or unreadable file is no
// network.
std::shared_ptr<const Network> Load() {
  static providers::ProviderCache<Network> cache("Network servers");
  auto net = cache.Get("network.txt", Parse);
  if (!net) {
    static const auto none = std::make_shared<const Network>();
    return none;
  }
  return net;
}

std::string StripBackslashes(const std::string& name) {
  size_t i = 0;
  while (i < name.size() && (name[i] == '\\' || name[i] == '/')) ++i;
  return name.substr(i);
}

// Open handles: id -> the services of the machine a manager handle belongs
// to (service handles keep an empty entry).
std::mutex gHandleMutex;
std::map<uint64_t, std::vector<std::string>>& Handles() {
  static std::map<uint64_t, std::vector<std::string>> handles;
  return handles;
}
uint64_t gNextId = 1;

uint64_t NewHandle(std::vector<std::string> services) {
  std::lock_guard g(gHandleMutex);
  uint64_t id = gNextId++;
  Handles()[id] = std::move(services);
  return id;
}

}  // namespace

uint32_t NetServerEnum(const std::string&, uint32_t serverType, const std::string& domain,
                       std::vector<SERVER_INFO_101>& entries) {
  entries.clear();
  const auto loaded = Load();
  const Network& net = *loaded;
  if (!net.present) return ERROR_NO_BROWSER_SERVERS_FOUND;

  if (serverType == SV_TYPE_DOMAIN_ENUM) {
    uint32_t code = net.domainListError.value_or(NERR_Success);
    if (code != NERR_Success && code != ERROR_MORE_DATA) return code;
    for (const auto& d : net.domains) {
      SERVER_INFO_101 e;
      e.sv101_name = d;
      e.sv101_type = SV_TYPE_DOMAIN_ENUM | SV_TYPE_NT;
      entries.push_back(std::move(e));
    }
    return code;
  }

  const std::string wanted = domain.empty() ? net.localDomain : domain;
  bool known = false;
  for (const auto& d : net.domains) known = known || EqualsNoCase(d, wanted);
  if (wanted.empty() || !known) return ERROR_NO_BROWSER_SERVERS_FOUND;
  uint32_t code = NERR_Success;
  if (auto it = net.serverListErrors.find(UpperAscii(wanted)); it != net.serverListErrors.end()) code = it->second;
  if (code != NERR_Success && code != ERROR_MORE_DATA) return code;
  for (const auto& s : net.servers) {
    if (!EqualsNoCase(s.domain, wanted)) continue;
    if (serverType != SV_TYPE_ALL && (s.type & serverType) == 0) continue;
    SERVER_INFO_101 e;
    e.sv101_name = s.name;
    e.sv101_type = s.type;
    entries.push_back(std::move(e));
  }
  return code;
}

ScHandle& ScHandle::operator=(ScHandle&& o) noexcept {
  if (this != &o) {
    Close();
    id_ = o.id_;
    o.id_ = 0;
  }
  return *this;
}

void ScHandle::Close() {
  if (id_ == 0) return;
  std::lock_guard g(gHandleMutex);
  Handles().erase(id_);
  id_ = 0;
}

uint32_t OpenSCManager(const std::string& machineName, uint32_t, ScHandle& manager) {
  manager.Close();
  const auto loaded = Load();
  const Network& net = *loaded;
  std::string name = StripBackslashes(machineName);
  if (name.empty()) {
    name = net.localMachine;
    if (name.empty()) {
      manager.id_ = NewHandle({});
      return 0;
    }
  }
  for (const auto& s : net.servers) {
    if (!EqualsNoCase(s.name, name)) continue;
    if (s.access != 0) return s.access;
    manager.id_ = NewHandle(s.services);
    return 0;
  }
  return RPC_S_SERVER_UNAVAILABLE;
}

uint32_t OpenService(const ScHandle& manager, const std::string& serviceName, uint32_t, ScHandle& service) {
  service.Close();
  std::vector<std::string> services;
  {
    std::lock_guard g(gHandleMutex);
    auto it = Handles().find(manager.id_);
    if (manager.id_ == 0 || it == Handles().end()) return ERROR_INVALID_HANDLE;
    services = it->second;
  }
  for (const auto& s : services) {
    if (EqualsNoCase(s, serviceName)) {
      service.id_ = NewHandle({});
      return 0;
    }
  }
  return ERROR_SERVICE_DOES_NOT_EXIST;
}

size_t OpenServiceHandleCount() {
  std::lock_guard g(gHandleMutex);
  return Handles().size();
}

}  // namespace velmo::net
