// Every configuration method when the set-up fails: its own trace lines
// around the set-up's, the "FALSE" line, an empty bind-error text, no rows
// and no registry handle left open.
#include "ConfigKit.h"

using namespace config_test;

namespace {

class FailedSetUp : public ::testing::Test {
 protected:
  void SetUp() override {
    hosts_ = kit_.dir() / "hosts.conf";
    std::ofstream(hosts_) << "NOWHERE ldap://127.0.0.1:1\n";
    ::setenv("VELMORCAST_LDAP_HOSTS", hosts_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("VELMORCAST_LDAP_HOSTS"); }
  Kit kit_;
  fs::path hosts_;
};

using Method = void (_Exch55Info::*)(const std::string&, const std::string&, const std::string&, std::string*);

}  // namespace

TEST_F(FailedSetUp, EveryConfigurationMethodStopsAtOnce) {
  const std::vector<std::pair<std::string, Method>> methods = {
      {"GetProtocolInfo", &_Exch55Info::GetProtocolInfo},
      {"GetServerProtocolsInfo", &_Exch55Info::GetServerProtocolsInfo},
      {"GetPrivateISInfo", &_Exch55Info::GetPrivateISInfo},
      {"GetPublicISInfo", &_Exch55Info::GetPublicISInfo},
      {"GetServerInfo", &_Exch55Info::GetServerInfo},
      {"GetConnectorInfo", &_Exch55Info::GetConnectorInfo}};
  const size_t handles = velmo::reg::OpenHandleCount();
  auto collector = kit_.NewCollector();
  for (const auto& [name, method] : methods) {
    const size_t before = kit_.LogLines().size();
    std::string err = "left over";
    ((*collector).*method)("NOWHERE", "dc=CORP,cn=jsmith", "pw-secret", &err);
    EXPECT_EQ(err, "") << name;
    auto contexts = kit_.Contexts();
    ASSERT_EQ(contexts.size(), before + 6) << name;
    EXPECT_EQ(Texts(contexts.begin() + static_cast<long>(before), contexts.end()),
              (Texts{name + " Start", "InitializeVariables Start",
                     "InitializeVariables - Binding to the Server 'LDAP://NOWHERE' using credential 'dc=CORP,cn=jsmith'",
                     "InitializeVariables End", name, name + " End"}))
        << name;
    auto lines = kit_.LogLines();
    EXPECT_EQ(Kit::Fields(lines[before + 4])[1], "FALSE");
    EXPECT_EQ(Kit::Fields(lines[before + 4])[2], "InitializeVariables Function Call Failure");
    // The user name was never extended.
    EXPECT_EQ(Kit::Fields(lines.back())[2], "NOWHERE-dc=CORP,cn=jsmith-") << name;
    // Nothing without a place to write to.
    ((*collector).*method)("NOWHERE", "", "", nullptr);
  }
  for (const auto& l : kit_.LogLines()) EXPECT_EQ(l.find("pw-secret"), std::string::npos) << l;
  EXPECT_EQ(kit_.ui().shown().size(), 12u);
  for (const auto& table : {"ProtocolGeneral", "ServerPrivateISGeneral", "ServerPublicISGeneral", "ServerObjectsInfo",
                            "ContainerInfo", "ConnectorGeneral", "DiagLogging"})
    EXPECT_TRUE(kit_.Rows(table).empty()) << table;
  EXPECT_EQ(velmo::reg::OpenHandleCount(), handles);
}
