// Recipients: the mailbox, custom-recipient and distribution-list methods,
// the mailbox and custom-recipient worker with its eight pages, and the
// recipient container walker.
#include <exception>
#include <string>

#include "AcctMgmt.h"
#include "ComError.h"
#include "Exch55Info.h"
#include "ExchConfigText.h"
#include "ProviderFolder.h"

namespace {

const char* const kPageSuffix[] = {"General",    "OrgnPhoneNotes", "Perm",       "DLEmailAddr",
                                   "DelivRestr", "Protocols",      "CustomAttr", "Advanced"};
const char* const kDLTables[] = {"DLGeneral",    "DLPerm",       "DLDLEmailAddr",
                                 "DLDelivRestr", "DLCustomAttr", "DLAdvanced"};
// The section sign that separates the fields of a Protocol-Settings value.
constexpr const char* kSection = velmo::collector::kSectionSign;

using velmo::collector::Split;
using velmo::collector::Trim;

// "conferenceInformation" as ILS server and account (the whole value and ""
// when it has no "/").
std::pair<std::string, std::string> IlsParts(const std::string& value) {
  size_t slash = value.find('/');
  if (slash == std::string::npos) return {value, ""};
  size_t next = value.find('/', slash + 1);
  return {value.substr(0, slash),
          value.substr(slash + 1, next == std::string::npos ? std::string::npos : next - slash - 1)};
}

}  // namespace

// ---- Entry methods -----------------------------------------------------------

void Exch55Info::GetMailboxInfo(int16_t iInfoType, const std::string& strServerName, const std::string& strUserName,
                                const std::string& strPassword, const std::string& strObjectADsPath,
                                std::string* strRetErrorMsg) {
  // The provider files (account names) are looked at once for the call.
  velmo::providers::LookupRound round;
  const CallItem item{"Recipients Container@@ ", "  @@   "};
  Guarded("GetMailboxInfo", strServerName, item, strRetErrorMsg, [&](std::string& ret) {
    if (strObjectADsPath.find("Server Recipients") != std::string::npos) {
      // One call collects every recipient container of the site, one
      // container's page at a time; when it stops part-way, the rows of the
      // containers done before go too, or the server's page would look
      // collected. Each page's rows are recorded as unfinished in the file
      // with the page itself, so a program killed between two pages, or a
      // take-back the file refuses, leaves rows that no reader takes for
      // the server's page and that are removed at the next chance. Once
      // the walk is whole, the rows that single containers' pages wrote
      // into the table before go, in the one transaction that marks the
      // server's page collected: each mailbox is then in the table once per
      // container, and the page never counts as collected from them alone.
      failure_ = {};
      velmo::db::WriteJournal journal;
      velmo::db::UnfinishedRows unfinished(CollectorDatabase(), strServerName);
      if (InitializeVariables(strServerName, strUserName, strPassword)) {
        const std::string site = "LDAP://" + strServerName + "/" + OrgRdn + "/" + SiteRdn;
        GetChildContainers(site, strUserName, strPassword, 1, iInfoType);
        if (!Stopped()) {
          try {
            if (iInfoType >= 0 && iInfoType <= 7)
              unfinished.FinishWholePage(std::string("Mailbox") + kPageSuffix[iInfoType]);
            else
              unfinished.Finish();
          } catch (const velmo::ComError& e) {
            LogFailure("Marking the Server Recipients of '" + site + "' collected", e.Number(), e.Description());
            NoteWriteFailure(e.Number(), e.Description(), true);
          }
        }
        if (Stopped()) {
          failure_.reported = false;  // the workers' items went to scratch texts
          EndStoppedCall(journal, "Recipients Container@@ ", "  @@   ",
                         "Collecting the Server Recipients of '" + site + "' using credential '" + strUserName + "'",
                         ret, false, &unfinished);
        }
      }
      return;
    }
    GetMailboxCustomRecipInfo("Mailbox", iInfoType, strServerName, strUserName, strPassword, strObjectADsPath, ret);
  });
}

