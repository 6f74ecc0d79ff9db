// libFuzzer target: any bytes as one of the provider files. The first byte
// picks the file (network.txt, accounts.txt, profiles.txt, stores/EX1.txt,
// publicacl/EX1.txt), the rest is its content; the other files are the
// sample's. Each reader is then used as its callers use it. Beyond not
// crashing: what a reader hands out is of the form it promises (names not
// empty, rows as wide as the columns asked for), and every session, store,
// table and handle opened is released.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "AccountNames.h"
#include "Cdo.h"
#include "ComError.h"
#include "FuzzFolder.h"
#include "InfoStore.h"
#include "NetServers.h"
#include "Profiles.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const char* const kFiles[] = {"network.txt", "accounts.txt", "profiles.txt", "stores/EX1.txt", "publicacl/EX1.txt"};

const char* kProfiles = "EX1 Profile\tEX1\n";
const char* kStore =
    "[Server]\nOrganization=Velmor\nSite=Lakeside\n"
    "[Private]\nJohn Smith\tCORP\\jsmith\t2048\t1\t\t\t/o=Velmor/ou=Lakeside/cn=Recipients/cn=John Smith\t1\t0\n"
    "[Public]\nMarketing\t10240\t7\t\t\t1\t2\t\\Marketing\t0\nSupport\t1\t1\t\t\t1\t1\t\\Support\t0\n";

void Network() {
  using namespace velmo::net;
  std::vector<SERVER_INFO_101> domains, servers;
  NetServerEnum("", SV_TYPE_DOMAIN_ENUM, "", domains);
  for (const auto& d : domains) Check(!d.sv101_name.empty());
  NetServerEnum("", SV_TYPE_ALL, "", servers);
  for (const auto& s : servers) {
    Check(!s.sv101_name.empty());
    ScHandle manager, service;
    if (OpenSCManager(s.sv101_name, GENERIC_READ, manager) == 0) OpenService(manager, "MSExchangeSA", GENERIC_READ, service);
  }
  Check(OpenServiceHandleCount() == 0);
}

void Accounts() {
  for (const char* sid : {"S-1-5-21-1004336348-1177238915-682003330-1106", "S-1-1-0", "S-1-5-18"}) {
    velmo::accounts::AccountName a;
    uint32_t rc = velmo::accounts::LookupAccountSidText(sid, a);
    Check(rc == velmo::accounts::ERROR_SUCCESS || rc == velmo::accounts::ERROR_NONE_MAPPED);
    if (rc == 0) Check(!a.name.empty());
  }
}

void Profiles() {
  for (const auto& p : velmo::mapi::ReadProfiles()) Check(!p.name.empty() && !p.homeServer.empty());
}

void Stores() {
  using namespace velmo::mapi;
  Check(MAPIInitialize(0) == S_OK);
  std::unique_ptr<IMAPISession> session;
  if (MAPILogonEx(0, "EX1 Profile", "", MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE, session) == S_OK) {
    std::unique_ptr<IMAPITable> stores;
    std::vector<SRow> rows;
    if (session->GetMsgStoresTable(0, stores) == S_OK && stores->QueryAllRows({PR_ENTRYID}, nullptr, rows) == S_OK) {
      for (const auto& row : rows) {
        Check(row.size() == 1);
        std::unique_ptr<IMsgStore> store;
        if (session->OpenMsgStore(0, row[0].bin, MAPI_BEST_ACCESS, store) != S_OK) continue;
        std::unique_ptr<IExchangeManageStore> manage;
        if (store->QueryInterface(IID_IExchangeManageStore, manage) == S_OK) {
          const std::string dn = "/o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1";
          const std::vector<uint32_t> columns = {PR_DISPLAY_NAME, PR_MESSAGE_SIZE_EXTENDED, PR_LAST_LOGON_TIME,
                                                 PR_FOLDER_PATHNAME, PR_STORAGE_LIMIT_INFORMATION};
          for (bool mailboxes : {true, false}) {
            std::unique_ptr<IMAPITable> table;
            int32_t hr = mailboxes ? manage->GetMailboxTable(dn, table, 0) : manage->GetPublicFolderTable(dn, table, 0);
            std::vector<SRow> out;
            if (hr == S_OK && table->QueryAllRows(columns, nullptr, out) == S_OK)
              for (const auto& r : out) Check(r.size() == columns.size());
          }
        }
        store->StoreLogoff(LOGOFF_PURGE);
      }
    }
    session->Logoff(0, 0);
  }
  session.reset();
  MAPIUninitialize();
  auto open = FileMapiOpenCounts();
  Check(open.initialized == 0 && open.sessions == 0 && open.stores == 0 && open.tables == 0);
}

template <class T>
std::unique_ptr<velmo::com::ComObject> Object(velmo::com::ComObject* o, T*& out) {
  std::unique_ptr<velmo::com::ComObject> owned(o);
  out = owned ? static_cast<T*>(owned->QueryInterface(T::IID)) : nullptr;
  return owned;
}

void PublicFolders() {
  using namespace velmo::cdo;
  ISession* session;
  IAclObject* acl;
  auto s = Object(NewSession(), session);
  auto a = Object(NewAclObject(), acl);
  if (!session || !acl) return;
  try {
    session->Logon(std::string("EX1 Profile"), std::nullopt, false, std::nullopt, std::nullopt);
    auto stores = session->GetInfoStores();
    if (stores->Count() == 0) return;
    auto root = session->GetFolder(stores->Item(1)->Fields(PR_IPM_PUBLIC_FOLDERS_ENTRYID), "");
    auto folders = root->GetFolders();
    for (long i = 1; i <= folders->Count(); ++i) {
      acl->CDOItem(folders->Item(i));
      auto aces = acl->GetACEs();
      for (long k = 1; k <= aces->Count(); ++k) {
        Check(!aces->Item(k)->ID().empty());
        try {
          session->GetAddressEntry(aces->Item(k)->ID());
        } catch (const velmo::ComError&) {
        }
      }
    }
  } catch (const velmo::ComError&) {
    // The public store has no such folder, or no logon: an answer, not a fault.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static velmo::fuzz::FuzzFolder folder;
  if (size == 0) return 0;
  const size_t kind = data[0] % 5;
  // The files the reader under test relies on, as the sample has them.
  if (kind != 2) folder.Write("profiles.txt", kProfiles);
  if (kind != 3) folder.Write("stores/EX1.txt", kStore);
  folder.Write(kFiles[kind], data + 1, size - 1);
  switch (kind) {
    case 0: Network(); break;
    case 1: Accounts(); break;
    case 2: Profiles(); Stores(); break;
    case 3: Stores(); PublicFolders(); break;
    case 4: PublicFolders(); break;
  }
  return 0;
}
