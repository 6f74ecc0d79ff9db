// GetISResources and GetISResourcesUsingProfile over file-backed stores.
#include "Exch55.h"
#include "InfoStore.h"
#include "NativeTestSupport.h"
#include "ScriptedUi.h"
#include "Ui.h"

using namespace native_test;
namespace mapi = velmo::mapi;

namespace {

const char* kProfiles = "EX1 Profile\tEX1\nEX2 Profile\tEX2\nStray Profile\tEX9\n";

// EX1: sizes around the kilobyte and the 2 and 4 GiB edges, every limit
// state, rows with absent properties; public folders.
const char* kEx1 =
    "[Server]\nOrganization=Velmor\nSite=Lakeside\n"
    "[Private]\n"
    "Empty\tCORP\\empty\t0\t0\t2024-03-01 08:15:00\t2024-03-01 17:30:05\t/o=Velmor/ou=Lakeside/cn=Recipients/cn=Empty\t1\t0\n"
    "One\tCORP\\one\t1\t1\t\t\t/dn/one\t2\t1\n"
    "Exact\tCORP\\exact\t1024\t2\t\t\t/dn/exact\t4\t2\n"
    "Over\tCORP\\over\t1025\t3\t\t\t/dn/over\t8\t3\n"
    "Big\tCORP\\big\t3221225472\t4\t\t\t/dn/big\t0\t4\n"
    "Huge\tCORP\\huge\t5368709121\t5\t\t\t/dn/huge\t16\t5\n"
    "NoAccount\t\t2048\t\t\t\t\t\t\n"
    "[Public]\n"
    "Marketing\t10240\t7\t1999-03-15 09:00:00\t2024-02-29 23:59:59\t1\t2\t\\Marketing\t0\n"
    "Sales/Europe\t\t\t\t\t\t\t\\Sales/Europe\t\n";
const char* kEx2 = "[Server]\nOrganization=Velmor\nSite=Lakeside\n[Private]\n";

class StoreResources : public NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    WriteProvider("profiles.txt", kProfiles);
    WriteProvider("stores/EX1.txt", kEx1);
    WriteProvider("stores/ex2.TXT", kEx2);
    ui_ = std::make_shared<velmo::ui::ScriptedUi>();
    previousUi_ = velmo::ui::SetUi(ui_);
    exch_->ApplicationPath(home_.dir().string());
  }
  void TearDown() override {
    velmo::ui::SetUi(previousUi_);
    auto open = mapi::FileMapiOpenCounts();
    EXPECT_EQ(open.initialized, 0);
    EXPECT_EQ(open.sessions, 0);
    EXPECT_EQ(open.stores, 0);
    EXPECT_EQ(open.tables, 0);
    NativeTest::TearDown();
  }
  int32_t Collect(int32_t mode, const std::string& server, const std::string& profile) {
    return exch_->GetISResourcesUsingProfile(mode, server, "Velmor", "Lakeside", db_, profile);
  }
  std::vector<std::string> Log() { return LogLines(home_.dir()); }

  std::shared_ptr<velmo::ui::ScriptedUi> ui_;
  std::shared_ptr<velmo::ui::UiSeam> previousUi_;
};

}  // namespace

TEST_F(StoreResources, MailboxRows) {
  ASSERT_EQ(Collect(0, "EX1", "EX1 Profile"), 0);
  auto rows = Rows("ServerPrivateISResources");
  ASSERT_EQ(rows.size(), 7u);
  const Row& first = rows[0];
  EXPECT_EQ(first.at("ServerName"), "EX1");
  EXPECT_EQ(first.at("Object Path"), "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1/cn=Microsoft Private MDB");
  EXPECT_EQ(first.at("Directory Name"), "Microsoft Private MDB");
  EXPECT_EQ(first.at("Display Name"), "Empty");
  EXPECT_EQ(first.at("Mailbox"), "Empty");
  EXPECT_EQ(first.at("Windows NT Account"), "CORP\\empty");
  EXPECT_EQ(first.at("Last Logon Time"), "3/1/2024 8:15:00 AM");
  EXPECT_EQ(first.at("Last Logoff Time"), "3/1/2024 5:30:05 PM");
  EXPECT_EQ(first.at("Full Mailbox Directory Name"), "/o=Velmor/ou=Lakeside/cn=Recipients/cn=Empty");
  EXPECT_EQ(first.at("Deleted Items K"), "");

  std::vector<std::string> k, limits, items;
  for (auto& r : rows) {
    k.push_back(r.at("Total K"));
    limits.push_back(r.at("Storage Limits"));
    items.push_back(r.at("Total no of Items") + "/" + r.at("Total no of Associated Messages"));
  }
  EXPECT_EQ(k, (std::vector<std::string>{"0", "1", "1", "2", "3145728", "5242881", "2"}));
  EXPECT_EQ(limits, (std::vector<std::string>{"Below Limit", "Issue Warning", "Prohibit Send", "No Checking", "", "",
                                              ""}));
  EXPECT_EQ(items[1], "1/1");

  // Absent properties read as empty texts, never as Null.
  const Row& bare = rows[6];
  for (auto& [column, value] : bare)
    if (column != "ServerName" && column != "Object Path" && column != "Directory Name" && column != "Display Name" &&
        column != "Mailbox" && column != "Total K")
      EXPECT_EQ(value, "") << column;

  auto log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "Before GetMailboxTable of '/o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1'");
}