void Exch55Info::GetCustomRecipInfo(int16_t iInfoType, const std::string& strServerName,
                                    const std::string& strUserName, const std::string& strPassword,
                                    const std::string& strObjectADsPath, std::string* strRetErrorMsg) {
  velmo::providers::LookupRound round;
  Guarded("GetCustomRecipInfo", strServerName, {"Recipients Container@@ ", "  @@   "}, strRetErrorMsg,
          [&](std::string& ret) {
            GetMailboxCustomRecipInfo("CR", iInfoType, strServerName, strUserName, strPassword, strObjectADsPath,
                                      ret);
          });
}

void Exch55Info::GetObjectsInContainer(const std::string& strServerName, const std::string& strUserName,
                                       const std::string& strPassword) {
  Guarded("GetObjectsInContainer", strServerName, {"Recipients container@@ ", "  @@   "}, nullptr,
          [&](std::string&) {
            InitializeVariables(strServerName, strUserName, strPassword);
            // Binds as the current logon: this call only proves that the
            // container answers; its failure is not reported.
            try {
              BindPath("LDAP://" + strServerName + "/CN=Recipients," + SiteRdn + "," + OrgRdn, "", "");
            } catch (const velmo::ComError&) {
            }
          });
}

// ---- Mailbox and custom-recipient worker ------------------------------------------

void Exch55Info::GetMailboxCustomRecipInfo(const std::string& kind, int16_t iInfoType,
                                           const std::string& strServerName, const std::string& strUserName,
                                           const std::string& strPassword, const std::string& strObjectADsPath,
                                           std::string& strRetErrorMsg) {
  std::string user = strUserName;
  auto params = [&] { return kind + "-" + std::to_string(iInfoType) + "-" + strServerName + "-" + user + "-"; };
  if (!StartCall("GetMailboxCustomRecipInfo", params(), strServerName, strUserName, strPassword, strRetErrorMsg))
    return;

  const std::string containerPath = "LDAP://" + strServerName + "/" + strObjectADsPath;
  user = AdminUser(strUserName);
  BeginCall(user, strPassword);
  DirObjectPtr container;
  if (!BindOrReport(containerPath, user, strPassword,
                    {"Recipients Container@@ ", "  @@   ", "Binding to Recipients Container '"},
                    "GetMailboxCustomRecipInfo", params(), strRetErrorMsg, container))
    return;

  const bool mailbox = kind == "Mailbox";
  const std::string table =
      (iInfoType >= 0 && iInfoType <= 7) ? kind + kPageSuffix[iInfoType] : std::string();
  // The page's rows reach the file together once the walk is done: a
  // program ended part-way leaves none of them, and the write lock is not
  // held while the directory is read.
  velmo::db::WriteJournal journal;
  velmo::db::PageWrite page(DatabasePath);
  OpenDBConnection();
  if (!table.empty()) OpenRecordset("select * from " + table);

  // The recipients are visited as the directory hands them over, one page
  // at a time, so the walk holds one page however large the container.
  auto visit = [&](DirObjectPtr child) -> bool {
    std::string name = child->Name();
    const std::string recipientPath = containerPath + "/" + name;
    DirObjectPtr obj;
    try {
      obj = BindChild(recipientPath, child, user, strPassword);
    } catch (const velmo::ComError& e) {
      LogFailure("Binding to the Mailbox object  '" + recipientPath + "' using credential '" + user + "'",
                 e.Number(), e.Description());
      NoteDirectoryFailure(e);
      return !Stopped();
    }
    child.reset();  // the walk keeps no recipient it has written

    LoadInfo(*obj, {"cn", "uid", "Home-MDB"});
    Recipient r;
    ReadText(*obj, "cn", r.displayName);
    ReadText(*obj, "uid", r.alias);
    std::string homeMdb;
    r.homeServer = ReadText(*obj, "Home-MDB", homeMdb) ? ServerFromDn(homeMdb, "cn=Microsoft Private MDB,cn=")
                                                        : std::string("[None]");
    const std::string homeForWriters = mailbox ? r.homeServer : std::string();

    switch (iInfoType) {
      case 0:
        WriteRecipientGeneral(mailbox, *obj, r, strServerName, strObjectADsPath);
        break;
      case 1:
        WriteRecipientOrgnPhoneNotes(mailbox, *obj, r, strServerName, strObjectADsPath);
        break;
      case 2:
        GetObjectPermissions(*obj, "", r.displayName, r.alias, mailbox ? "MailboxPerm" : "CRPerm",
                             mailbox ? "Mailbox" : "", homeForWriters, strObjectADsPath);
        break;
      case 3:
        if (DbRecordset)
          WriteEmailAddresses(*obj, *DbRecordset, r.displayName, r.alias, strObjectADsPath, kind, r.homeServer);
        break;
      case 4:
        if (DbRecordset)
          WriteDeliveryRestrictions(kind, *obj, *DbRecordset, r.displayName, r.alias, strObjectADsPath,
                                    r.homeServer);
        break;
      case 5:
        WriteRecipientProtocols(mailbox, *obj, r, strServerName, strObjectADsPath);
        break;
      case 6:
        if (DbRecordset)
          WriteCustomAttributes(*obj, *DbRecordset, r.displayName, r.alias, strObjectADsPath, kind, r.homeServer);
        break;
      case 7:
        if (mailbox)
          WriteMailboxAdvanced(*obj, r, strServerName, strObjectADsPath);
        else
          WriteCustomRecipAdvanced(*obj, r, strServerName, strObjectADsPath);
        break;
      default:
        break;
    }
    return !Stopped();
  };
  std::exception_ptr visitFailure;
  try {
    if (mailbox)
      container->SetFilter({"organizationalPerson"});
    else if (kind == "CR")
      container->SetFilter({"Remote-Address"});
    container->ForEachChild([&](DirObjectPtr child) {
      try {
        return visit(std::move(child));
      } catch (...) {
        visitFailure = std::current_exception();
        return false;
      }
    });
  } catch (const velmo::ComError& e) {
    // The listing broke off (the server lost, a limit hit): the page is
    // not whole.
    NoteListingFailure(e, false);
  }
  if (visitFailure) {
    // A recipient whose writing failed unexpectedly ends the call like a
    // broken listing: its page is not whole.
    NoteListingFailure(velmo::AsComError(visitFailure), false);
  }

  CloseRecordset();
  CloseDBConnection();
  WritePage(page);
  if (Stopped())
    EndStoppedCall(journal, "Recipients Container@@ ", "  @@   ",
                   "Collecting the Recipients Container '" + containerPath + "' using credential '" + user + "'",
                   strRetErrorMsg, false);
  LogTrace("GetMailboxCustomRecipInfo End", params());
}

