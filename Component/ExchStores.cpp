// The private and the public information store of a server: the store's
// General row, its permission rows, the public store's e-mail addresses and
// the store service's diagnostics-logging rows.
#include <string>
#include <vector>

#include "ComError.h"
#include "Exch55Info.h"
#include "ExchConfigText.h"

void Exch55Info::GetPrivateISInfo(const std::string& strServerName, const std::string& strUserName,
                                  const std::string& strPassword, std::string* strRetErrorMsg) {
  Guarded("GetPrivateISInfo", strServerName, {"Private Information Store object@@ ", "  @@   "}, strRetErrorMsg,
          [&](std::string& err) { CollectStore(false, strServerName, strUserName, strPassword, err); });
}

void Exch55Info::GetPublicISInfo(const std::string& strServerName, const std::string& strUserName,
                                 const std::string& strPassword, std::string* strRetErrorMsg) {
  Guarded("GetPublicISInfo", strServerName, {"Public Information Store object@@  ", "  @@ "}, strRetErrorMsg,
          [&](std::string& err) { CollectStore(true, strServerName, strUserName, strPassword, err); });
}

void Exch55Info::CollectStore(bool publicStore, const std::string& strServerName, const std::string& strUserName,
                              const std::string& strPassword, std::string& strRetErrorMsg) {
  const std::string procedure = publicStore ? "GetPublicISInfo" : "GetPrivateISInfo";
  if (!StartCall(procedure, strServerName + "-" + strUserName + "-", strServerName, strUserName, strPassword,
                 strRetErrorMsg))
    return;

  ObjectPath = OrgRdn + "/" + SiteRdn + "/cn=Configuration/cn=Servers/cn=" + strServerName +
               (publicStore ? "/cn=Microsoft Public MDB" : "/cn=Microsoft Private MDB");
  const std::string user = AdminUser(strUserName);
  BeginCall(user, strPassword);
  const BindFailureText failure =
      publicStore ? BindFailureText{"Public Information Store object@@  ", "  @@ ",
                                    "Binding to the Public Information Store object  '", "''"}
                  : BindFailureText{"Private Information Store object@@ ", "  @@   ",
                                    "Binding to the Private Information Store object  '", "''"};
  DirObjectPtr store;
  if (!BindOrReport("LDAP://" + strServerName + "/" + ObjectPath, user, strPassword, failure, procedure,
                    strServerName + "-" + user + "-", strRetErrorMsg, store))
    return;

  velmo::db::WriteJournal journal;
  velmo::db::PageWrite page(DatabasePath);
  OpenDBConnection();
  OpenRecordset(publicStore ? "select * from ServerPublicISGeneral" : "select * from ServerPrivateISGeneral");
  LoadInfo(*store, {"Admin-Display-Name", "rdn", "DXA-Flags", "Garbage-Coll-Period", "MDB-Storage-quota",
                    "MDB-Over-quota-Limit", "DXA-Task", "Home-Public-Server", "createTimestamp"});
  std::string displayName, directoryName;
  ReadText(*store, "Admin-Display-Name", displayName);
  ReadText(*store, "rdn", directoryName);

  std::string retention;
  double seconds = 0;
  if (ReadNumber(*store, "Garbage-Coll-Period", seconds)) retention = DaysText(seconds);
  double flags = 0;
  const std::string backup = ReadNumber(*store, "DXA-Flags", flags) && flags != 0 ? "Yes" : "No";
  std::string warning, prohibitSend, prohibitAll, created;
  ReadText(*store, "MDB-Storage-quota", warning);
  ReadText(*store, "createTimestamp", created);

  if (publicStore) {
    if (DbRecordset)
      AddRow(*DbRecordset, Row{strServerName, ObjectPath, displayName, directoryName, retention, backup, warning,
                               created});
  } else {
    ReadText(*store, "MDB-Over-quota-Limit", prohibitSend);
    ReadText(*store, "DXA-Task", prohibitAll);
    // The public folder server: the alias of the public store the private
    // store names; its name as stored when that store has no alias, and
    // nothing when it cannot be found.
    std::string publicServer, dn;
    if (ReadText(*store, "Home-Public-Server", dn)) {
      publicServer = dn;
      try {
        auto named = BindReferenced(dn);
        ReadText(*named, "uid", publicServer);
      } catch (const velmo::ComError&) {
        publicServer = "";
      }
    }
    if (DbRecordset)
      AddRow(*DbRecordset, Row{strServerName, ObjectPath, displayName, directoryName, retention, backup, warning,
                               prohibitSend, prohibitAll, publicServer, created});
  }

  GetObjectPermissions(*store, "", displayName, directoryName,
                       publicStore ? "ServerPublicISPerm" : "ServerPrivateISPerm", "", "", ObjectPath);

  if (publicStore) {
    // The store's addresses: SMTP, X.400, then its other addresses as
    // stored ("type$address").
    LoadInfo(*store, {"mail", "textencodedORaddress", "otherMailbox"});
    const std::vector<std::string> addresses = ObjectAddresses(*store);
    OpenRecordset("select * from ServerPublicISMiscInfo");
    if (DbRecordset)
      for (const auto& entry : addresses)
        AddRow(*DbRecordset, Row{strServerName, ObjectPath, displayName, directoryName, "", "",
                                 entry.empty() ? "" : AddressType(entry), AddressOf(entry), "", ""});
  }
  store.reset();

  std::string unused;
  GetDataFromRegistry(1, displayName, directoryName, unused);
  CloseRecordset();
  CloseDBConnection();
  WritePage(page);
  if (Stopped())
    EndStoppedCall(journal, failure.kind, failure.separator,
                   failure.logBefore + "LDAP://" + strServerName + "/" + ObjectPath + failure.logAfter +
                       " using credential '" + user + "'",
                   strRetErrorMsg, !strRetErrorMsg.empty());
  LogTrace(procedure + " End", strServerName + "-" + user + "-");
}
