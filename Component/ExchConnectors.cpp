// Connectors of the site's Connections container: the dispatch by kind and
// the readers of the Internet Mail, Site, Newsfeed and MS Mail connectors.
// Every connector row carries the Connections container's path; connectors
// are told apart by their directory name.
#include <algorithm>
#include <string>
#include <vector>

#include "ComError.h"
#include "DateText.h"
#include "Exch55Info.h"
#include "ExchConfigText.h"
#include "RemoteRegistry.h"

using velmo::collector::Contains;
using velmo::collector::Piece;
using velmo::collector::Split;

namespace reg = velmo::reg;

namespace {

const std::string& At(const std::vector<std::string>& list, size_t i) {
  static const std::string empty;
  return i < list.size() ? list[i] : empty;
}

const char* LanguageText(reg::DWORD language) {
  static const char* const kLanguages[] = {"English", "French", "German", "Spanish", "Italian"};
  return language < 5 ? kLanguages[language] : "";
}

}  // namespace

void Exch55Info::GetConnectorInfo(const std::string& strServerName, const std::string& strUserName,
                                  const std::string& strPassword, std::string* strRetErrorMsg) {
  const CallItem item{"Connections container@@    ", "  @@   "};
  Guarded("GetConnectorInfo", strServerName, item, strRetErrorMsg, [&](std::string& err) {
    if (!StartCall("GetConnectorInfo", strServerName + "-" + strUserName + "-", strServerName, strUserName,
                   strPassword, err))
      return;
    const std::string path =
        "LDAP://" + strServerName + "/CN=Connections,CN=Configuration," + SiteRdn + "," + OrgRdn;
    const std::string user = AdminUser(strUserName);
    const std::string params = strServerName + "-" + user + "-";
    BeginCall(user, strPassword);
    DirObjectPtr container;
    if (!BindOrReport(path, user, strPassword,
                      {"Connections container@@    ", "  @@   ", "Listing objects under Connections Container '"},
                      "GetConnectorInfo", params, err, container))
      return;
    // A listing cut short, a server lost or a refused write stops the call
    // and takes back the rows of the connectors read before.
    velmo::db::WriteJournal journal;
    velmo::db::PageWrite page(DatabasePath);
    const std::vector<std::string> names = ChildNames(*container);
    container.reset();

    // The kind is told by the name, tested in this order; cc:Mail
    // connectors are not collected.
    for (const auto& name : names) {
      if (Stopped()) break;
      std::string message;
      if (Contains(name, "cc:Mail Connector")) continue;
      if (Contains(name, "Internet Mail Connector"))
        GetIMCInfo(name, user, strPassword, message);
      else if (Contains(name, "MS Mail Connector"))
        GetMSMailInfo(name, user, strPassword, message);
      else if (Contains(name, "Site Connector"))
        GetSiteConnectorInfo(name, user, strPassword, message);
      else if (Contains(name, "Newsfeed"))
        GetNewsfeedInfo(name, user, strPassword, message);
      else
        continue;
      err += "_" + message;
    }
    WritePage(page);
    if (Stopped())
      EndStoppedCall(journal, "Connections container@@    ", "  @@   ",
                     "Listing objects under Connections Container '" + path + "' using credential '" + user + "'",
                     err, true);
    LogTrace("GetConnectorInfo End", params);
  });
}

bool Exch55Info::OpenConnector(const std::string& procedure, const std::string& params,
                               const std::string& connectorName, const std::string& strUserName,
                               const std::string& strPassword, const std::string& objectName,
                               const std::string& kindPadding, const std::string& separator, std::string& message,
                               DirObjectPtr& connector) {
  LogTrace(procedure + " Start", params);
  message = "";
  ObjectPath = OrgRdn + "/" + SiteRdn + "/cn=Configuration/cn=Connections";
  return BindOrReport("LDAP://" + BoundServer + "/" + ObjectPath + "/" + connectorName, strUserName, strPassword,
                      {objectName + " object@@" + kindPadding, separator, "Binding to the " + objectName + " object '"},
                      procedure, params, message, connector);
}

void Exch55Info::WriteAddressSpaceRows(DirObject& connector, const std::string& displayName,
                                       const std::string& directoryName) {
  // One row per entry, or one bare row without any.
  std::vector<std::string> routing;
  if (!DbRecordset) return;
  if (ReadList(connector, "Routing-List", routing)) {
    for (const auto& entry : routing) {
      auto space = velmo::collector::ParseAddressSpace(entry);
      AddRow(*DbRecordset, Row{BoundServer, ObjectPath, displayName, directoryName, "", "", "", "", space.type,
                               space.address, space.cost, "Organization", "", "", "", "", ""});
    }
  } else {
    AddRow(*DbRecordset, Row{BoundServer, ObjectPath, displayName, directoryName, "", "", "", "", "", "", "", "", "",
                             "", "", "", ""});
  }
}