// ---- Pages ---------------------------------------------------------------------

std::string Exch55Info::AccountName(DirObject& obj) {
  LoadInfo(obj, {"Assoc-NT-Account"});
  DirValue sid;
  if (!ReadValue(obj, "Assoc-NT-Account", sid)) return "";
  ++counters_.accountLookups;
  try {
    if (!callAcctMgmt_) callAcctMgmt_ = velmo::com::CreateObject<velmo::acct::IAcctMgmt>("MSExchange.AcctMgmt");
    velmo::acct::IAcctMgmt* acct = callAcctMgmt_.get();
    // Fresh outputs for every recipient: one recipient's account never
    // shows on the next.
    std::string domain, login;
    acct->GetNameFromSid("", sid.Bytes(), domain, login);
    if (login.empty()) return "";
    return domain + "\\" + login;
  } catch (...) {
    return "";
  }
}

std::string Exch55Info::ContainerName(DirObject& obj) {
  std::string dn;
  if (!ReadText(obj, "Obj-View-Containers", dn)) return "";
  return ReferencedText(dn, "rdn");
}

void Exch55Info::WriteRecipientGeneral(bool mailbox, DirObject& obj, const Recipient& r, const std::string& server,
                                       const std::string& path) {
  if (!DbRecordset) return;
  Row row{server, path, r.displayName, r.alias};
  if (mailbox) {
    row.push_back(AccountName(obj));
  } else {
    LoadInfo(obj, {"Target-Address"});
    std::string email;
    ReadText(obj, "Target-Address", email);
    row.push_back(email);
  }
  static const char* const kAttrs[] = {"givenname", "initials", "sn",      "postalAddress", "l",
                                       "st",        "postalcode", "co",    "title",         "company",
                                       "Department", "physicalDeliveryOfficeName", "secretary", "telephoneNumber"};
  for (const char* a : kAttrs) {
    std::string v;
    ReadText(obj, a, v);
    row.push_back(v);
  }
  LoadInfo(obj, {"createTimestamp"});
  std::string created;
  ReadText(obj, "createTimestamp", created);
  row.push_back(created);
  if (mailbox) row.push_back(r.homeServer);
  AddRow(*DbRecordset, row);
}

