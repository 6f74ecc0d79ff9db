// GetISResources and GetISResourcesUsingProfile: mailbox and public-folder
// statistics of an information store, appended to the database.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "AppFolder.h"
#include "Database.h"
#include "DateText.h"
#include "Exch55.h"
#include "InfoStore.h"
#include "TextFile.h"

namespace velmorccom {

namespace {

using namespace velmo::mapi;
using velmo::db::Value;

// The nine columns of each table, in the order the rows are read; the
// whole 64-bit size is asked for as a tenth column.
const std::vector<uint32_t> kMailboxTags = {
    PR_DISPLAY_NAME,     PR_NT_USER_NAME,  PR_MESSAGE_SIZE,
    PR_CONTENT_COUNT,    PR_LAST_LOGON_TIME, PR_LAST_LOGOFF_TIME,
    PR_EMAIL_ADDRESS,    PR_STORAGE_LIMIT_INFORMATION, PR_ASSOC_CONTENT_COUNT,
    PR_MESSAGE_SIZE_EXTENDED};
const std::vector<uint32_t> kFolderTags = {
    PR_DISPLAY_NAME,     PR_MESSAGE_SIZE,  PR_CONTENT_COUNT,
    PR_CREATION_TIME,    PR_LAST_ACCESS_TIME, PR_OWNER_COUNT,
    PR_CONTACT_COUNT,    PR_FOLDER_PATHNAME, PR_ASSOC_CONTENT_COUNT,
    PR_MESSAGE_SIZE_EXTENDED};

// Column texts; a property the row lacks (or holds with another type)
// gives "".
std::string Text(const SRow& row, size_t i) {
  if (i >= row.size() || PROP_TYPE(row[i].ulPropTag) != PT_STRING8) return {};
  return row[i].lpszA;
}
std::string Decimal(const SRow& row, size_t i) {
  if (i >= row.size() || PROP_TYPE(row[i].ulPropTag) != PT_LONG) return {};
  return std::to_string(row[i].l);
}
std::string Time(const SRow& row, size_t i) {
  if (i >= row.size() || PROP_TYPE(row[i].ulPropTag) != PT_SYSTIME) return {};
  return FileTimeText(row[i].ft);
}
// The size from the 64-bit column when the store gives it, else from the
// 32-bit one read as unsigned.
std::string Size(const SRow& row, size_t narrow, size_t wide) {
  if (wide < row.size() && PROP_TYPE(row[wide].ulPropTag) == PT_I8 && row[wide].li >= 0)
    return KilobytesText(static_cast<uint64_t>(row[wide].li));
  if (narrow < row.size() && PROP_TYPE(row[narrow].ulPropTag) == PT_LONG)
    return KilobytesText(static_cast<uint32_t>(row[narrow].l));
  return {};
}
std::string Limit(const SRow& row, size_t i) {
  if (i >= row.size() || PROP_TYPE(row[i].ulPropTag) != PT_LONG) return {};
  return StorageLimitText(row[i].l);
}

// Opens the session's store of a provider. S_OK with the store;
// 0x800B0001 when the session has none; E_FAIL otherwise.
int32_t OpenStoreByProvider(IMAPISession& session, const Guid& provider, std::unique_ptr<IMsgStore>& store) {
  constexpr int32_t kNoStore = static_cast<int32_t>(0x800B0001);
  std::unique_ptr<IMAPITable> table;
  if (session.GetMsgStoresTable(0, table) != S_OK || !table) return MAPI_E_CALL_FAILED;
  SPropertyRestriction restriction;
  restriction.relop = RELOP_EQ;
  restriction.ulPropTag = PR_MDB_PROVIDER;
  restriction.prop.ulPropTag = PR_MDB_PROVIDER;
  restriction.prop.bin.assign(provider.begin(), provider.end());
  std::vector<SRow> rows;
  int32_t hr = table->QueryAllRows({PR_ENTRYID}, &restriction, rows);
  if (hr == MAPI_E_NOT_FOUND || (hr == S_OK && rows.empty())) return kNoStore;
  if (hr != S_OK) return MAPI_E_CALL_FAILED;
  if (rows.front().size() != 1 || rows.front()[0].ulPropTag != PR_ENTRYID) return MAPI_E_CALL_FAILED;
  if (session.OpenMsgStore(0, rows.front()[0].bin, MAPI_BEST_ACCESS, store) != S_OK || !store)
    return MAPI_E_CALL_FAILED;
  return S_OK;
}

}  // namespace

std::string KilobytesText(uint64_t bytes) { return std::to_string(bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0)); }