void Exch55Info::GetIMCInfo(const std::string& connectorName, const std::string& strUserName,
                            const std::string& strPassword, std::string& message) {
  const std::string params = connectorName + "-" + BoundServer + "-" + strUserName + "-";
  DirObjectPtr imc;
  if (!OpenConnector("GetIMCInfo", params, connectorName, strUserName, strPassword, "Internet Mail Connector", "   ",
                     "  @@ ", message, imc))
    return;

  OpenDBConnection();
  OpenRecordset("select * from ConnectorGeneral");
  LoadInfo(*imc, {"Admin-Display-Name", "rdn", "Computer-Name", "deliv-Cont-Length", "Admin-Description",
                  "createTimestamp", "Routing-List", "Auth-Orig", "UnAuth-Orig"});
  std::string displayName, directoryName, computer, size, note, created;
  ReadText(*imc, "Admin-Display-Name", displayName);
  ReadText(*imc, "rdn", directoryName);
  ReadText(*imc, "Computer-Name", computer);
  ReadText(*imc, "deliv-Cont-Length", size);
  ReadText(*imc, "Admin-Description", note);
  ReadText(*imc, "createTimestamp", created);
  if (DbRecordset)
    AddRow(*DbRecordset, Row{BoundServer, ObjectPath, displayName, directoryName, computer, size, "", "", "", "", "",
                             "", "", note, created});

  GetObjectPermissions(*imc, "", displayName, directoryName, "ConnectorPerm", "", "", ObjectPath);

  // The address space.
  OpenRecordset("select * from ConnectorMiscInfo");
  WriteAddressSpaceRows(*imc, displayName, directoryName);

  // Senders by their common name; one that cannot be found keeps its
  // place as an empty entry.
  auto senders = [&](const char* attribute, const char* none) {
    std::vector<std::string> dns, names;
    if (!ReadList(*imc, attribute, dns)) return std::vector<std::string>{none};
    for (const auto& dn : dns) {
      std::string cn;
      try {
        ReadText(*BindReferenced(dn), "cn", cn);
      } catch (const velmo::ComError&) {
        cn.clear();
      }
      names.push_back(cn);
    }
    return names;
  };
  const auto accepted = senders("Auth-Orig", "All");
  const auto rejected = senders("UnAuth-Orig", "None");
  OpenRecordset("select * from ConnectorDelivRestr");
  if (DbRecordset)
    for (size_t i = 0; i < std::max(accepted.size(), rejected.size()); ++i)
      AddRow(*DbRecordset, Row{BoundServer, ObjectPath, displayName, directoryName, At(accepted, i), At(rejected, i)});
  imc.reset();

  std::string unused;
  GetDataFromRegistry(1, displayName, directoryName, unused);
  CloseRecordset();
  CloseDBConnection();
  LogTrace("GetIMCInfo End", params);
}