void Exch55Info::WriteRecipientOrgnPhoneNotes(bool mailbox, DirObject& obj, const Recipient& r,
                                              const std::string& server, const std::string& path) {
  if (!DbRecordset) return;
  static const char* const kPhones[] = {"telephoneNumber", "Telephone-Office2", "facsimileTelephoneNumber",
                                        "Telephone-Assistant", "homephone", "Telephone-Home2",
                                        "mobile", "pager", "info"};
  std::vector<std::string> phones;
  for (const char* a : kPhones) {
    std::string v;
    phones.push_back(ReadText(obj, a, v) ? Trim(v) : std::string());
  }
  LoadInfo(obj, {"manager"});
  std::string manager, managerDn;
  if (ReadText(obj, "manager", managerDn)) manager = ReferencedText(managerDn, "uid");

  auto write = [&](const std::string& dn, const std::string& rdn, const std::string& name) {
    Row row{server, path, r.displayName, r.alias, manager, dn, rdn, name};
    for (const auto& p : phones) row.push_back(p);
    if (mailbox) row.push_back(r.homeServer);
    AddRow(*DbRecordset, row);
  };

  std::vector<std::string> reports;
  if (!ReadList(obj, "reports", reports)) {
    write("", "", "");
    return;
  }
  for (const auto& dn : reports) {
    std::string uid, cn;
    ReferencedUidAndCn(dn, uid, cn);
    write(dn, uid, cn);
  }
}

void Exch55Info::WriteRecipientProtocols(bool mailbox, DirObject& obj, const Recipient& r,
                                         const std::string& server, const std::string& path) {
  if (!DbRecordset) return;
  LoadInfo(obj, {"Protocol-Settings"});
  DirValue settings;
  if (!ReadValue(obj, "Protocol-Settings", settings)) {
    Row row{server, path, r.displayName, r.alias, "", "", "", ""};
    if (mailbox) row.push_back(r.homeServer);
    AddRow(*DbRecordset, row);
    return;
  }
  for (const auto& value : settings.Texts()) {
    auto fields = Split(value, kSection);
    const std::string protocol = fields[0];
    const std::string enabled = fields.size() > 1 && Trim(fields[1]) == "1" ? "Yes" : "No";
    Value kindOfSettings = Value::Null();
    if (protocol == "HTTP" || protocol == "LDAP") {
      kindOfSettings = Value("(none)");
    } else if (fields.size() > 2) {
      std::string f = Trim(fields[2]);
      if (f == "0") kindOfSettings = Value("custom");
      if (f == "1") kindOfSettings = Value("defaults");
    }
    Row row{server, path, r.displayName, r.alias, protocol, enabled, "Yes", kindOfSettings};
    if (mailbox) row.push_back(r.homeServer);
    AddRow(*DbRecordset, row);
  }
}

