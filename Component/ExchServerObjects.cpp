// A server's own service objects and the container hierarchy of its site:
// the System Attendant and the Message Transfer Agent (ServerObjectsInfo,
// their permissions, the MTA's diagnostics logging) and the containers from
// the organisation down to the server's Protocols container (ContainerInfo
// and their permissions), the site's recipient containers among them.
#include <string>
#include <vector>

#include "ComError.h"
#include "Exch55Info.h"
#include "ExchConfigText.h"

bool Exch55Info::StartCall(const std::string& procedure, const std::string& params, const std::string& strServerName,
                           const std::string& strUserName, const std::string& strPassword, std::string& message) {
  LogTrace(procedure + " Start", params);
  message = "";
  failure_ = {};
  if (InitializeVariables(strServerName, strUserName, strPassword)) return true;
  // A set-up that cut the collection has logged why; the collection's
  // caller tells it.
  if (!setUpCut_) LogFalse(procedure);
  LogTrace(procedure + " End", params);
  return false;
}

bool Exch55Info::BindOrReport(const std::string& path, const std::string& user, const std::string& password,
                              const BindFailureText& text, const std::string& procedure, const std::string& params,
                              std::string& message, DirObjectPtr& obj) {
  try {
    obj = BindPath(path, user, password);
    return true;
  } catch (const velmo::ComError& e) {
    message = BindErrorItem(text.kind, e.Number(), text.separator, e.Description());
    LogFailure(text.logBefore + path + text.logAfter + " using credential '" + user + "'", e.Number(),
               e.Description());
    StopWhenServerLost(e);
    LogTrace(procedure + " End", params);
    return false;
  }
}

std::vector<std::string> Exch55Info::ChildNames(DirObject& container) {
  std::vector<std::string> names;
  try {
    for (const auto& child : container.Children()) names.push_back(child->Name());
  } catch (const velmo::ComError& e) {
    NoteListingFailure(e, false);
  }
  return names;
}

std::vector<std::string> Exch55Info::ObjectAddresses(DirObject& obj) {
  std::string mail, x400;
  ReadText(obj, "mail", mail);
  ReadText(obj, "textencodedORaddress", x400);
  std::vector<std::string> addresses{"SMTP$" + mail, "X.400$" + x400};
  std::vector<std::string> others;
  if (ReadList(obj, "otherMailbox", others)) addresses.insert(addresses.end(), others.begin(), others.end());
  return addresses;
}

void Exch55Info::GetServerInfo(const std::string& strServerName, const std::string& strUserName,
                               const std::string& strPassword, std::string* strRetErrorMsg) {
  Guarded("GetServerInfo", strServerName, {"Server object@@    ", "  @@   "}, strRetErrorMsg, [&](std::string& err) {
    if (!StartCall("GetServerInfo", strServerName + "-" + strUserName + "-", strServerName, strUserName, strPassword,
                   err))
      return;
    const std::string path =
        "LDAP://" + strServerName + "/cn=" + strServerName + ",CN=Servers,CN=Configuration," + SiteRdn + "," + OrgRdn;
    const std::string user = AdminUser(strUserName);
    const std::string params = strServerName + "-" + user + "-";
    BeginCall(user, strPassword);
    DirObjectPtr server;
    if (!BindOrReport(path, user, strPassword,
                      {"Server object@@    ", "  @@   ", "Binding to the Server object  '", "''"}, "GetServerInfo",
                      params, err, server))
      return;
    server.reset();
    // Each worker reports its own binds; one failing does not stop the next.
    // A worker that loses the server or cannot write stops the call: the
    // rows of all three are taken back, so the pages they fill are
    // collected whole on the next visit.
    velmo::db::WriteJournal journal;
    velmo::db::PageWrite page(DatabasePath);
    std::string text;
    GetSystemAttendantInfo(strServerName, user, strPassword, text);
    err += "_" + text;
    text.clear();
    if (!Stopped()) GetMTAInfo(strServerName, user, strPassword, text);
    err += "_" + text;
    text.clear();
    if (!Stopped()) GetContainerObjectsInfo(strServerName, user, strPassword, text);
    err += "_" + text;
    WritePage(page);
    if (Stopped())
      EndStoppedCall(journal, "Server object@@    ", "  @@   ", "GetServerInfo - Collection Stopped", err, true);
    LogTrace("GetServerInfo End", params);
  });
}

