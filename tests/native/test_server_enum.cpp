// Domains, Exchange servers and the service probe.
#include "Directory.h"
#include "Exch55.h"
#include "NativeTestSupport.h"
#include "NetServers.h"

using namespace native_test;

namespace {

const char* kNetwork =
    "local\tCORP\tWKS1\n"
    "domain\tCORP\n"
    "domain\tLAB\n"
    "server\tCORP\tEX1\t0x100B\tMSExchangeDX,MSExchangeMTA,MSExchangeSA\n"
    "server\tCORP\tWKS1\t0x1003\t-\n"
    "server\tCORP\tEX2\t0x1013\tMSExchangeMTA\n"
    "server\tCORP\tFILE1\t0x9003\tLanmanServer\n"
    "server\tCORP\tEX10\t0x9003\tmsexchangesa\n"
    "server\tCORP\tLOCKED\t0x9003\tMSExchangeSA\tdenied\n"
    "server\tCORP\tGONE\t0x9003\tMSExchangeSA\tunreachable\n"
    "server\tLAB\tLABEX\t0x9003\tMSExchangeDX\n"
    "error\tservers\tLAB\t234\n";

class ServerEnum : public NativeTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(velmo::net::OpenServiceHandleCount(), 0u);
    NativeTest::TearDown();
  }
};

}  // namespace

TEST_F(ServerEnum, DomainsAndTheirExchangeServers) {
  WriteProvider("network.txt", kNetwork);
  int32_t count = -1;
  std::vector<std::string> names;
  ASSERT_EQ(exch_->GetDomains(count, names), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(names, (std::vector<std::string>{"CORP", "LAB"}));

  // Exchange servers in enumeration order, without backslashes; servers
  // without the three services, refusing or unreachable ones left out.
  ASSERT_EQ(exch_->GetExchangeServers("corp", count, names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"EX1", "EX2", "EX10"}));
  EXPECT_EQ(count, 3);
  // "" means this machine's domain; more data (234) still lists.
  ASSERT_EQ(exch_->GetExchangeServers("", count, names), 0);
  EXPECT_EQ(count, 3);
  ASSERT_EQ(exch_->GetExchangeServers("LAB", count, names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"LABEX"}));

  // A domain without any Exchange server.
  WriteProvider("network.txt", "server\tQUIET\tFS\t0x9003\tLanmanServer\n");
  ASSERT_EQ(exch_->GetExchangeServers("QUIET", count, names), 0);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(names.empty());
}

TEST_F(ServerEnum, ProbingOneMachine) {
  WriteProvider("network.txt", kNetwork);
  int32_t is = -1;
  EXPECT_EQ(exch_->IsExchServer("EX10", is), 0);
  EXPECT_EQ(is, 1);
  EXPECT_EQ(exch_->IsExchServer("\\\\ex2", is), 0);
  EXPECT_EQ(is, 1);
  EXPECT_EQ(exch_->IsExchServer("FILE1", is), 0);
  EXPECT_EQ(is, 0);
  EXPECT_EQ(exch_->IsExchServer("", is), 0);  // this machine: WKS1
  EXPECT_EQ(is, 0);

  is = -1;
  EXPECT_EQ(static_cast<uint32_t>(exch_->IsExchServer("LOCKED", is)), 0x80040005u);
  EXPECT_EQ(is, 0);
  EXPECT_EQ(exch_->GetErrorInfo().description, "Access is denied.");
  EXPECT_EQ(exch_->GetErrorInfo().interfaceId, "IExch55");
  EXPECT_EQ(static_cast<uint32_t>(exch_->IsExchServer("GONE", is)), 0x80040000u | 1722u);
  EXPECT_EQ(exch_->GetErrorInfo().description, "The RPC server is unavailable.");
}

TEST_F(ServerEnum, EnumerationFailuresLeaveTheOutputs) {
  int32_t count = 7;
  std::vector<std::string> names = {"kept"};
  // No server list at all: no browser answers.
  EXPECT_EQ(static_cast<uint32_t>(exch_->GetDomains(count, names)), 0x80040000u | 6118u);
  EXPECT_EQ(exch_->GetErrorInfo().description, "The list of servers for this workgroup is not currently available");
  EXPECT_EQ(count, 7);
  EXPECT_EQ(names, std::vector<std::string>{"kept"});

  WriteProvider("network.txt", "domain\tCORP\nerror\tservers\tCORP\t2351\nerror\tdomains\t53\n");
  EXPECT_EQ(static_cast<uint32_t>(exch_->GetExchangeServers("CORP", count, names)), 0x80040000u | 2351u);
  EXPECT_EQ(exch_->GetErrorInfo().description, "This Computer Name is Invalid");
  EXPECT_EQ(static_cast<uint32_t>(exch_->GetDomains(count, names)), 0x80040000u | 53u);
  EXPECT_EQ(exch_->GetErrorInfo().description, "The network path was not found.");
  EXPECT_EQ(static_cast<uint32_t>(exch_->GetExchangeServers("ELSEWHERE", count, names)), 0x80040000u | 6118u);
  EXPECT_EQ(count, 7);

  // A network that lists no domain: nothing to hand back, outputs untouched.
  WriteProvider("network.txt", "local\t\n");
  EXPECT_EQ(exch_->GetDomains(count, names), 0);
  EXPECT_EQ(count, 7);
}

TEST(SystemErrorTexts, KnownCodesAndTheRest) {
  using velmorccom::FormatSystemError;
  EXPECT_EQ(FormatSystemError(5), "Access is denied.");
  EXPECT_EQ(FormatSystemError(53), "The network path was not found.");
  EXPECT_EQ(FormatSystemError(1722), "The RPC server is unavailable.");
  EXPECT_EQ(FormatSystemError(1332), "No mapping between account names and security IDs was done.");
  EXPECT_EQ(FormatSystemError(2351), "This Computer Name is Invalid");
  EXPECT_FALSE(FormatSystemError(0x80040111).empty());
  EXPECT_FALSE(FormatSystemError(0x800B0001).empty());
  EXPECT_EQ(FormatSystemError(12345), "");
  EXPECT_EQ(FormatSystemError(0x80040113), "");
}

TEST_F(ServerEnum, WinNTNamespaceListsDomainsAndComputers) {
  WriteProvider("network.txt", kNetwork);
  auto names = [](const std::vector<velmo::ads::DirObjectPtr>& objects) {
    std::vector<std::string> out;
    for (auto& o : objects) out.push_back(o->Name());
    return out;
  };
  auto root = velmo::ads::GetObject("WinNT:");
  EXPECT_EQ(names(root->Children()), (std::vector<std::string>{"CORP", "LAB"}));
  auto lab = velmo::ads::GetObject("WinNT://lab");
  EXPECT_EQ(lab->Name(), "LAB");
  EXPECT_EQ(lab->Class(), "Domain");
  EXPECT_EQ(names(lab->Children()), (std::vector<std::string>{"LABEX"}));
  EXPECT_EQ(velmo::ads::GetObject("WinNT://CORP/ex10")->ADsPath(), "WinNT://CORP/EX10");

  auto expectError = [](const std::string& path, uint32_t number) {
    try {
      velmo::ads::GetObject(path)->Children();
      ADD_FAILURE() << path;
    } catch (const velmo::ComError& e) {
      EXPECT_EQ(static_cast<uint32_t>(e.Number()), number) << path;
    }
  };
  expectError("WinNT://NOWHERE", 0x8007054Bu);
  expectError("WinNT://CORP/NOBODY", 0x80070035u);
  std::filesystem::remove(providers_ / "network.txt");
  expectError("WinNT:", 0x800717E6u);
}