void Exch55Info::WriteMailboxAdvanced(DirObject& obj, const Recipient& r, const std::string& server,
                                      const std::string& path) {
  if (!DbRecordset) return;
  LoadInfo(obj, {"DXA-Flags", "Garbage-Coll-Period", "MDB-Use-Defaults", "Submission-Cont-Length",
                 "deliv-Cont-Length", "name", "rdn", "Replication-Sensitivity", "conferenceInformation", "Home-MDB",
                 "Hide-From-Address-Book", "OWA-Server", "Obj-View-Containers", "Admin-Description"});
  Row row{server, path, r.displayName, r.alias};

  // Deleted-item retention. A mailbox without DXA-Flags keeps the store's
  // defaults, as one whose flags are 0.
  double flags = 0;
  if (!ReadNumber(obj, "DXA-Flags", flags) || flags == 0) {
    row.push_back("Use Information Store Defaults");
    row.push_back("Use Information Store Defaults");
  } else {
    double period = 0;
    row.push_back(ReadNumber(obj, "Garbage-Coll-Period", period) ? Value(DaysText(period)) : Value::Null());
    row.push_back(flags == 3 ? Value("Yes") : flags == 5 ? Value("No") : Value::Null());
  }

  // Storage limits. Without MDB-Use-Defaults the store's defaults apply.
  bool useDefaults = true;
  if (!ReadBool(obj, "MDB-Use-Defaults", useDefaults)) useDefaults = true;
  if (useDefaults) {
    for (int i = 0; i < 3; ++i) row.push_back("Use information store default");
  } else {
    LoadInfo(obj, {"MDB-Storage-quota", "MDB-Over-quota-Limit", "DXA-Task"});
    for (const char* a : {"MDB-Storage-quota", "MDB-Over-quota-Limit", "DXA-Task"}) {
      std::string v;
      row.push_back(ReadText(obj, a, v) ? Value(v) : Value::Null());
    }
  }

  std::string v;
  row.push_back(ReadText(obj, "Submission-Cont-Length", v) ? v : std::string("No limit"));
  v.clear();
  row.push_back(ReadText(obj, "deliv-Cont-Length", v) ? v : std::string("No limit"));
  AppendNamesAndIls(obj, row);
  row.push_back(r.homeServer);
  bool hide = false;
  row.push_back(ReadBool(obj, "Hide-From-Address-Book", hide) && hide ? "Yes" : "No");
  v.clear();
  ReadText(obj, "OWA-Server", v);
  row.push_back(v);
  row.push_back("");
  row.push_back(ContainerName(obj));
  v.clear();
  ReadText(obj, "Admin-Description", v);
  row.push_back(v);
  AddRow(*DbRecordset, row);
}

// The Advanced pages' simple display name, directory name and trust level,
// then the ILS server and account ("" and "" when unreadable).
void Exch55Info::AppendNamesAndIls(DirObject& obj, Row& row) {
  std::string v;
  for (const char* a : {"name", "rdn", "Replication-Sensitivity"}) {
    v.clear();
    ReadText(obj, a, v);
    row.push_back(v);
  }
  v.clear();
  if (ReadText(obj, "conferenceInformation", v)) {
    auto [ils, account] = IlsParts(v);
    row.push_back(ils);
    row.push_back(account);
  } else {
    row.push_back("");
    row.push_back("");
  }
}

void Exch55Info::WriteCustomRecipAdvanced(DirObject& obj, const Recipient& r, const std::string& server,
                                          const std::string& path) {
  if (!DbRecordset) return;
  LoadInfo(obj, {"name", "rdn", "Replication-Sensitivity", "Obj-View-Containers", "conferenceInformation",
                 "deliv-Cont-Length", "MAPI-Recipient", "Hide-From-Address-Book", "Admin-Description"});
  Row row{server, path, r.displayName, r.alias};
  std::string v;
  AppendNamesAndIls(obj, row);
  row.push_back(ContainerName(obj));
  bool flag = false;
  row.push_back(ReadBool(obj, "MAPI-Recipient", flag) && flag ? "Yes" : "No");
  flag = false;
  row.push_back(ReadBool(obj, "Hide-From-Address-Book", flag) && flag ? "Yes" : "No");
  v.clear();
  row.push_back(ReadText(obj, "deliv-Cont-Length", v) ? v : std::string("No limit"));
  row.push_back(AccountName(obj));
  v.clear();
  ReadText(obj, "Admin-Description", v);
  row.push_back(v);
  AddRow(*DbRecordset, row);
}

// ---- Distribution lists ------------------------------------------------------------

