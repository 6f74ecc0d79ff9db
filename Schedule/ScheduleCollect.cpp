// Lookup, container walk, clearing and collection of one scheduled server.
#include <QApplication>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <functional>

#include "AppFolder.h"
#include "CollectionLock.h"
#include "ComFactory.h"
#include "Database.h"
#include "DirPath.h"
#include "Directory.h"
#include "IExch55.h"
#include "IExch55Info.h"
#include "SchedConfig.h"
#include "ScheduleRun.h"
#include "ServerDataClear.h"
#include "StopSignals.h"
#include "SiteMatch.h"
#include "TextParts.h"

namespace velmo::schedule {

namespace {
ads::DirObjectPtr Bind(const std::string& path, const std::string& user, const std::string& password) {
  return user.empty() ? ads::GetObject(path) : ads::OpenDSObject(path, user, password, 0);
}

// "ou=SALES" -> "SALES": the text between the first "=" and the next "=".
std::string ValueOf(const std::string& rdn) {
  const auto eq = rdn.find('=');
  if (eq == std::string::npos) return "";
  const auto next = rdn.find('=', eq + 1);
  return rdn.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
}

// The DN of a directory path in either form, as a case-insensitive key.
std::string DnKey(const std::string& path) {
  try {
    return ads::detail::NormalizeDn(ads::detail::ParsePath(path).dn);
  } catch (const ComError&) {
    return "";
  }
}

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  if (what.empty()) return;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}
}  // namespace

bool ConnectToExchangeServer(const std::string& strServerName, const std::string& strUserName,
                             const std::string& strPassword, std::string& strOrganizationName,
                             std::string& strSiteName) {
  // The name as the log and the status line show it: escaped and cut.
  const std::string upper = EscapedSchedText(text::UpperAscii(strServerName));
  bool found = false;
  SetStatus("Connecting to server '" + upper + "'.");
  ads::DirObjectPtr org;
  try {
    org = Bind("LDAP://" + strServerName, strUserName, strPassword);
  } catch (const ComError& e) {
    LogEntry("     ConnectToExchangeServer : Binding to server '" + upper + "' to get Organization/Site Name Failure : " +
             ErrorText(e.Number(), e.Description()));
    SetStatus("");
    return false;
  }
  SetStatus("Retrieving Organization Name from '" + upper + "'.");
  try {
    org->GetInfoEx({"o"}, 0);
    strOrganizationName = org->Get("o").Text();
  } catch (const ComError& e) {
    LogEntry("     ConnectToExchangeServer : Getting Exchange Organization Name Failure from '" + upper + "' : " +
             ErrorText(e.Number(), e.Description()));
    SetStatus("");
    return false;
  }
  SetStatus("Retrieving Site Name from '" + upper + "'.");
  try {
    org->SetFilter({"organizationalUnit"});
  } catch (const ComError& e) {
    LogEntry("     ConnectToExchangeServer : Getting Exchange Site Name Failure from '" + upper + "' : " +
             ErrorText(e.Number(), e.Description()));
    SetStatus("");
    return false;
  }
  // Site, its configuration, its servers, the server's computer entry:
  // the computer's name must be the server's (never a longer name that
  // merely contains it).
  int32_t number = 0;
  std::string description;
  std::string siteRdn;
  try {
    for (const auto& site : org->Children()) {
      if (!ads::detail::EqualsNoCase(site->Class(), "organizationalUnit")) continue;
      site->SetFilter({"Container"});
      for (const auto& config : site->Children()) {
        if (!ads::detail::EqualsNoCase(config->Name(), "cn=Configuration")) continue;
        config->SetFilter({"Container"});
        for (const auto& servers : config->Children()) {
          if (!ads::detail::EqualsNoCase(servers->Name(), "cn=Servers")) continue;
          servers->SetFilter({"Computer"});
          for (const auto& computer : servers->Children())
            if (ComputerIsServer(computer->Name(), strServerName)) {
              siteRdn = site->Name();
              found = true;
              break;
            }
          break;
        }
        break;
      }
      if (found) break;
    }
  } catch (const ComError& e) {
    number = e.Number();
    description = e.Description();
  }
  if (found) {
    strSiteName = ValueOf(siteRdn);
  } else {
    strSiteName.clear();
    LogEntry("     ConnectToExchangeServer : Assigning Exchange Site Name Failure for '" + upper + "' : " +
             ErrorText(number, description));
  }
  SetStatus("");
  return found;
}