TEST_F(StoreResources, PublicFolderRowsForAnyModeButZero) {
  ASSERT_EQ(Collect(1, "EX1", "ex1 profile"), 0);
  ASSERT_EQ(Collect(2, "EX1", "EX1 Profile"), 0);
  auto rows = Rows("ServerPublicISResources");
  ASSERT_EQ(rows.size(), 4u);
  const Row& m = rows[0];
  EXPECT_EQ(m.at("Object Path"), "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1/cn=Microsoft Public MDB");
  EXPECT_EQ(m.at("Directory Name"), "Microsoft Public MDB");
  EXPECT_EQ(m.at("Display Name"), "Marketing");
  EXPECT_EQ(m.at("Total K"), "10");
  EXPECT_EQ(m.at("Total no Items"), "7");
  EXPECT_EQ(m.at("Created"), "3/15/1999 9:00:00 AM");
  EXPECT_EQ(m.at("Last Access Time"), "2/29/2024 11:59:59 PM");
  EXPECT_EQ(m.at("No of Owners"), "1");
  EXPECT_EQ(m.at("No of Contacts"), "2");
  EXPECT_EQ(m.at("Folder"), "");
  EXPECT_EQ(m.at("Folder Path"), "\\Marketing");
  EXPECT_EQ(m.at("Total no Associated Messages"), "0");
  EXPECT_EQ(rows[1].at("Display Name"), "Sales/Europe");
  EXPECT_EQ(rows[1].at("Total K"), "");
  EXPECT_EQ(rows[1].at("Created"), "");
  EXPECT_EQ(Log().at(0), "Before GetPublicFolderTable of '/o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1'");
}

TEST_F(StoreResources, ProfileChooserCancelUnknownProfileAndChoice) {
  // Cancel: the chooser is shown once, over the given window; no error info.
  EXPECT_EQ(exch_->GetISResources(0, "EX1", "Velmor", "Lakeside", db_, 42), mapi::MAPI_E_USER_CANCEL);
  ASSERT_EQ(ui_->shown().size(), 1u);
  EXPECT_EQ(ui_->shown()[0].kind, "ChooseProfile");
  EXPECT_EQ(ui_->shown()[0].prompt, "EX1 Profile\nEX2 Profile\nStray Profile");
  EXPECT_TRUE(exch_->GetErrorInfo().description.empty());

  // A named profile never shows the chooser; an unknown or empty one fails.
  EXPECT_EQ(Collect(0, "EX1", "Nobody"), mapi::MAPI_E_LOGON_FAILED);
  EXPECT_EQ(Collect(0, "EX1", ""), mapi::MAPI_E_LOGON_FAILED);
  EXPECT_EQ(ui_->shown().size(), 1u);
  EXPECT_EQ(exch_->GetErrorInfo().description, velmorccom::FormatSystemError(0x80040111));

  // A chosen profile works like a named one.
  ui_->QueueProfile("EX1 Profile");
  EXPECT_EQ(exch_->GetISResources(0, "EX1", "Velmor", "Lakeside", db_, 42), 0);
  EXPECT_EQ(Rows("ServerPrivateISResources").size(), 7u);

  auto log = Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_NE(log[0].find(" Logon Error: 80040113 0 EX1\tGetISResources"), std::string::npos) << log[0];
  EXPECT_NE(log[1].find(" Logon Error: 80040111 0 EX1\tGetISResources"), std::string::npos) << log[1];
}

