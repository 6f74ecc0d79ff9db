// The stand-in classes of the providers library are found through the class
// registry, so a caller that never touched the library (the browse window's
// mail-session probe) can create them by ProgID.
#include <gtest/gtest.h>

#include <cstdlib>

#include "AcctMgmt.h"
#include "Cdo.h"
#include "ComFactory.h"
#include "TestHome.h"

using namespace velmo;

namespace {
struct ProvidersFolder {
  explicit ProvidersFolder(const std::filesystem::path& p) { ::setenv("VELMORCAST_PROVIDERS", p.c_str(), 1); }
  ~ProvidersFolder() { ::unsetenv("VELMORCAST_PROVIDERS"); }
};
}  // namespace

TEST(ProviderClasses, CreatedByProgIdFromTheRegistry) {
  test::TestHome home;
  ProvidersFolder folder(test::TestHome::SourceDir() / "sample" / "providers");
  auto regs = com::ReadRegistry(com::RegistryFile());
  int found = 0;
  for (auto& r : regs)
    if (r.progId == "MAPI.Session" || r.progId == "MSExchange.aclobject" || r.progId == "MSExchange.AcctMgmt") ++found;
  EXPECT_EQ(found, 3);
  EXPECT_NO_THROW(com::CreateObjectRaw("mapi.session"));
  EXPECT_NO_THROW(com::CreateObjectRaw("MSExchange.ACLObject"));
  auto acct = com::CreateObject<acct::IAcctMgmt>("MSExchange.AcctMgmt");
  std::string text = "S-1-5-21-1004336348-1177238915-682003330-1106", domain, login;
  acct->GetNameFromSid("", std::vector<uint8_t>(text.begin(), text.end()), domain, login);
  EXPECT_EQ(domain, "CORP");
  EXPECT_EQ(login, "jsmith");
}

TEST(ProviderClasses, NoInformationStoreBackendMeansNoMailClient) {
  test::TestHome home;
  ProvidersFolder folder(home.dir() / "no-providers-here");
  try {
    com::CreateObjectRaw("MAPI.Session");
    FAIL() << "a mail session without any profile";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Number(), Hr(0x80040154));
  }
}
