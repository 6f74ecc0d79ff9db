// Diagnostics logging and the System Attendant's setting from registry
// exports written for one test: keys that cannot be opened, names longer
// than any fixed buffer, values of every type, empty keys.
#include "ConfigKit.h"

using namespace config_test;

namespace {

const std::string kServices = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
const std::string kIsDiagnostics = kServices + "MSExchangeIS\\Diagnostics";
const std::string kEx1Private = kLake + "/cn=Configuration/cn=Servers/cn=EX1/cn=Microsoft Private MDB";

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
  std::string err;
  kit_.NewCollector()->GetPrivateISInfo("EX1", "", "", &err);
  EXPECT_EQ(err, "");
  EXPECT_EQ(Rows(), (std::vector<Texts>{{"MSExchangeIS - Private", "Logons", "Minimum"},
                                        {"MSExchangeIS - Views", "General", "Maximum"}}));
  EXPECT_EQ(kit_.LinesOf("RegOpenKeyEx Error in GetDataFromRegistry").size(), 1u);
}

TEST_F(Diagnostics, LongNamesAndEveryValueTypeKeepTheWalkGoing) {
  const std::string longCategory = "9010 " + std::string(300, 'C');
  const std::string longValue = "7 " + std::string(2100, 'V');
  Registry("EX1", kIsDiagnostics + "\\" + longCategory +
                      "]\r\n"
                      "\"1 None\"=dword:00000000\r\n"
                      "\"2 Two\"=dword:00000002\r\n"
                      "\"3 Text\"=\"5\"\r\n"
                      "\"4 Binary\"=hex:05,00,00,00\r\n"
                      "\"5 Typed\"=hex(4):03,00,00,00\r\n"
                      "\"6 Large\"=dword:ffffffff\r\n"
                      "\"" +
                      longValue +
                      "\"=dword:00000005\r\n"
                      "\"NoNumber\"=dword:00000001\r\n"
                      "\"  9   Padded  \"=dword:00000003\r\n");
  kit_.NewCollector()->GetPrivateISInfo("EX1", "", "");
  const std::string services = "MSExchangeIS - " + std::string(300, 'C');
  EXPECT_EQ(Rows(), (std::vector<Texts>{{services, "None", "None"},
                                        {services, "Two", ""},
                                        {services, "Text", ""},
                                        {services, "Binary", ""},
                                        {services, "Typed", "Medium"},
                                        {services, "Large", ""},
                                        {services, std::string(2100, 'V'), "Maximum"},
                                        {services, "NoNumber", "Minimum"},
                                        {services, "9   Padded", "Medium"}}));
  for (const auto& r : kit_.Rows("DiagLogging"))
    EXPECT_EQ(Slice(r, 0, 4), (Texts{"EX1", kEx1Private, "Private Information Store", "Microsoft Private MDB"}));
}

TEST_F(Diagnostics, MissingKeysGiveNoRows) {
  // No store diagnostics, an MTA key without values, no System Attendant
  // parameters.
  Registry("EX2", kServices + "MSExchangeMTA\\Diagnostics]\r\n\r\n" + kServices + "MSExchangeSA]\r\n");
  kit_.NewCollector()->GetPrivateISInfo("EX2", "", "");
  std::string err;
  kit_.NewCollector()->GetServerInfo("EX2", "", "", &err);
  EXPECT_EQ(err, "___");
  EXPECT_TRUE(kit_.Rows("DiagLogging").empty());
  // The store's key and the System Attendant's parameters are each
  // reported once; the MTA's empty key is not a failure.
  auto lines = kit_.LinesOf("RegOpenKeyEx Error in GetDataFromRegistry");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0][1], "2");
  EXPECT_EQ(lines[0][2], "The system cannot find the file specified.");
  // Without its parameters the System Attendant's cleaning column is empty.
  auto sa = kit_.RowsWhere("ServerObjectsInfo", "Directory Name", "Microsoft System Attendant");
  ASSERT_EQ(sa.size(), 2u);
  EXPECT_EQ(sa[0][12].Text(), "");
}

TEST_F(Diagnostics, CleaningIntervalTexts) {
  Registry("EX1", kServices + "MSExchangeSA\\Parameters]\r\n\"OldLogsCleaningInterval(Days)\"=dword:0000001e\r\n");
  Registry("EX2", kServices + "MSExchangeSA\\Parameters]\r\n\"OldLogsCleaningInterval(Days)\"=\"7\"\r\n");
  kit_.NewCollector()->GetServerInfo("EX1", "", "");
  kit_.NewCollector()->GetServerInfo("EX2", "", "");
  auto sa = kit_.RowsWhere("ServerObjectsInfo", "Directory Name", "Microsoft System Attendant");
  ASSERT_EQ(sa.size(), 6u);
  EXPECT_EQ(sa[0][12].Text(), "Remove log files older than 30 days");
  // An interval that is not a number keeps the old logs.
  EXPECT_EQ(sa[5][12].Text(), "Do not remove old log files");
}