void Exch55Info::GetSiteConnectorInfo(const std::string& connectorName, const std::string& strUserName,
                                      const std::string& strPassword, std::string& message) {
  const std::string params = connectorName + "-" + BoundServer + "-" + strUserName + "-";
  DirObjectPtr connector;
  if (!OpenConnector("GetSiteConnectorInfo", params, connectorName, strUserName, strPassword, "Site Connector", "    ",
                     "  @@ ", message, connector))
    return;

  OpenDBConnection();
  LoadInfo(*connector, {"Admin-Display-Name", "rdn", "Admin-Description", "createTimestamp", "Cost", "Target-MTAs",
                        "Routing-List", "Authorized-User", "Authorized-Domain"});
  OpenRecordset("select * from ConnectorGeneral");
  std::string displayName, directoryName, cost, note, created;
  ReadText(*connector, "Admin-Display-Name", displayName);
  ReadText(*connector, "rdn", directoryName);
  ReadText(*connector, "Cost", cost);
  ReadText(*connector, "Admin-Description", note);
  ReadText(*connector, "createTimestamp", created);
  // The target site and the local bridgehead are not kept on the connector
  // object; their columns stay empty.
  if (DbRecordset)
    AddRow(*DbRecordset, Row{BoundServer, ObjectPath, displayName, directoryName, "", "", "", cost, "", "", "", "", "",
                             note, created});

  GetObjectPermissions(*connector, "", displayName, directoryName, "ConnectorPerm", "", "", ObjectPath);

  // Bridgehead servers of the target site ("server§cost") and address
  // space entries, paired by position; a missing list still gives one row,
  // so the override account is always written.
  std::vector<std::string> values;
  std::vector<std::pair<std::string, std::string>> targets;
  if (ReadList(*connector, "Target-MTAs", values)) {
    for (const auto& v : values) {
      auto pieces = Split(v, velmo::collector::kSectionSign);
      targets.emplace_back(pieces[0], Piece(pieces, 1));
    }
  } else {
    targets.emplace_back("", "");
  }
  std::vector<velmo::collector::SiteAddressSpace> spaces;
  values.clear();
  if (ReadList(*connector, "Routing-List", values)) {
    for (const auto& v : values) spaces.push_back(velmo::collector::ParseSiteAddressSpace(v));
  } else {
    spaces.emplace_back();
  }
  std::string account, domain;
  ReadText(*connector, "Authorized-User", account);
  ReadText(*connector, "Authorized-Domain", domain);
  connector.reset();

  OpenRecordset("select * from ConnectorMiscInfo");
  if (DbRecordset) {
    for (size_t i = 0; i < std::max(targets.size(), spaces.size()); ++i) {
      const velmo::collector::SiteAddressSpace space = i < spaces.size() ? spaces[i] : velmo::collector::SiteAddressSpace{};
      const auto target = i < targets.size() ? targets[i] : std::pair<std::string, std::string>{};
      AddRow(*DbRecordset, Row{BoundServer, ObjectPath, displayName, directoryName, "", "", "", "", space.type,
                               space.address, space.cost, space.scope, "", target.first, target.second, account,
                               domain});
    }
  }
  CloseRecordset();
  CloseDBConnection();
  LogTrace("GetSiteConnectorInfo End", params);
}

void Exch55Info::GetNewsfeedInfo(const std::string& connectorName, const std::string& strUserName,
                                 const std::string& strPassword, std::string& message) {
  const std::string params = connectorName + "-" + BoundServer + "-" + strUserName + "-";
  DirObjectPtr feed;
  if (!OpenConnector("GetNewsfeedInfo", params, connectorName, strUserName, strPassword, "Newsfeed", "",
                     "@@", message, feed))
    return;

  LoadInfo(*feed, {"Admin-Display-Name", "rdn", "Newsfeed-Type", "Enabled", "INSAdmin", "Admin-Description",
                   "createTimestamp", "deliv-Cont-Length", "Submission-Cont-Length", "Usenet-Site-Name",
                   "Usenet-Host-Name", "Inbound-Host", "Connection-Type", "RAS-Account", "RAS-Phonebook-Entry-Name",
                   "Require-SSL", "Authorized-User", "Inbound-DN"});
  std::string displayName, directoryName, type, note, created, incoming, outgoing, siteName, hostName;
  ReadText(*feed, "Admin-Display-Name", displayName);
  ReadText(*feed, "rdn", directoryName);
  if (ReadText(*feed, "Newsfeed-Type", type)) {
    if (type == "0")
      type = "Inbound";
    else if (type == "1")
      type = "Outbound";
    else if (type == "2")
      type = "Inbound and Outbound";
  }
  // Flags that cannot be read leave their columns empty.
  auto flagText = [&](const char* attribute, const char* yes, const char* no) {
    bool flag = false;
    return ReadBool(*feed, attribute, flag) ? std::string(flag ? yes : no) : std::string();
  };
  const std::string enabled = flagText("Enabled", "True", "False");
  // An account named by its distinguished name: its common name; the name
  // itself when it has none; nothing when it cannot be found.
  auto accountName = [&](const char* attribute) {
    std::string dn;
    if (!ReadText(*feed, attribute, dn)) return std::string();
    try {
      auto account = BindReferenced(dn);
      std::string cn = dn;
      ReadText(*account, "cn", cn);
      return cn;
    } catch (const velmo::ComError&) {
      return std::string();
    }
  };
  const std::string administrator = accountName("INSAdmin");
  ReadText(*feed, "Admin-Description", note);
  ReadText(*feed, "createTimestamp", created);
  if (!ReadText(*feed, "deliv-Cont-Length", incoming)) incoming = "0";
  if (!ReadText(*feed, "Submission-Cont-Length", outgoing)) outgoing = "0";
  ReadText(*feed, "Usenet-Site-Name", siteName);
  ReadText(*feed, "Usenet-Host-Name", hostName);
  std::vector<std::string> hosts;
  if (!ReadList(*feed, "Inbound-Host", hosts) || hosts.empty()) hosts.assign(1, "");
  // The dial-up settings are read only for a dial-up connection.
  std::string connectionType, account, connection;
  bool lan = false;
  if (ReadBool(*feed, "Connection-Type", lan)) {
    if (lan) {
      connectionType = "Connect using my Local Area Network (LAN)";
    } else {
      connectionType = "Connect using Dial-up Networking";
      ReadText(*feed, "RAS-Account", account);
      ReadText(*feed, "RAS-Phonebook-Entry-Name", connection);
    }
  }
  const std::string ssl = flagText("Require-SSL", "Yes", "No");
  std::string outboundLogin;
  ReadText(*feed, "Authorized-User", outboundLogin);
  const std::string inboundLogin = accountName("Inbound-DN");
  feed.reset();

  OpenDBConnection();
  OpenRecordset("select * from ConnectorNewsfeed");
  if (DbRecordset)
    for (const auto& host : hosts)
      AddRow(*DbRecordset, Row{BoundServer, ObjectPath, displayName, directoryName, type, enabled, administrator, note,
                               created, outgoing, incoming, siteName, hostName, host, connectionType, connection,
                               account, ssl, outboundLogin, inboundLogin});
  CloseRecordset();
  CloseDBConnection();
  LogTrace("GetNewsfeedInfo End", params);
}