TEST_F(StoreResources, MissingStoresAndServers) {
  // EX2 has no public store.
  int32_t hr = Collect(1, "EX2", "EX2 Profile");
  EXPECT_EQ(static_cast<uint32_t>(hr), 0x800B0001u | 0x80040000u);
  EXPECT_EQ(exch_->GetErrorInfo().description, velmorccom::FormatSystemError(0x800B0001));
  // A profile whose home server cannot be reached opens no store.
  EXPECT_EQ(static_cast<uint32_t>(Collect(0, "EX1", "Stray Profile")), 0x80004005u | 0x80040000u);
  // A server the site does not hold has no mailbox table.
  EXPECT_EQ(static_cast<uint32_t>(Collect(0, "EX7", "EX1 Profile")), 0x8004010Fu);
  EXPECT_EQ(static_cast<uint32_t>(exch_->GetISResourcesUsingProfile(0, "EX1", "Velmor", "Hilltop", db_, "EX1 Profile")),
            0x8004010Fu);
  // An empty mailbox table writes nothing and succeeds.
  EXPECT_EQ(Collect(0, "EX2", "EX2 Profile"), 0);
  EXPECT_TRUE(Rows("ServerPrivateISResources").empty());

  auto log = Log();
  ASSERT_EQ(log.size(), 7u);
  EXPECT_NE(log[0].find(" PublicStore Open Error: 800b0001 EX2\tGetISResources"), std::string::npos) << log[0];
  EXPECT_NE(log[1].find(" PrivateStore Open Error: 80004005 EX1\tGetISResources"), std::string::npos) << log[1];
  EXPECT_EQ(log[2], "Before GetMailboxTable of '/o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX7'");
  EXPECT_NE(log[3].find(" GetMailboxTable Error: 8004010f EX7\tGetISResources"), std::string::npos) << log[3];
  EXPECT_EQ(log[6], "Before GetMailboxTable of '/o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX2'");
}

TEST_F(StoreResources, DatabaseFailureIsLoggedAndReturnedWithoutABox) {
  std::filesystem::remove(db_);
  int32_t hr = Collect(0, "EX1", "EX1 Profile");
  EXPECT_LT(hr, 0);
  EXPECT_FALSE(exch_->GetErrorInfo().description.empty());
  EXPECT_TRUE(ui_->shown().empty());
  auto log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[1].find(" Database Write Error: " + velmorccom::LogHex(hr) + " EX1\tGetISResources"),
            std::string::npos)
      << log[1];
  // Without an application path nothing is logged, the work is the same.
  auto quiet = velmo::com::CreateObject<IExch55>("VELMORCCom.Exch55");
  EXPECT_EQ(quiet->GetISResourcesUsingProfile(0, "EX1", "Velmor", "Lakeside", db_, "EX1 Profile"), hr);
  EXPECT_EQ(Log().size(), 2u);
}

namespace {

// Delegates to the file-backed subsystem and fails one step.
class FailingStore : public mapi::IMsgStore {
 public:
  FailingStore(std::unique_ptr<mapi::IMsgStore> inner, bool failInterface, bool failRows)
      : inner_(std::move(inner)), failInterface_(failInterface), failRows_(failRows) {}
  int32_t QueryInterface(const mapi::Guid& iid, std::unique_ptr<mapi::IExchangeManageStore>& out) override;
  int32_t StoreLogoff(uint32_t flags) override {
    logoffFlags = flags;
    return inner_->StoreLogoff(flags);
  }
  static inline uint32_t logoffFlags = 0;

 private:
  std::unique_ptr<mapi::IMsgStore> inner_;
  bool failInterface_, failRows_;
};

class FailingTable : public mapi::IMAPITable {
 public:
  explicit FailingTable(std::unique_ptr<mapi::IMAPITable> inner) : inner_(std::move(inner)) {}
  int32_t QueryAllRows(const std::vector<uint32_t>&, const mapi::SPropertyRestriction*,
                       std::vector<mapi::SRow>&) override {
    return mapi::MAPI_E_NETWORK_ERROR;
  }

 private:
  std::unique_ptr<mapi::IMAPITable> inner_;
};

class FailingManage : public mapi::IExchangeManageStore {
 public:
  explicit FailingManage(std::unique_ptr<mapi::IExchangeManageStore> inner) : inner_(std::move(inner)) {}
  int32_t GetMailboxTable(const std::string& dn, std::unique_ptr<mapi::IMAPITable>& table, uint32_t f) override {
    std::unique_ptr<mapi::IMAPITable> t;
    int32_t hr = inner_->GetMailboxTable(dn, t, f);
    if (hr == 0) table = std::make_unique<FailingTable>(std::move(t));
    return hr;
  }
  int32_t GetPublicFolderTable(const std::string& dn, std::unique_ptr<mapi::IMAPITable>& t, uint32_t f) override {
    return inner_->GetPublicFolderTable(dn, t, f);
  }