void Exch55Info::GetSystemAttendantInfo(const std::string& strServerName, const std::string& strUserName,
                                        const std::string& strPassword, std::string& strRetErrorMsg) {
  const std::string params = strServerName + "-" + strUserName + "-";
  LogTrace("GetSystemAttendantInfo Start", params);
  strRetErrorMsg = "";
  ObjectPath = OrgRdn + "/" + SiteRdn + "/cn=Configuration/cn=Servers/cn=" + strServerName +
               "/cn=Microsoft System Attendant";
  DirObjectPtr sa;
  if (!BindOrReport("LDAP://" + strServerName + "/" + ObjectPath, strUserName, strPassword,
                    {"Microsoft System Attendant object@@    ", "  @@   ",
                     "Binding to the Microsoft System Attendant object '"},
                    "GetSystemAttendantInfo", params, strRetErrorMsg, sa))
    return;

  OpenDBConnection();
  LoadInfo(*sa, {"Admin-Display-Name", "uid", "rdn", "Admin-Description", "createTimestamp", "mail",
                 "textencodedORaddress", "otherMailbox"});
  std::string displayName, alias, directoryName, note, created;
  ReadText(*sa, "Admin-Display-Name", displayName);
  ReadText(*sa, "uid", alias);
  ReadText(*sa, "rdn", directoryName);
  std::string cleaning;
  GetDataFromRegistry(0, displayName, directoryName, cleaning);
  ReadText(*sa, "Admin-Description", note);
  ReadText(*sa, "createTimestamp", created);

  // One row per address: SMTP and X.400 always, then the other addresses
  // as stored ("type$address"), when there are any.
  const std::vector<std::string> addresses = ObjectAddresses(*sa);

  OpenRecordset("select * from ServerObjectsInfo");
  if (DbRecordset)
    for (const auto& entry : addresses)
      AddRow(*DbRecordset, Row{strServerName, ObjectPath, displayName, directoryName, alias, "", "", "", "", "", note,
                               created, cleaning, AddressType(entry), AddressOf(entry)});
  CloseRecordset();
  CloseDBConnection();
  GetObjectPermissions(*sa, "", displayName, directoryName, "ServerObjectsPerm", "", "", ObjectPath);
  LogTrace("GetSystemAttendantInfo End", params);
}

void Exch55Info::GetMTAInfo(const std::string& strServerName, const std::string& strUserName,
                            const std::string& strPassword, std::string& strRetErrorMsg) {
  const std::string params = strServerName + "-" + strUserName + "-";
  LogTrace("GetMTAInfo Start", params);
  strRetErrorMsg = "";
  ObjectPath = OrgRdn + "/" + SiteRdn + "/cn=Configuration/cn=Servers/cn=" + strServerName + "/cn=Microsoft MTA";
  DirObjectPtr mta;
  if (!BindOrReport("LDAP://" + strServerName + "/" + ObjectPath, strUserName, strPassword,
                    {"Message Transfer Agent object@@    ", "  @@   ",
                     "Binding to the Message Transfer Agent object  '"},
                    "GetMTAInfo", params, strRetErrorMsg, mta))
    return;

  OpenDBConnection();
  OpenRecordset("select * from ServerObjectsInfo");
  LoadInfo(*mta, {"Admin-Display-Name", "rdn", "MTA-Local-Desig", "deliv-Cont-Length", "Expand-DLs-Locally",
                  "Admin-Description", "createTimestamp"});
  std::string displayName, directoryName, localName, size, expandText, note, created;
  ReadText(*mta, "Admin-Display-Name", displayName);
  ReadText(*mta, "rdn", directoryName);
  ReadText(*mta, "MTA-Local-Desig", localName);
  if (!ReadText(*mta, "deliv-Cont-Length", size)) size = "No limit";
  // Expanding lists locally: shown only when the flag could be read; a flag
  // that is not true counts as false.
  std::string expand;
  if (ReadText(*mta, "Expand-DLs-Locally", expand)) {
    bool flag = false;
    expandText = ReadBool(*mta, "Expand-DLs-Locally", flag) && flag ? "True" : "False";
  }
  ReadText(*mta, "Admin-Description", note);
  ReadText(*mta, "createTimestamp", created);
  if (DbRecordset)
    AddRow(*DbRecordset, Row{strServerName, ObjectPath, displayName, directoryName, directoryName, localName, size,
                             expandText, "", "", note, created, "", "", ""});
  std::string unused;
  GetDataFromRegistry(1, displayName, directoryName, unused);
  CloseRecordset();
  CloseDBConnection();
  GetObjectPermissions(*mta, "", displayName, directoryName, "ServerObjectsPerm", "", "", ObjectPath);
  LogTrace("GetMTAInfo End", params);
}