std::string StorageLimitText(int32_t state) {
  switch (state) {
    case 1: return "Below Limit";
    case 2: return "Issue Warning";
    case 4: return "Prohibit Send";
    case 8: return "No Checking";
    default: return "";
  }
}

std::string FileTimeText(uint64_t fileTime) {
  return velmo::GeneralDate(velmo::Clock::from_time_t(static_cast<std::time_t>(FileTimeToUnixSeconds(fileTime))));
}

int32_t Exch55::GetISResources(int32_t lMode, const std::string& bstrServerName, const std::string& bstrOrgName,
                               const std::string& bstrSiteName, const std::string& bstrDatabaseName,
                               long lWinHwnd) {
  return CollectStoreResources(lMode, bstrServerName, bstrOrgName, bstrSiteName, bstrDatabaseName, lWinHwnd, "",
                               true);
}

int32_t Exch55::GetISResourcesUsingProfile(int32_t lMode, const std::string& bstrServerName,
                                           const std::string& bstrOrgName, const std::string& bstrSiteName,
                                           const std::string& bstrDatabaseName,
                                           const std::string& bstrProfileName) {
  return CollectStoreResources(lMode, bstrServerName, bstrOrgName, bstrSiteName, bstrDatabaseName, 0,
                               bstrProfileName, false);
}