 private:
  std::unique_ptr<mapi::IExchangeManageStore> inner_;
};

int32_t FailingStore::QueryInterface(const mapi::Guid& iid, std::unique_ptr<mapi::IExchangeManageStore>& out) {
  if (failInterface_) return mapi::E_NOINTERFACE;
  std::unique_ptr<mapi::IExchangeManageStore> inner;
  int32_t hr = inner_->QueryInterface(iid, inner);
  if (hr == 0) out = failRows_ ? std::unique_ptr<mapi::IExchangeManageStore>(new FailingManage(std::move(inner)))
                               : std::move(inner);
  return hr;
}

class FailingSession : public mapi::IMAPISession {
 public:
  FailingSession(std::unique_ptr<mapi::IMAPISession> inner, bool i, bool r)
      : inner_(std::move(inner)), failInterface_(i), failRows_(r) {}
  int32_t GetMsgStoresTable(uint32_t f, std::unique_ptr<mapi::IMAPITable>& t) override {
    return inner_->GetMsgStoresTable(f, t);
  }
  int32_t OpenMsgStore(long ui, const std::vector<uint8_t>& id, uint32_t f,
                       std::unique_ptr<mapi::IMsgStore>& store) override {
    std::unique_ptr<mapi::IMsgStore> inner;
    int32_t hr = inner_->OpenMsgStore(ui, id, f, inner);
    if (hr == 0) store = std::make_unique<FailingStore>(std::move(inner), failInterface_, failRows_);
    return hr;
  }
  int32_t Logoff(long ui, uint32_t f) override { return inner_->Logoff(ui, f); }

 private:
  std::unique_ptr<mapi::IMAPISession> inner_;
  bool failInterface_, failRows_;
};

class FailingMapi : public mapi::MapiSubsystem {
 public:
  FailingMapi(std::shared_ptr<mapi::MapiSubsystem> inner, bool i, bool r)
      : inner_(std::move(inner)), failInterface_(i), failRows_(r) {}
  int32_t Initialize(uint32_t f) override { return inner_->Initialize(f); }
  void Uninitialize() override { inner_->Uninitialize(); }
  int32_t LogonEx(long ui, const std::string& p, const std::string& pw, uint32_t f,
                  std::unique_ptr<mapi::IMAPISession>& s) override {
    std::unique_ptr<mapi::IMAPISession> inner;
    int32_t hr = inner_->LogonEx(ui, p, pw, f, inner);
    if (hr == 0) s = std::make_unique<FailingSession>(std::move(inner), failInterface_, failRows_);
    return hr;
  }

 private:
  std::shared_ptr<mapi::MapiSubsystem> inner_;
  bool failInterface_, failRows_;
};

}  // namespace

TEST_F(StoreResources, InterfaceAndRowFailuresReleaseEverything) {
  auto file = mapi::SetMapiSubsystem(nullptr);
  mapi::SetMapiSubsystem(std::make_shared<FailingMapi>(file, true, false));
  EXPECT_EQ(static_cast<uint32_t>(Collect(0, "EX1", "EX1 Profile")), 0x80004002u | 0x80040000u);
  EXPECT_EQ(FailingStore::logoffFlags, mapi::LOGOFF_PURGE);

  mapi::SetMapiSubsystem(std::make_shared<FailingMapi>(file, false, true));
  EXPECT_EQ(Collect(0, "EX1", "EX1 Profile"), mapi::MAPI_E_NETWORK_ERROR);
  EXPECT_TRUE(exch_->GetErrorInfo().description.empty());
  mapi::SetMapiSubsystem(nullptr);

  EXPECT_TRUE(Rows("ServerPrivateISResources").empty());
  auto log = Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_NE(log[0].find(" QueryInterface Error: 80004002 EX1\tGetISResources"), std::string::npos) << log[0];
  EXPECT_NE(log[2].find(" GetAllRows Error: 80040115 EX1\tGetISResources"), std::string::npos) << log[2];
}

TEST(StoreTexts, KilobytesLimitsAndTimes) {
  EXPECT_EQ(velmorccom::KilobytesText(0), "0");
  EXPECT_EQ(velmorccom::KilobytesText(1), "1");
  EXPECT_EQ(velmorccom::KilobytesText(1024), "1");
  EXPECT_EQ(velmorccom::KilobytesText(1025), "2");
  EXPECT_EQ(velmorccom::KilobytesText(0x80000000ull), "2097152");
  EXPECT_EQ(velmorccom::KilobytesText(UINT64_MAX), "18014398509481984");
  EXPECT_EQ(velmorccom::StorageLimitText(3), "");
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  uint64_t ft = 0;
  ASSERT_TRUE(mapi::ParseFileTime("2000-01-01 00:00:00", ft));
  EXPECT_EQ(velmorccom::FileTimeText(ft), "1/1/2000 12:00:00 AM");
  EXPECT_FALSE(mapi::ParseFileTime("2000-13-01 00:00:00", ft));
  EXPECT_FALSE(mapi::ParseFileTime("yesterday", ft));
}