void Exch55Info::GetDLInfo(int16_t iInfoType, const std::string& strServerName, const std::string& strUserName,
                           const std::string& strPassword, const std::string& strObjectADsPath,
                           std::string* strRetErrorMsg) {
  velmo::providers::LookupRound round;
  Guarded("GetDLInfo", strServerName, {"Recipients container@@ ", "  @@   "}, strRetErrorMsg, [&](std::string& ret) {
    std::string user = strUserName;
    auto params = [&] { return std::to_string(iInfoType) + "-" + strServerName + "-" + user + "-"; };
    if (!StartCall("GetDLInfo", params(), strServerName, strUserName, strPassword, ret)) return;
    const std::string containerPath = "LDAP://" + strServerName + "/" + strObjectADsPath;
    user = AdminUser(strUserName);
    BeginCall(user, strPassword);
    DirObjectPtr container;
    if (!BindOrReport(containerPath, user, strPassword,
                      {"Recipients container@@ ", "  @@   ", "'Binding to the Recipients Container '", "''"},
                      "GetDLInfo", params(), ret, container))
      return;

    velmo::db::WriteJournal journal;
    velmo::db::PageWrite page(DatabasePath);
    OpenDBConnection();
    // The lists are written through a recordset of this call, on a
    // connection of its own made from the collector's connection string.
    velmo::db::Recordset rs;
    if (iInfoType >= 0 && iInfoType <= 5 && DbConnection) {
      try {
        rs.Open(std::string("select * from ") + kDLTables[iInfoType], DbConnection->ConnectionString(),
                velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);
      } catch (const velmo::ComError&) {
      }
    }

    std::vector<DirObjectPtr> children;
    try {
      container->SetFilter({"groupOfNames"});
      children = container->Children();
    } catch (const velmo::ComError& e) {
      NoteListingFailure(e, false);
    }
    for (auto& child : children) {
      if (Stopped()) break;
      const std::string listPath = containerPath + "/" + child->Name();
      DirObjectPtr list;
      try {
        list = BindChild(listPath, child, user, strPassword);
      } catch (const velmo::ComError& e) {
        LogFailure("Binding to the DL object  '" + listPath + "'" + "' using credential '" + user + "'",
                   e.Number(), e.Description());
        NoteDirectoryFailure(e);
        child.reset();
        continue;
      }
      child.reset();
      LoadInfo(*list, {"cn", "uid"});
      std::string displayName, alias;
      ReadText(*list, "cn", displayName);
      ReadText(*list, "uid", alias);
      switch (iInfoType) {
        case 0:
          WriteDLGeneral(*list, rs, displayName, alias, strServerName, strObjectADsPath);
          break;
        case 1:
          GetObjectPermissions(*list, "", displayName, alias, "DLPerm", "", "", strObjectADsPath);
          break;
        case 2:
          WriteEmailAddresses(*list, rs, displayName, alias, strObjectADsPath, "", "");
          break;
        case 3:
          WriteDeliveryRestrictions("DL", *list, rs, displayName, alias, strObjectADsPath, "");
          break;
        case 4:
          WriteCustomAttributes(*list, rs, displayName, alias, strObjectADsPath, "", "");
          break;
        case 5:
          WriteDLAdvanced(*list, rs, displayName, alias, strServerName, strObjectADsPath);
          break;
        default:
          break;
      }
    }
    CloseCallRecordset(rs);
    CloseDBConnection();
    WritePage(page);
    if (Stopped())
      EndStoppedCall(journal, "Recipients container@@ ", "  @@   ",
                     "Collecting the Recipients Container '" + containerPath + "' using credential '" + user + "'",
                     ret, false);
    LogTrace("GetDLInfo End", params());
  });
}

void Exch55Info::WriteDLGeneral(DirObject& obj, Recordset& rs, const std::string& displayName,
                                const std::string& alias, const std::string& server, const std::string& path) {
  LoadInfo(obj, {"Owner"});
  std::string ownerDn, ownerUid, ownerCn;
  if (ReadText(obj, "Owner", ownerDn)) ReferencedUidAndCn(ownerDn, ownerUid, ownerCn);
  LoadInfo(obj, {"info", "Home-MTA", "createTimestamp"});
  std::string notes, homeMta, created;
  ReadText(obj, "info", notes);
  const std::string expansion =
      ReadText(obj, "Home-MTA", homeMta) ? ServerFromDn(homeMta, "cn=Microsoft MTA,cn=") : "Any Server In Site";
  ReadText(obj, "createTimestamp", created);

  auto write = [&](const std::string& memberDn, const std::string& memberUid, const std::string& memberCn) {
    AddRow(rs, Row{Trim(server), Trim(path), Trim(displayName), Trim(alias), Trim(ownerDn), Trim(ownerUid),
                   Trim(ownerCn), expansion, notes, memberDn, memberUid, memberCn, created});
  };
  std::vector<std::string> members;
  if (!ReadList(obj, "member", members) || members.empty()) {
    write("", "", "");
    return;
  }
  for (const auto& dn : members) {
    std::string uid, cn;
    ReferencedUidAndCn(dn, uid, cn);
    write(dn, uid, cn);
  }
}

