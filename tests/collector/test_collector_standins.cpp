// The account-management and mail-session stand-ins the collector creates,
// on their own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "AcctMgmt.h"
#include "Cdo.h"
#include "ComFactory.h"
#include "SecurityDescriptor.h"
#include "TestHome.h"

namespace {

class StandIns : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("VELMORCAST_PROVIDERS", (velmo::test::TestHome::SourceDir() / "sample" / "providers").c_str(), 1);
    velmo::acct::RegisterAcctMgmt();
    velmo::cdo::RegisterCdo();
  }
  void TearDown() override { ::unsetenv("VELMORCAST_PROVIDERS"); }
};

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace

TEST_F(StandIns, AccountNamesFromBinaryOrTextSidsAndNothingCarriedOver) {
  auto acct = velmo::com::CreateObject<velmo::acct::IAcctMgmt>("msexchange.acctmgmt");
  std::string domain, login;
  acct->GetNameFromSid("", *velmo::sec::SidFromString("S-1-5-21-1004336348-1177238915-682003330-1107"), domain, login);
  EXPECT_EQ(domain + "\\" + login, "CORP\\soneil");
  // An account the domain does not know: both names empty, not the last ones.
  acct->GetNameFromSid("", Bytes("S-1-5-21-1004336348-1177238915-682003330-1999"), domain, login);
  EXPECT_EQ(domain, "");
  EXPECT_EQ(login, "");
  EXPECT_THROW(acct->GetNameFromSid("", {1, 2, 3}, domain, login), velmo::ComError);
}

TEST_F(StandIns, SessionNeedsALogonAndFindsTheHomeServersPublicStore) {
  auto session = velmo::com::CreateObject<velmo::cdo::ISession>("MAPI.Session");
  EXPECT_THROW(session->GetInfoStores(), velmo::ComError);
  session->Logon(std::string("ex2 profile"), std::nullopt, false, true, std::nullopt);
  // EX2 has no public store: its only store has no public-folder root.
  auto stores = session->GetInfoStores();
  ASSERT_EQ(stores->Count(), 1);
  EXPECT_THROW(stores->Item(1)->Fields(velmo::cdo::PR_IPM_PUBLIC_FOLDERS_ENTRYID), velmo::ComError);
  session->Logoff();

  session->Logon(std::string("EX1 Profile"), std::nullopt, false, true, std::nullopt);
  auto store = session->GetInfoStores()->Item(1);
  auto top = session->GetFolder(store->Fields(velmo::cdo::PR_IPM_PUBLIC_FOLDERS_ENTRYID), store->ID())->GetFolders();
  ASSERT_EQ(top->Count(), 4);  // FAQ lies below Support
  EXPECT_EQ(top->Item("sales/europe")->Name(), "Sales/Europe");
  EXPECT_THROW(top->Item("FAQ"), velmo::ComError);

  auto acl = velmo::com::CreateObject<velmo::cdo::IAclObject>("MSExchange.ACLObject");
  EXPECT_THROW(acl->GetACEs(), velmo::ComError);  // no folder given yet
}