void ResetContainerList(const std::string& server, const std::string& organisation, const std::string& site) {
  const std::string O = "o=" + organisation;
  const std::string S = O + "/ou=" + site;
  const std::string servers = S + "/cn=Configuration/cn=Servers";
  gstrContainerPaths = {O,
                        S,
                        S + "/cn=Configuration",
                        S + "/cn=Configuration/cn=Connections",
                        servers,
                        S + "/cn=Configuration/cn=Protocols",
                        servers + "/cn=" + server,
                        servers + "/cn=" + server + "/cn=Protocols"};
  gstrContainerNames = {organisation, site, "Configuration", "Connections", "Servers", "Protocols", server,
                        "Server Protocols"};
}

void GetChildContainerInfo(const std::string& strParentPath, const std::string& strServerName,
                           const std::string& strOrganizationName, const std::string& strSiteName,
                           const std::string& strUserName, const std::string& strPassword) {
  const std::string prefix = "LDAP://" + strServerName + "/";
  std::vector<ads::DirObjectPtr> children;
  try {
    ads::DirObjectPtr parent = Bind(strParentPath, strUserName, strPassword);
    parent->SetFilter({"Container"});
    children = parent->Children();
  } catch (const ComError& e) {
    // A container that binds but cannot be listed is logged the same way:
    // nothing below it is known.
    LogEntry("     GetChildContainerInfo : Binding to the Parent Container '" + strParentPath + "' Failure : " +
             ErrorText(e.Number(), e.Description()));
    return;
  }
  // The site's own configuration container is entries 2 to 7 already; a
  // container of that name anywhere else is walked like any other.
  const std::string siteKey = DnKey("LDAP://" + strServerName + "/ou=" + strSiteName + ",o=" + strOrganizationName);
  for (const auto& child : children) {
    const std::string name = child->Name();
    if (ads::detail::EqualsNoCase(name, "cn=Configuration") && DnKey(child->Parent()) == siteKey) continue;
    const std::string childPath = strParentPath + "/" + name;
    std::string relative = childPath;
    ReplaceAll(relative, prefix, "");
    const auto cn = relative.rfind("cn=");
    gstrContainerPaths.push_back(relative);
    // The name labels the container's sections and names their files as a
    // person reads it; the path keeps the server's escapes.
    gstrContainerNames.push_back(ads::NameShown(cn == std::string::npos ? relative : relative.substr(cn + 3)));
    try {
      Bind(childPath, strUserName, strPassword);
    } catch (const ComError& e) {
      LogEntry("     GetChildContainerInfo : Binding to the Child Container '" + childPath + "' Failure : " +
               ErrorText(e.Number(), e.Description()));
    }
    GetChildContainerInfo(childPath, strServerName, strOrganizationName, strSiteName, strUserName, strPassword);
  }
}

bool DeleteExistingRecords(const std::string& strServerName) {
  if (!gConn) return true;
  const exporting::ClearResult result = exporting::ClearServerRows(*gConn, strServerName);
  if (result.ok) return true;
  if (result.failedStep == "Catalog")
    LogEntry("     DeleteExistingRecords : Catalog Object Creation Failure : " +
             ErrorText(result.number, result.description));
  else
    LogEntry("     DeleteExistingRecords : Delete Failure : " + result.failedStep + " : " +
             ErrorText(result.number, result.description));
  return false;
}

namespace {
struct Call {
  const char* status;
  int16_t type;
};
constexpr Call kMailboxCalls[] = {
    {"Retrieving General Information from '", 0},
    {"Retrieving Organization/Phone/Notes Information from '", 1},
    {"Retrieving Permissions Information from '", 2},
    {"Retrieving Distribution Lists/E-Mail Addresses Information from '", 3},
    {"Retrieving Delivery Restrictions/Delivery Options Information from '", 4},
    {"Retrieving Protocols Information from '", 5},
    {"Retrieving Custom Attributes Information from '", 6},
    {"Retrieving Limits/Advanced Information from '", 7},
};
constexpr Call kDLCalls[] = {
    {"Retrieving Distribution Lists General Information from '", 0},
    {"Retrieving Permissions Information from '", 1},
    {"Retrieving Distribution Lists/E-Mail Addresses Information from '", 2},
    {"Retrieving Delivery Restrictions/Delivery Options Information from '", 3},
    {"Retrieving Custom Attributes Information from '", 4},
    {"Retrieving Limits/Advanced Information from '", 5},
};
constexpr Call kPFCalls[] = {
    {"Retrieving General Information from '", 0},
    {"Retrieving Permissions Information from '", 1},
    {"Retrieving Distribution Lists/E-Mail Addresses Information from '", 2},
    {"Retrieving Custom Attributes Information from '", 3},
    {"Retrieving Limits/Advanced Information from '", 4},
};
}  // namespace