void Exch55Info::WriteDLAdvanced(DirObject& obj, Recordset& rs, const std::string& displayName,
                                 const std::string& alias, const std::string& server, const std::string& path) {
  LoadInfo(obj, {"name", "rdn", "Replication-Sensitivity", "deliv-Cont-Length", "Obj-View-Containers"});
  std::string simple, rdn, size;
  ReadText(obj, "name", simple);
  ReadText(obj, "rdn", rdn);
  double trust = 0;
  const std::string trustText = ReadNumber(obj, "Replication-Sensitivity", trust)
                                    ? std::to_string(static_cast<long long>(trust))
                                    : std::string();
  if (!ReadText(obj, "deliv-Cont-Length", size)) size = "No limit";
  const std::string container = ContainerName(obj);

  LoadInfo(obj, {"Report-to-Owner", "Report-to-Originator", "OOF-Reply-to-Originator", "Hide-From-Address-Book",
                 "Hide-DL-Membership", "Admin-Description"});
  std::string note;
  ReadText(obj, "Admin-Description", note);
  static const std::pair<const char*, const char*> kOptions[] = {
      {"Report To Distribution List Owner", "Report-to-Owner"},
      {"Report To Message Originator", "Report-to-Originator"},
      {"Allow Out of Office Messages to Originator", "OOF-Reply-to-Originator"},
      {"Hide From Address Book", "Hide-From-Address-Book"},
      {"Hide Membership From Address Book", "Hide-DL-Membership"}};
  for (const auto& [option, attribute] : kOptions) {
    // An option that cannot be read is shown as not set.
    bool flag = false;
    const char* value = ReadBool(obj, attribute, flag) && flag ? "Yes" : "No";
    AddRow(rs, Row{server, path, displayName, alias, simple, rdn, trustText, size, container, option, value, note});
  }
}

// ---- Container walker -------------------------------------------------------------

void Exch55Info::GetChildContainers(const std::string& path, const std::string& user, const std::string& password,
                                    long mode, int16_t iInfoType) {
  const std::string root = "LDAP://" + BoundServer + "/";
  const std::string localConfigParent = root + SiteRdn + "," + OrgRdn;
  DirObjectPtr parent;
  try {
    parent = BindPath(path, user, password);
  } catch (const velmo::ComError& e) {
    LogFailure("Binding to the Parent Container '" + path + "' using credential '" + user + "'", e.Number(),
               e.Description());
    NoteDirectoryFailure(e);
    return;
  }
  std::vector<DirObjectPtr> children;
  try {
    parent->SetFilter({"Container"});
    children = parent->Children();
  } catch (const velmo::ComError& e) {
    LogFailure("Listing the Child Containers of '" + path + "' using credential '" + user + "'", e.Number(),
               e.Description());
    NoteListingFailure(e, true);
    return;
  }
  parent.reset();
  for (auto& child : children) {
    const std::string name = child->Name();
    bool localConfig = false;
    try {
      localConfig = name == "cn=Configuration" && child->Parent() == localConfigParent;
    } catch (...) {
    }
    if (mode != 0 && localConfig) continue;
    const std::string childPath = path + "/" + name;
    std::string objectPath = childPath;
    for (size_t at; (at = objectPath.find(root)) != std::string::npos;) objectPath.erase(at, root.size());
    ObjectPath = objectPath;
    try {
      auto container = BindChild(childPath, child, user, password);
      if (mode != 0) {
        std::string scratch;
        GetMailboxCustomRecipInfo("Mailbox", iInfoType, BoundServer, user, password, objectPath, scratch);
      } else {
        WriteContainerRows(*container);
      }
    } catch (const velmo::ComError& e) {
      LogFailure("Binding to the Child Container '" + childPath + "' using credential '" + user + "'", e.Number(),
                 e.Description());
      NoteDirectoryFailure(e);
    }
    child.reset();
    if (Stopped()) return;
    if (!localConfig) GetChildContainers(childPath, user, password, mode, iInfoType);
    if (Stopped()) return;
  }
}