void Exch55Info::GetMSMailInfo(const std::string& connectorName, const std::string& strUserName,
                               const std::string& strPassword, std::string& message) {
  const std::string params = connectorName + "-" + BoundServer + "-" + strUserName + "-";
  DirObjectPtr connector;
  if (!OpenConnector("GetMSMailInfo", params, connectorName, strUserName, strPassword, "MSMail Connector", "  ",
                     "  @@ ", message, connector))
    return;

  OpenDBConnection();
  OpenRecordset("select * from ConnectorGeneral");
  LoadInfo(*connector, {"Admin-Display-Name", "rdn", "Computer-Name", "deliv-Cont-Length", "Admin-Description",
                        "createTimestamp", "Routing-List"});
  std::string displayName, directoryName, computer, size, note, created;
  ReadText(*connector, "Admin-Display-Name", displayName);
  ReadText(*connector, "rdn", directoryName);
  ReadText(*connector, "Computer-Name", computer);
  ReadText(*connector, "deliv-Cont-Length", size);

  // The connector service's settings from the server's registry. When the
  // registry or the key cannot be reached the four columns stay empty, one
  // line says why, and the connector's rows are written all the same.
  std::string adminAccount, language, compatibility, tracking;
  reg::HKEY remote = nullptr, key = nullptr;
  reg::LONG rc = reg::RegConnectRegistryA(BoundServer.c_str(), reg::HKEY_LOCAL_MACHINE, &remote);
  if (rc != reg::ERROR_SUCCESS) {
    remote = nullptr;
    WriteErrorLog(velmo::NowText(), "RegConnectRegistry Error in GetMSMailInfo", std::to_string(rc),
                  velmo::collector::RegistryErrorText(rc));
  } else {
    rc = reg::RegOpenKeyExA(remote, "SYSTEM\\CurrentControlSet\\Services\\MSExchangeMSMI\\Parameters", 0,
                            reg::KEY_READ, &key);
    if (rc != reg::ERROR_SUCCESS) {
      key = nullptr;
      WriteErrorLog(velmo::NowText(), "RegOpenKeyEx Error in GetMSMailInfo", std::to_string(rc),
                    velmo::collector::RegistryErrorText(rc));
    }
  }
  if (key) {
    // Numbers that cannot be read count as 0.
    auto number = [&](const char* name) {
      reg::DWORD value = 0;
      if (reg::QueryDword(key, name, value) != reg::ERROR_SUCCESS) value = 0;
      return value;
    };
    if (reg::QueryString(key, "AdminAccount", adminAccount) != reg::ERROR_SUCCESS) adminAccount.clear();
    language = LanguageText(number("ClientLanguage"));
    compatibility = number("Max 3.X Compatibility") != 0 ? "Yes" : "No";
    tracking = number("EnableMessageTracking") != 0 ? "Yes" : "No";
    reg::RegCloseKey(key);
  }
  if (remote) reg::RegCloseKey(remote);

  ReadText(*connector, "Admin-Description", note);
  ReadText(*connector, "createTimestamp", created);
  if (DbRecordset)
    AddRow(*DbRecordset, Row{BoundServer, ObjectPath, displayName, directoryName, computer, size, "", "", "",
                             adminAccount, language, compatibility, tracking, note, created});

  OpenRecordset("select * from ConnectorMiscInfo");
  WriteAddressSpaceRows(*connector, displayName, directoryName);
  connector.reset();

  std::string unused;
  GetDataFromRegistry(1, displayName, directoryName, unused);
  CloseRecordset();
  CloseDBConnection();
  LogTrace("GetMSMailInfo End", params);
}