int32_t Exch55::CollectStoreResources(int32_t lMode, const std::string& server, const std::string& org,
                                      const std::string& site, const std::string& database, long window,
                                      const std::string& profile, bool interactive) {
  ClearError();
  const bool privateStore = lMode == 0;
  const std::string stamp = LogStamp();
  // Without an application path there is no log; the work goes on.
  const std::filesystem::path logFile =
      applicationPath_.empty() ? std::filesystem::path() : velmo::NativePath(applicationPath_) / "VelmorcastErrorLog.log";
  auto log = [&](const std::string& line) {
    if (!logFile.empty()) velmo::AppendLine(logFile, line);
  };
  auto logStep = [&](const std::string& step, int32_t hr) {
    log(stamp + " " + step + " Error: " + LogHex(hr) + " " + server + "\tGetISResources");
  };

  int32_t hr = MAPIInitialize(MAPI_NT_SERVICE);
  if (hr != S_OK) {
    logStep("MAPIInitialize", hr);
    return hr;
  }

  std::unique_ptr<IMAPISession> session;
  // The profile chooser only for the interactive reader: the profile
  // reader runs unattended too, and an empty name there fails to log on.
  if (interactive)
    hr = MAPILogonEx(window, "", "", MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE, session);
  else
    hr = MAPILogonEx(0, profile, "", MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE, session);
  if (hr != S_OK || !session) {
    if (hr == S_OK) hr = MAPI_E_LOGON_FAILED;
    log(stamp + " Logon Error: " + LogHex(hr) + " " + std::to_string(lMode) + " " + server + "\tGetISResources");
    MAPIUninitialize();
    if (hr == MAPI_E_USER_CANCEL) return hr;
    return ReportSystemError(static_cast<uint32_t>(hr));
  }

  // From here on the session is logged off and MAPI uninitialised on every
  // path; stores and tables are released before that.
  auto endSession = [&] {
    session->Logoff(0, 0);
    session.reset();
    MAPIUninitialize();
  };

  std::unique_ptr<IMsgStore> store;
  hr = OpenStoreByProvider(*session, privateStore ? pbExchangeProviderPrimaryUserGuid : pbExchangeProviderPublicGuid,
                           store);
  if (hr != S_OK) {
    logStep(privateStore ? "PrivateStore Open" : "PublicStore Open", hr);
    endSession();
    return ReportSystemError(static_cast<uint32_t>(hr));
  }

  std::unique_ptr<IExchangeManageStore> manage;
  hr = store->QueryInterface(IID_IExchangeManageStore, manage);
  if (hr != S_OK || !manage) {
    if (hr == S_OK) hr = E_NOINTERFACE;
    store->StoreLogoff(LOGOFF_PURGE);
    logStep("QueryInterface", hr);
    store.reset();
    endSession();
    return ReportSystemError(static_cast<uint32_t>(hr));
  }

  const std::string dn = "/o=" + org + "/ou=" + site + "/cn=Configuration/cn=Servers/cn=" + server;
  const std::string objectPath = "o=" + org + "/ou=" + site + "/cn=Configuration/cn=Servers/cn=" + server +
                                 (privateStore ? "/cn=Microsoft Private MDB" : "/cn=Microsoft Public MDB");
  log(std::string(privateStore ? "Before GetMailboxTable of '" : "Before GetPublicFolderTable of '") + dn + "'");

  std::unique_ptr<IMAPITable> table;
  hr = privateStore ? manage->GetMailboxTable(dn, table, 0) : manage->GetPublicFolderTable(dn, table, 0x30);
  auto releaseStore = [&] {
    table.reset();
    manage.reset();
    store.reset();
  };
  if (hr != S_OK || !table) {
    if (hr == S_OK) hr = MAPI_E_CALL_FAILED;
    logStep(privateStore ? "GetMailboxTable" : "GetPublicFolderTable", hr);
    releaseStore();
    endSession();
    return ReportSystemError(static_cast<uint32_t>(hr));
  }

  std::vector<SRow> rows;
  hr = table->QueryAllRows(privateStore ? kMailboxTags : kFolderTags, nullptr, rows);
  if (hr != S_OK) {
    logStep("GetAllRows", hr);
    releaseStore();
    endSession();
    return hr;
  }
  if (rows.empty()) {
    releaseStore();
    endSession();
    return S_OK;
  }

  // Rows into the database. A failure stops the writing; rows already
  // written stay, the MAPI clean-up still runs, and the caller gets the
  // database's number and description.
  int32_t result = S_OK;
  {
    velmo::db::Connection conn;
    velmo::db::Recordset rs;
    try {
      conn.SetProvider("Microsoft.Jet.OLEDB.4.0");
      conn.Open(database, "", "", -1);
      rs.Open(privateStore ? "select * from ServerPrivateISResources" : "select * from ServerPublicISResources", conn,
              velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);
      for (const SRow& row : rows) {
        rs.AddNew();
        rs["ServerName"] = Value(server);
        rs["Object Path"] = Value(objectPath);
        if (privateStore) {
          const SPropValue* account = PpropFindProp(row, PR_NT_USER_NAME);
          rs["Directory Name"] = Value("Microsoft Private MDB");
          rs["Display Name"] = Value(Text(row, 0));
          rs["Mailbox"] = Value(Text(row, 0));
          rs["Windows NT Account"] = Value(account ? account->lpszA : std::string());
          rs["Total K"] = Value(Size(row, 2, 9));
          rs["Total no of Items"] = Value(Decimal(row, 3));
          rs["Last Logon Time"] = Value(Time(row, 4));
          rs["Last Logoff Time"] = Value(Time(row, 5));
          rs["Deleted Items K"] = Value("");
          rs["Full Mailbox Directory Name"] = Value(Text(row, 6));
          rs["Storage Limits"] = Value(Limit(row, 7));
          rs["Total no of Associated Messages"] = Value(Decimal(row, 8));
        } else {
          rs["Directory Name"] = Value("Microsoft Public MDB");
          rs["Display Name"] = Value(Text(row, 0));
          rs["Total K"] = Value(Size(row, 1, 9));
          rs["Total no Items"] = Value(Decimal(row, 2));
          rs["Created"] = Value(Time(row, 3));
          rs["Last Access Time"] = Value(Time(row, 4));
          rs["No of Owners"] = Value(Decimal(row, 5));
          rs["No of Contacts"] = Value(Decimal(row, 6));
          rs["Folder"] = Value("");
          rs["Folder Path"] = Value(Text(row, 7));
          rs["Total no Associated Messages"] = Value(Decimal(row, 8));
          rs["Deleted Items K"] = Value("");
        }
        rs.Update();
      }
      rs.Close();
      conn.Close();
    } catch (const std::exception& e) {
      const auto [number, description] = AbandonDatabaseWrite(e, rs, conn);
      log(stamp + " Database Write Error: " + LogHex(number) + " " + server + "\tGetISResources");
      result = ReportFailure(number, description);
    }
  }

  rows.clear();
  releaseStore();
  endSession();
  return result;
}

}  // namespace velmorccom
