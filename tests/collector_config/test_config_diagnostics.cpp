// Diagnostics logging and the System Attendant's setting from registry
// exports written for one test: keys that cannot be opened, names longer
// than any fixed buffer, values of every type, missing keys and a registry
// that cannot be reached.
#include "ConfigKit.h"

using namespace config_test;

namespace {

const std::string kServices = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
const std::string kIsDiagnostics = kServices + "MSExchangeIS\\Diagnostics";

class Diagnostics : public SampleTest {
 protected:
  // Replaces a server's registry export with these lines.
  void Registry(const std::string& server, const std::string& body) {
    std::ofstream(kit_.registryFile(server), std::ios::trunc | std::ios::binary) << "REGEDIT4\r\n\r\n" << body;
  }
  // Services, category and level of every DiagLogging row, in order.
  std::vector<Texts> Rows() {
    std::vector<Texts> out;
    for (const auto& r : kit_.Rows("DiagLogging")) out.push_back(Slice(r, 4));
    return out;
  }
};

}  // namespace

TEST_F(Diagnostics, AProtocolsKeyThatCannotBeOpenedLosesOnlyItsOwnRows) {
  // The protocols' key name begins with a blank: the trimmed name that is
  // opened does not exist.
  Registry("EX1", kIsDiagnostics + "\\9000 Private]\r\n\"4 Logons\"=dword:00000001\r\n\r\n" + kIsDiagnostics +
                      "\\ 9003 Internet Protocols\\1 IMAP4]\r\n\"2 Authentication\"=dword:00000003\r\n\r\n" +
                      kIsDiagnostics + "\\9005 Views]\r\n\"1 General\"=dword:00000005\r\n");
  kit_.NewCollector()->GetPrivateISInfo("EX1", "", "");
  EXPECT_EQ(Rows(), (std::vector<Texts>{{"MSExchangeIS - Private", "Logons", "Minimum"},
                                        {"MSExchangeIS - Views", "General", "Maximum"}}));
  EXPECT_EQ(kit_.LinesOf("RegOpenKeyEx Error in GetDataFromRegistry").size(), 1u);
}

TEST_F(Diagnostics, LongNamesAndEveryValueTypeKeepTheWalkGoing) {
  const std::string longName(2100, 'V');
  Registry("EX1", kIsDiagnostics + "\\9010 " + std::string(300, 'C') +
                      "]\r\n\"1 None\"=dword:00000000\r\n\"2 Two\"=dword:00000002\r\n\"3 Text\"=\"5\"\r\n"
                      "\"4 Binary\"=hex:05,00,00,00\r\n\"5 Typed\"=hex(4):03,00,00,00\r\n\"6 Large\"=dword:ffffffff\r\n"
                      "\"7 " + longName + "\"=dword:00000005\r\n\"NoNumber\"=dword:00000001\r\n"
                      "\"  9   Padded  \"=dword:00000003\r\n");
  kit_.NewCollector()->GetPrivateISInfo("EX1", "", "");
  const std::string services = "MSExchangeIS - " + std::string(300, 'C');
  EXPECT_EQ(Rows(), (std::vector<Texts>{{services, "None", "None"},
                                        {services, "Two", ""},
                                        {services, "Text", ""},
                                        {services, "Binary", ""},
                                        {services, "Typed", "Medium"},
                                        {services, "Large", ""},
                                        {services, longName, "Maximum"},
                                        {services, "NoNumber", "Minimum"},
                                        {services, "9   Padded", "Medium"}}));
}

TEST_F(Diagnostics, MissingKeysAndAnUnreachableRegistry) {
  // No store diagnostics, an MTA key without values, no System Attendant
  // parameters; interval 30 on EX1; no registry at all for EX10.
  Registry("EX2", kServices + "MSExchangeMTA\\Diagnostics]\r\n\r\n" + kServices + "MSExchangeSA]\r\n");
  Registry("EX1", kServices + "MSExchangeSA\\Parameters]\r\n\"OldLogsCleaningInterval(Days)\"=dword:0000001e\r\n");
  fs::remove(kit_.registryFile("EX10"));
  kit_.NewCollector()->GetPrivateISInfo("EX2", "", "");
  for (const auto& server : {"EX2", "EX1", "EX10"}) {
    std::string err;
    kit_.NewCollector()->GetServerInfo(server, "", "", &err);
    EXPECT_EQ(err, "___") << server;
  }
  EXPECT_TRUE(kit_.Rows("DiagLogging").empty());
  EXPECT_EQ(Column(kit_.RowsWhere("ServerObjectsInfo", "Email Address Type", "SMTP"), 12),
            (Texts{"", "Remove log files older than 30 days", ""}));
  // EX2's store key and System Attendant parameters are reported; the
  // MTA keys are the writer's own matter and stay silent; EX10's registry
  // cannot be reached, once for the System Attendant, once for the MTA.
  auto open = kit_.LinesOf("RegOpenKeyEx Error in GetDataFromRegistry");
  ASSERT_EQ(open.size(), 2u);
  EXPECT_EQ(Texts({open[0][1], open[0][2]}), (Texts{"2", "The system cannot find the file specified."}));
  auto connect = kit_.LinesOf("RegConnectRegistry Error in GetDataFromRegistry");
  ASSERT_EQ(connect.size(), 2u);
  EXPECT_EQ(Texts({connect[0][1], connect[0][2]}), (Texts{"53", "The network path was not found."}));
  // The rows of the objects themselves are all there.
  EXPECT_EQ(kit_.Rows("ServerPrivateISGeneral").size(), 1u);
  EXPECT_EQ(kit_.Rows("ServerObjectsInfo").size(), 3u + 5u + 5u);
}
