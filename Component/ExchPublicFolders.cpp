// Public folders: the two public methods and the worker that fills one of
// the five public-folder tables per call, reading client permissions of
// the top-level folders through the mail session and the ACL object.
#include <string>

#include "Cdo.h"
#include "ComError.h"
#include "ComFactory.h"
#include "Exch55Info.h"
#include "ProviderFolder.h"
#include "Ui.h"

namespace {

const char* const kPFTables[] = {"PFGeneral", "PFPerm", "PFDLEmailAddr", "PFCustomAttr", "PFAdvanced"};

// The top-level folder a "Folder-Pathname" value lies in: "\Sales\Reports"
// gives "Sales"; a value without "\" is its own name.
std::string TopLevelName(const std::string& pathname) {
  size_t first = pathname.find('\\');
  if (first == std::string::npos) return pathname;
  size_t second = pathname.find('\\', first + 1);
  return pathname.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

}  // namespace

void Exch55Info::GetPublicFolderInfo(int16_t iInfoType, const std::string& strServerName,
                                     const std::string& strUserName, const std::string& strPassword, long lWinHwnd,
                                     const std::string& strObjectADsPath, std::string* strRetErrorMsg) {
  Guarded("GetPublicFolderInfo", strServerName, {"Recipients container@@ ", "  @@   "}, strRetErrorMsg,
          [&](std::string& ret) {
            CollectPublicFolderInfo(0, iInfoType, strServerName, strUserName, strPassword, lWinHwnd,
                                    strObjectADsPath, "", ret);
          });
}

void Exch55Info::GetPublicFolderInfoUsingProfile(int16_t iInfoType, const std::string& strServerName,
                                                 const std::string& strUserName, const std::string& strPassword,
                                                 const std::string& strProfileName,
                                                 const std::string& strObjectADsPath, std::string* strRetErrorMsg) {
  Guarded("GetPublicFolderInfoUsingProfile", strServerName, {"Recipients container@@ ", "  @@   "}, strRetErrorMsg,
          [&](std::string& ret) {
            CollectPublicFolderInfo(1, iInfoType, strServerName, strUserName, strPassword, 0, strObjectADsPath,
                                    strProfileName, ret);
          });
}

std::string Exch55Info::FolderRoleName(long rights) {
  switch (rights) {
    case 0x400:
    case 0:
      return "None";
    case 0x41B:
      return "Author";
    case 0x402:
      return "Contributor";
    case 0x47B:
      return "Editor";
    case 0x413:
      return "Nonediting Author";
    case 0x7FB:
      return "Owner";
    case 0x49B:
      return "Publishing Author";
    case 0x4FB:
      return "Publishing Editor";
    case 0x401:
      return "Reviewer";
    default:
      return "Custom";
  }
}

void Exch55Info::CollectPublicFolderInfo(long mode, int16_t iInfoType, const std::string& strServerName,
                                         const std::string& strUserName, const std::string& strPassword,
                                         long windowHandle, const std::string& strObjectADsPath,
                                         const std::string& profileName, std::string& strRetErrorMsg) {
  velmo::providers::LookupRound round;
  std::string user = strUserName;
  auto params = [&] { return std::to_string(iInfoType) + "-" + strServerName + "-" + user + "-"; };
  if (!StartCall("GetPublicFolderInfo", params(), strServerName, strUserName, strPassword, strRetErrorMsg)) return;

  const std::string containerPath = "LDAP://" + strServerName + "/" + strObjectADsPath;
  user = AdminUser(strUserName);
  BeginCall(user, strPassword);
  DirObjectPtr container;
  if (!BindOrReport(containerPath, user, strPassword,
                    {"Recipients container@@ ", "  @@   ", "Binding to Recipients Container '"},
                    "GetPublicFolderInfo", params(), strRetErrorMsg, container))
    return;

  velmo::db::WriteJournal journal;
  velmo::db::PageWrite page(DatabasePath);
  OpenDBConnection();
  if (iInfoType >= 0 && iInfoType <= 4) OpenRecordset(std::string("select * from ") + kPFTables[iInfoType]);

  // The mail session, the top-level folders and the ACL object serve every
  // folder of the call (General page only).
  std::shared_ptr<velmo::cdo::ISession> session;
  std::shared_ptr<velmo::cdo::Folders> topFolders;
  std::shared_ptr<velmo::cdo::IAclObject> acl;
  bool cdoReady = false;
  if (iInfoType == 0) {
    int step = 0;
    try {
      session = velmo::com::CreateObject<velmo::cdo::ISession>("MAPI.SESSION");
      step = 1;
      try {
        if (mode == 0)
          session->Logon(std::nullopt, std::nullopt, true, std::nullopt, windowHandle);
        else
          session->Logon(profileName, std::nullopt, false, true, std::nullopt);
      } catch (const velmo::ComError& e) {
        if (e.Number() != velmo::cdo::MAPI_E_USER_CANCEL && e.Number() != velmo::Hr(0x80010108)) {
          strRetErrorMsg += "_" + BindErrorItem("Profile Logon  @@   ", e.Number(), "  @@   ", e.Description());
          ShowMessage(strRetErrorMsg, velmo::ui::vbOKOnly, "VELMO");
        }
        throw;
      }
      step = 2;
      auto store = session->GetInfoStores()->Item(1);
      step = 3;
      topFolders = session->GetFolder(store->Fields(velmo::cdo::PR_IPM_PUBLIC_FOLDERS_ENTRYID), store->ID())
                       ->GetFolders();
      step = 4;
      acl = velmo::com::CreateObject<velmo::cdo::IAclObject>("MSExchange.aclobject");
      cdoReady = true;
    } catch (const velmo::ComError& e) {
      static const char* const kContexts[] = {
          "GetPublicFolderInfo - Session Object Creation Failure ",
          "GetPublicFolderInfo - Session Logon Failure ",
          "GetPublicFolderInfo - Getting Public Information Store Failure ",
          "GetPublicFolderInfo - Getting Public Folders Root Failure ",
          "GetPublicFolderInfo - ACL Object Creation Failure ",
      };
      LogFailure(kContexts[step], e.Number(), e.Description());
      if (step < 1) session.reset();
    }
  }

  std::vector<DirObjectPtr> children;
  try {
    container->SetFilter({"public-folder"});
    children = container->Children();
  } catch (const velmo::ComError& e) {
    NoteListingFailure(e, false);
  }
  for (auto& child : children) {
    if (Stopped()) break;
    const std::string folderPath = containerPath + "/" + child->Name();
    DirObjectPtr folder;
    try {
      folder = BindChild(folderPath, child, user, strPassword);
    } catch (const velmo::ComError& e) {
      LogFailure("Binding to the Public Folder object  '" + folderPath + "' using credential '" + user + "'",
                 e.Number(), e.Description());
      NoteDirectoryFailure(e);
      child.reset();
      continue;
    }
    child.reset();
    LoadInfo(*folder, {"cn", "uid"});
    std::string displayName, alias;
    ReadText(*folder, "cn", displayName);
    ReadText(*folder, "uid", alias);

    switch (iInfoType) {
      case 0: {
        if (!DbRecordset) break;
        LoadInfo(*folder, {"Folder-Pathname", "info", "createTimestamp"});
        std::string pathname, notes, created;
        ReadText(*folder, "Folder-Pathname", pathname);
        ReadText(*folder, "info", notes);
        ReadText(*folder, "createTimestamp", created);
        const std::string folderName = TopLevelName(pathname);
        auto write = [&](const std::string& permission) {
          AddRow(*DbRecordset, Row{strServerName, strObjectADsPath, folderName, displayName, alias, "", permission, "",
                                   notes, pathname, created});
        };

        bool listed = false;
        if (cdoReady) {
          try {
            const long count = topFolders->Count();
            for (long i = 1; i <= count && !listed; ++i) listed = topFolders->Item(i)->Name() == folderName;
          } catch (const velmo::ComError&) {
          }
        }
        if (!listed) {
          write("");
          break;
        }
        velmo::cdo::FolderPtr cdoFolder;
        try {
          cdoFolder = topFolders->Item(folderName);
        } catch (const velmo::ComError& e) {
          LogFailure("GetPublicFolderInfo - Binding to the folder '" + folderName + "'", e.Number(), e.Description());
          write("");
          break;
        }
        try {
          acl->CDOItem(cdoFolder);
        } catch (...) {
        }
        std::shared_ptr<velmo::cdo::ACEs> entries;
        long count = 0;
        try {
          entries = acl->GetACEs();
          count = entries->Count();
        } catch (const velmo::ComError&) {
          count = 0;
        }
        // A folder whose permissions cannot be read, or has none, keeps its
        // row with empty permissions.
        if (count <= 0) {
          write("");
          break;
        }
        for (long i = 1; i <= count; ++i) {
          std::string member = "Unknown", role = "Unknown";
          try {
            auto entry = entries->Item(i);
            const std::string id = entry->ID();
            if (id == "ID_ACL_DEFAULT") {
              member = "Default";
            } else if (id == "ID_ACL_ANONYMOUS") {
              member = "Anonymous user";
            } else {
              try {
                member = session->GetAddressEntry(id)->Name();
              } catch (const velmo::ComError&) {
              }
            }
            role = FolderRoleName(entry->Rights());
          } catch (const velmo::ComError&) {
          }
          write(member + " - " + role);
        }
        break;
      }
      case 1:
        GetObjectPermissions(*folder, "", displayName, alias, "PFPerm", "", "", strObjectADsPath);
        break;
      case 2:
        if (DbRecordset) WriteEmailAddresses(*folder, *DbRecordset, displayName, alias, strObjectADsPath, "", "");
        break;
      case 3:
        if (DbRecordset) WriteCustomAttributes(*folder, *DbRecordset, displayName, alias, strObjectADsPath, "", "");
        break;
      case 4: {
        if (!DbRecordset) break;
        LoadInfo(*folder, {"Garbage-Coll-Period", "MDB-Use-Defaults", "rdn", "Replication-Sensitivity", "Home-Server",
                           "Home-MDB", "Folder-Pathname", "Hide-From-Address-Book", "Obj-View-Containers",
                           "Admin-Description"});
        Row row{strServerName, strObjectADsPath, displayName, alias};
        double period = 0;
        row.push_back(ReadNumber(*folder, "Garbage-Coll-Period", period) ? DaysText(period)
                                                                          : "Use information store defaults");
        bool useDefaults = true;
        if (!ReadBool(*folder, "MDB-Use-Defaults", useDefaults) || useDefaults) {
          row.push_back("Use information store defaults");
        } else {
          LoadInfo(*folder, {"MDB-Storage-quota"});
          std::string quota;
          row.push_back(ReadText(*folder, "MDB-Storage-quota", quota) ? Value(quota) : Value::Null());
        }
        row.push_back("");
        for (const char* a : {"name", "rdn", "Replication-Sensitivity"}) {
          std::string v;
          ReadText(*folder, a, v);
          row.push_back(v);
        }
        row.push_back("");
        std::string homeMdb;
        if (!ReadText(*folder, "Home-MDB", homeMdb)) {
          row.push_back("");
        } else {
          // The server is the text before the first "," left once the
          // store's prefix is removed; none left means no server.
          std::string rest = homeMdb;
          const std::string prefix = "cn=Microsoft Public MDB,cn=";
          for (size_t at; (at = rest.find(prefix)) != std::string::npos;) rest.erase(at, prefix.size());
          const size_t comma = rest.find(',');
          row.push_back(comma == std::string::npos ? Value::Null() : Value(rest.substr(0, comma)));
        }
        bool hide = false;
        row.push_back(ReadBool(*folder, "Hide-From-Address-Book", hide) && hide ? "Yes" : "No");
        row.push_back(ContainerName(*folder));
        std::string note;
        ReadText(*folder, "Admin-Description", note);
        row.push_back(note);
        AddRow(*DbRecordset, row);
        break;
      }
      default:
        break;
    }
  }

  if (iInfoType == 0) {
    acl.reset();
    if (session) {
      try {
        session->Logoff();
      } catch (...) {
      }
      session.reset();
    }
  }
  CloseRecordset();
  CloseDBConnection();
  WritePage(page);
  if (Stopped())
    EndStoppedCall(journal, "Recipients container@@ ", "  @@   ",
                   "Collecting the Recipients Container '" + containerPath + "' using credential '" + user + "'",
                   strRetErrorMsg, !strRetErrorMsg.empty());
  LogTrace("GetPublicFolderInfo End", params());
}
