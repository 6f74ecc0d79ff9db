#include "WinNTDomains.h"

#include "Directory.h"
#include "NetServers.h"
#include "ProviderFolder.h"

namespace velmo::net {

namespace {

using ads::DirObject;
using ads::DirObjectPtr;
using ads::DirValue;
using providers::EqualsNoCase;

int32_t FromWin32(uint32_t code) { return static_cast<int32_t>(0x80070000u | (code & 0xFFFFu)); }

std::string Win32Text(uint32_t code) {
  switch (code) {
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_BAD_NETPATH: return "The network path was not found.";
    case RPC_S_SERVER_UNAVAILABLE: return "The RPC server is unavailable.";
    case NERR_InvalidComputer: return "This computer name is invalid.";
    case ERROR_NO_BROWSER_SERVERS_FOUND: return "The list of servers for this workgroup is not currently available";
    case 1355: return "The specified domain either does not exist or could not be contacted.";
    default: return "";
  }
}

[[noreturn]] void Fail(uint32_t code) { throw ComError(FromWin32(code), Win32Text(code)); }

std::vector<SERVER_INFO_101> List(uint32_t type, const std::string& domain) {
  std::vector<SERVER_INFO_101> entries;
  uint32_t code = NetServerEnum("", type, domain, entries);
  if (code != NERR_Success && code != ERROR_MORE_DATA) Fail(code);
  return entries;
}

class WinNTObject : public DirObject {
 public:
  enum class Kind { Namespace, Domain, Computer };
  WinNTObject(Kind kind, std::string domain, std::string computer)
      : kind_(kind), domain_(std::move(domain)), computer_(std::move(computer)) {}

  std::string Name() const override {
    return kind_ == Kind::Namespace ? "WinNT:" : kind_ == Kind::Domain ? domain_ : computer_;
  }
  std::string Class() const override {
    return kind_ == Kind::Namespace ? "Namespace" : kind_ == Kind::Domain ? "Domain" : "Computer";
  }
  std::string Parent() const override {
    return kind_ == Kind::Namespace ? "" : kind_ == Kind::Domain ? "WinNT:" : "WinNT://" + domain_;
  }
  std::string ADsPath() const override {
    return kind_ == Kind::Namespace ? "WinNT:" : kind_ == Kind::Domain ? "WinNT://" + domain_
                                                                       : "WinNT://" + domain_ + "/" + computer_;
  }
  void GetInfoEx(const std::vector<std::string>&, long) override {}
  void GetInfo() override {}
  DirValue Get(const std::string& name) override {
    if (EqualsNoCase(name, "Name")) return DirValue::FromText(Name());
    throw ComError(ads::E_ADS_PROPERTY_NOT_FOUND, "The directory property cannot be found in the cache.");
  }
  DirValue GetEx(const std::string& name) override { return DirValue::FromList({Get(name)}); }
  void SetFilter(std::vector<std::string> classes) override { filter_ = std::move(classes); }
  std::vector<std::string> Filter() const override { return filter_; }

  std::vector<DirObjectPtr> Children() override {
    std::vector<DirObjectPtr> out;
    if (kind_ == Kind::Namespace) {
      for (auto& e : List(SV_TYPE_DOMAIN_ENUM, ""))
        Add(out, std::make_shared<WinNTObject>(Kind::Domain, e.sv101_name, ""));
    } else if (kind_ == Kind::Domain) {
      for (auto& e : List(SV_TYPE_ALL, domain_))
        Add(out, std::make_shared<WinNTObject>(Kind::Computer, domain_, e.sv101_name));
    }
    return out;
  }

 private:
  void Add(std::vector<DirObjectPtr>& out, DirObjectPtr child) const {
    if (!filter_.empty()) {
      bool keep = false;
      for (const auto& c : filter_) keep = keep || EqualsNoCase(c, child->Class());
      if (!keep) return;
    }
    out.push_back(std::move(child));
  }

  Kind kind_;
  std::string domain_, computer_;
  std::vector<std::string> filter_;
};

// "WinNT:", "WinNT://CORP", "WinNT://CORP/EX1" (a trailing ",class" is
// ignored, as ADSI allows one).
DirObjectPtr Bind(const std::string& path, const std::string&, const std::string&, long) {
  std::string rest = path.size() > 6 ? path.substr(6) : "";
  if (rest.empty()) return std::make_shared<WinNTObject>(WinNTObject::Kind::Namespace, "", "");
  if (rest.rfind("//", 0) != 0) throw ComError(ads::E_ADS_BAD_PATHNAME, "An invalid directory pathname was passed.");
  rest = rest.substr(2);
  if (auto comma = rest.find(','); comma != std::string::npos) rest.resize(comma);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  const auto slash = rest.find('/');
  const std::string domainName = rest.substr(0, slash);
  const std::string computer = slash == std::string::npos ? "" : rest.substr(slash + 1);
  if (domainName.empty() || computer.find('/') != std::string::npos)
    throw ComError(ads::E_ADS_BAD_PATHNAME, "An invalid directory pathname was passed.");

  std::string domain;
  for (auto& e : List(SV_TYPE_DOMAIN_ENUM, ""))
    if (EqualsNoCase(e.sv101_name, domainName)) domain = e.sv101_name;
  if (domain.empty()) Fail(1355);
  if (computer.empty()) return std::make_shared<WinNTObject>(WinNTObject::Kind::Domain, domain, "");
  for (auto& e : List(SV_TYPE_ALL, domain))
    if (EqualsNoCase(e.sv101_name, computer))
      return std::make_shared<WinNTObject>(WinNTObject::Kind::Computer, domain, e.sv101_name);
  Fail(ERROR_BAD_NETPATH);
}

const bool gInstalled = [] {
  ads::SetWinNTProvider(Bind);
  return true;
}();

}  // namespace

void InstallWinNTProvider() { ads::SetWinNTProvider(Bind); }

}  // namespace velmo::net