std::chrono::milliseconds CollectionWaitLimit() {
  if (const char* text = std::getenv("VELMORCAST_COLLECT_WAIT_SECONDS"); text && *text) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    // At most a day, so that a huge value (or "inf") stays a long wait.
    if (end && !*end && seconds >= 0)
      return std::chrono::milliseconds(static_cast<long long>(std::min(seconds, 86400.0) * 1000));
  }
  return std::chrono::minutes(10);
}

bool GetAllInfo(const std::string& strServerName, const std::string& strUserName, const std::string& strPassword,
                const std::string& strOrganizationName, const std::string& strSiteName,
                const std::string& strProfileName, exporting::CollectionLock* held, std::string* unfinished) {
  const std::string& server = strServerName;
  const std::string& user = strUserName;
  const std::string& password = strPassword;
  const std::string tail = server + "'";
  const std::string shown = EscapedSchedText(server);  // as the log names it
  LogEntry("     GetAllInfo : Getting information for server -'" + shown + "' start.");

  // Another program collecting this server into this database is waited
  // for, within a bound: its holder may be a user's pause.
  exporting::CollectionLock own;
  exporting::CollectionLock& lock = held ? *held : own;
  exporting::CollectionWait wait;
  wait.started = [&] {
    LogEntry("     GetAllInfo : Waiting for another program collecting server -'" + shown + "'.");
    SetStatus("Another program is collecting '" + server + "'. Waiting for it to finish.");
  };
  wait.keepWaiting = [] {
    QApplication::processEvents();
    return StopSignal() == 0;
  };
  wait.limit = CollectionWaitLimit();
  std::string why;
  switch (lock.Take(gstrDBPath, server, &wait, &why)) {
    case exporting::CollectionLock::Outcome::Unguarded:
      // Without any lock another program's collection could add up with
      // this one: the server is left as it is.
      SetStatus("");
      LogEntry("     GetAllInfo : Getting information for server -'" + server +
               "' skipped : Collection Lock File Failure : " +
               exporting::CollectionLock::CompanionFile(gstrDBPath).string() + " : " + why);
      return false;
    case exporting::CollectionLock::Outcome::Taken:
      break;
    default:
      SetStatus("");
      LogEntry("     GetAllInfo : Getting information for server -'" + shown +
               "' skipped : another program is collecting it.");
      return false;
  }

  // The server's rows go only when they can be collected again, and a
  // clearing that failed (its deletes taken back) is not collected on top
  // of: either way the server keeps its rows and its last outputs.
  if (unfinished) unfinished->clear();
  std::shared_ptr<_Exch55Info> collector;
  std::shared_ptr<_Exch55InfoOutcome> outcome;  // what its calls left undone
  try {
    const std::shared_ptr<com::ComObject> object = com::CreateObjectRaw("VELMO.Exch55Info");
    collector = com::QueryInterface<_Exch55Info>(object);
    if (!collector) throw ComError(com::kNoInterface, "No such interface supported");
    outcome = com::QueryInterface<_Exch55InfoOutcome>(object);
    collector->ErrorLogFileName(kScheduleLog);
    // The line's calls are one collection: a server not reached by one of
    // them is not asked again, and the line says why its outputs are kept.
    if (outcome) outcome->BeginCollection();
  } catch (const ComError& e) {
    SetStatus("");
    LogEntry("     GetAllInfo : Getting information for server -'" + shown +
             "' skipped : Collector Object Creation Failure : " + ErrorText(e.Number(), e.Description()));
    return false;
  }
  // A run being stopped keeps the rows it has not begun to replace.
  if (StopSignal() != 0 || !DeleteExistingRecords(server)) {
    SetStatus("");
    return false;
  }
  // Once a call found the server lost or a page refused, the collection
  // is no whole inventory: what is left of it asks nothing more of the
  // server (the collector's calls return at once).
  int32_t number = 0;
  std::string description;
  const auto cut = [&] { return outcome && outcome->CollectionCut(number, description); };
  std::string msg;
  // Each call: its status text, then the call with the bind-error text
  // emptied (it is never read here). Once a stop signal came no call is
  // made: the wait hook gave up the call under way, which took its rows
  // back.
  auto run = [&](const std::string& status, const std::function<void(_Exch55Info&)>& call) {
    SetStatus(status + tail);
    msg.clear();
    if (StopSignal() == 0) call(*collector);
    QApplication::processEvents();
  };

  run("Retrieving Container Information from '", [&](_Exch55Info& c) { c.GetServerInfo(server, user, password, &msg); });
  for (size_t i = 8; i < gstrContainerPaths.size(); ++i) {
    const std::string path = gstrContainerPaths[i];
    SetCaption("Retrieving Mailboxes Information from '" + tail);
    for (const Call& k : kMailboxCalls)
      run(k.status, [&](_Exch55Info& c) { c.GetMailboxInfo(k.type, server, user, password, path, &msg); });
    SetCaption("Retrieving Distribution Lists Information from '" + tail);
    for (const Call& k : kDLCalls)
      run(k.status, [&](_Exch55Info& c) { c.GetDLInfo(k.type, server, user, password, path, &msg); });
    SetCaption("Retrieving Public Folders Information from '" + tail);
    for (const Call& k : kPFCalls) {
      if (k.type == 0 && strProfileName.empty()) continue;  // page 0 needs a mail logon
      run(k.status, [&](_Exch55Info& c) {
        c.GetPublicFolderInfoUsingProfile(k.type, server, user, password, strProfileName, path, &msg);
      });
    }
    SetCaption("Retrieving Custom Recipients Information from '" + tail);
    for (const Call& k : kMailboxCalls)
      run(k.status, [&](_Exch55Info& c) { c.GetCustomRecipInfo(k.type, server, user, password, path, &msg); });
  }
  SetCaption("Retrieving Information from '" + tail);
  run("Retrieving Protocols Information from '", [&](_Exch55Info& c) { c.GetProtocolInfo(server, user, password, &msg); });
  run("Retrieving Server Private IS Information from '",
      [&](_Exch55Info& c) { c.GetPrivateISInfo(server, user, password, &msg); });
  SetStatus("Retrieving Server Mailboxes Resources Information from '" + tail);

  // The mail client must be there for the store resources.
  bool mapi = true;
  try {
    com::CreateObjectRaw("MAPI.Session");
  } catch (const ComError&) {
    mapi = false;
    LogEntry("     GetAllInfo : Outlook 97 or above/Exchange 5.5 or 2000 not installed in '" + shown + "'.");
  }
  if (mapi && !strProfileName.empty() && StopSignal() == 0 && !cut()) {
    std::shared_ptr<IExch55> reader;
    try {
      reader = com::CreateObject<IExch55>("VELMORCCOM.Exch55");
    } catch (const ComError& e) {
      LogEntry("     GetAllInfo : Create Object Failure : " + ErrorText(e.Number(), e.Description()));
    }
    if (reader) {
      auto setPath = [&] {
        const int32_t hr = reader->ApplicationPath(AppFolderText());
        if (hr < 0)
          LogEntry("     GetAllInfo : Setting ApplicationPath Failure : " +
                   ErrorText(hr, reader->GetErrorInfo().description));
      };
      setPath();
      int32_t hr = reader->GetISResourcesUsingProfile(0, server, strOrganizationName, strSiteName, gstrDBPath,
                                                      strProfileName);
      if (hr < 0)
        LogEntry("     GetAllInfo : Retrieving Mailboxes Resources Failure from'" + shown + "': " +
                 ErrorText(hr, reader->GetErrorInfo().description));
      SetStatus("Retrieving Server Public Folder Resources Information from '" + tail);
      setPath();
      hr = reader->GetISResourcesUsingProfile(1, server, strOrganizationName, strSiteName, gstrDBPath,
                                              strProfileName);
      if (hr < 0)
        LogEntry("     GetAllInfo : Retrieving Public Folder Resources Failure from'" + shown + "': " +
                 ErrorText(hr, reader->GetErrorInfo().description));
    }
  }
  run("Retrieving Server Public IS Resources Information from '",
      [&](_Exch55Info& c) { c.GetPublicISInfo(server, user, password, &msg); });
  run("Retrieving Server Protocols Information from '",
      [&](_Exch55Info& c) { c.GetServerProtocolsInfo(server, user, password, &msg); });
  run("Retrieving Connections Information from '",
      [&](_Exch55Info& c) { c.GetConnectorInfo(server, user, password, &msg); });
  // A server lost part-way, or a page the database refused, left pages
  // empty or missing: its rows are no whole inventory to report from.
  if (unfinished && cut()) *unfinished = ErrorText(number, description);
  outcome.reset();
  collector.reset();
  SetCaption(kStatusCaption);
  SetStatus("Schedule Process is completed.");
  LogEntry("     GetAllInfo : Getting information for server -'" + shown + "' end.");
  return true;
}

}  // namespace velmo::schedule