void Exch55Info::GetContainerObjectsInfo(const std::string& strServerName, const std::string& strUserName,
                                         const std::string& strPassword, std::string& strRetErrorMsg) {
  struct Step {
    int16_t level;
    std::string path, permissionLevel, kind, logText;
  };
  const std::string site = OrgRdn + "/" + SiteRdn;
  const std::string server = site + "/cn=Configuration/cn=Servers/cn=" + strServerName;
  const Step steps[] = {
      {0, OrgRdn, "", "Organization container", "Binding to the Organization '"},
      {1, site, "", "Site container", "Binding to the Site '"},
      {2, site + "/cn=Configuration/cn=Connections", "", "Connections container", "Binding to the Connections '"},
      {2, site + "/cn=Configuration/cn=Servers", "", "Servers container", "Binding to the Servers '"},
      {3, site + "/cn=Configuration/cn=Protocols", "Site", "Protocols container", "Binding to the Protocols '"},
      {4, server, "", "Server container", "Binding to the Server '"},
      {5, server + "/cn=Protocols", "Server", "Server Protocols container", "Binding to the Server Protocols '"}};

  const std::string params = strServerName + "-" + strUserName + "-";
  LogTrace("GetContainerObjectsInfo Start", params);
  for (const auto& step : steps) {
    ObjectPath = step.path;
    const std::string path = "LDAP://" + strServerName + "/" + step.path;
    DirObjectPtr container;
    try {
      container = BindPath(path, strUserName, strPassword);
    } catch (const velmo::ComError& e) {
      // The first container that cannot be bound ends the walk down.
      strRetErrorMsg += "_" + BindErrorItem(step.kind + "@@    ", e.Number(), "  @@   ", e.Description());
      LogFailure(step.logText + path + "' using credential '" + strUserName + "'", e.Number(), e.Description());
      StopWhenServerLost(e);
      return;
    }
    OpenDBConnection();
    OpenRecordset("select * from ContainerInfo");
    if (DbRecordset) WriteContainerInfo(step.level, *container, *DbRecordset, strServerName);
    CloseRecordset();
    CloseDBConnection();
    GetObjectPermissions(*container, step.permissionLevel, ObjectDisplayName, ObjectDirectoryName,
                         "ServerObjectsPerm", "", "", ObjectPath);
    // The site's recipient containers follow the site.
    if (step.level == 1 && !Stopped()) GetChildContainers(path, strUserName, strPassword, 0, 0);
    // A lost server or a refused write ends the walk down; the item names
    // the container being written.
    if (Stopped()) {
      if (!failure_.reported) {
        strRetErrorMsg +=
            "_" + BindErrorItem(step.kind + "@@    ", failure_.number, "  @@   ", failure_.description);
        failure_.reported = true;
      }
      break;
    }
  }
  CloseRecordset();
  CloseDBConnection();
  LogTrace("GetContainerObjectsInfo End", params);
}

void Exch55Info::WriteContainerRows(DirObject& container) {
  OpenDBConnection();
  OpenRecordset("select * from ContainerInfo");
  if (DbRecordset) WriteContainerInfo(2, container, *DbRecordset, BoundServer);
  CloseRecordset();
  CloseDBConnection();
  GetObjectPermissions(container, "", ObjectDisplayName, ObjectDirectoryName, "ServerObjectsPerm", "", "",
                       ObjectPath);
}

void Exch55Info::WriteContainerInfo(int16_t level, DirObject& container, Recordset& rs,
                                    const std::string& serverName) {
  auto read = [&](const char* attribute, std::string fallback) {
    std::string value;
    return ReadText(container, attribute, value) ? value : fallback;
  };
  LoadInfo(container, {"Admin-Display-Name", "o", "ou", "rdn", "Admin-Description", "Use-Site-Values",
                       "Folder-Pathname", "Sub-Site", "serialNumber", "createTimestamp"});
  const bool known = level >= 0 && level <= 5;
  ObjectDisplayName = read("Admin-Display-Name", "");
  ObjectDirectoryName = !known ? "" : read(level == 0 ? "o" : level == 1 ? "ou" : "rdn", "");
  const std::string note = level >= 2 && level <= 5 ? read("Admin-Description", "") : "";
  const std::string levelText = level == 3 ? "Site" : level == 5 ? "Server" : "";
  std::string useSite;
  if (level == 5) {
    std::string raw;
    if (ReadText(container, "Use-Site-Values", raw)) {
      bool flag = false;
      useSite = ReadBool(container, "Use-Site-Values", flag) && flag ? "Yes" : "No";
    }
  }
  const std::string owa = level == 3 || level == 5 ? read("Folder-Pathname", "") : "";
  const std::string location = level == 4 ? read("Sub-Site", "<None>") : "";
  const std::string version = level == 4 ? read("serialNumber", "") : "";
  const std::string created = read("createTimestamp", "");
  AddRow(rs, Row{serverName, ObjectPath, levelText, ObjectDisplayName, ObjectDirectoryName, note, created, useSite,
                 owa, location, version});
}
