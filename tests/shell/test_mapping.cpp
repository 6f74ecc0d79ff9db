// TabName to table mapping over the whole vocabulary.
#include <map>
#include <set>

#include "ShellTestSupport.h"

namespace shelltest {
namespace {

struct Expect {
  const char* objectType;
  std::vector<std::pair<const char*, const char*>> pages;  // page caption, table
};

// The vocabulary with the table each page's rows live in (node text neither
// "Protocols" nor "Servers").
const std::vector<Expect>& Vocabulary() {
  static const std::vector<Expect> v = [] {
    std::vector<Expect> list = {
        {"Mailboxes", {{"Summary", "MailboxGeneral"}, {"General", "MailboxGeneral"},
                       {"Organization", "MailboxOrgnPhoneNotes"}, {"Phone/Notes", "MailboxOrgnPhoneNotes"},
                       {"Permissions", "MailboxPerm"}, {"Distribution Lists", "MailboxDLEMailAddr"},
                       {"E-Mail Addresses", "MailboxDLEMailAddr"}, {"Delivery Restrictions", "MailboxDelivRestr"},
                       {"Delivery Options", "MailboxDelivRestr"}, {"Protocols", "MailboxProtocols"},
                       {"Custom Attributes", "MailboxCustomAttr"}, {"Limits", "MailboxAdvanced"},
                       {"Advanced", "MailboxAdvanced"}}},
        {"Distribution Lists", {{"General", "DLGeneral"}, {"Permissions", "DLPerm"},
                                {"Distribution Lists", "DLDLEMailAddr"}, {"E-Mail Addresses", "DLDLEMailAddr"},
                                {"Delivery Restrictions", "DLDelivRestr"}, {"Custom Attributes", "DLCustomAttr"},
                                {"Advanced", "DLAdvanced"}}},
        {"Public Folders", {{"General", "PFGeneral"}, {"Permissions", "PFPerm"},
                            {"Distribution Lists", "DLDLEMailAddr"}, {"E-Mail Addresses", "PFDLEMailAddr"},
                            {"Limits", "PFAdvanced"}, {"Custom Attributes", "PFCustomAttr"}, {"Advanced", "PFAdvanced"}}},
        {"Custom Recipients", {{"Summary", "CRGeneral"}, {"General", "CRGeneral"}, {"Permissions", "CRPerm"},
                               {"Organization", "CROrgnPhoneNotes"}, {"Phone/Notes", "CROrgnPhoneNotes"},
                               {"Distribution Lists", "DLDLEMailAddr"}, {"E-Mail Addresses", "CRDLEMailAddr"},
                               {"Delivery Restrictions", "CRDelivRestr"}, {"Protocols", "CRProtocols"},
                               {"Custom Attributes", "CRCustomAttr"}, {"Advanced", "CRAdvanced"}}},
        {"HTTP", {{"General", "ProtocolGeneral"}, {"Permissions", "ProtocolPerm"},
                  {"Folder Shortcuts", "ProtocolMiscInfo"}, {"Advanced", "ProtocolAdvanced"}}},
        {"Server", {{"General", "ContainerInfo"}, {"Permissions", "ServerObjectsPerm"},
                    {"Diagnostics Logging", "DiagLogging"}}},
        {"Private Information Store", {{"General", "ServerPrivateISGeneral"}, {"Permissions", "ServerPrivateISPerm"},
                                       {"Mailbox Resources", "ServerPrivateISResources"},
                                       {"Diagnostics Logging", "DiagLogging"}}},
        {"Public Information Store", {{"General", "ServerPublicISGeneral"}, {"Instances", "ServerPublicISMiscInfo"},
                                      {"Permissions", "ServerPublicISPerm"}, {"Age Limits", "ServerPublicISMiscInfo"},
                                      {"E-Mail Addresses", "ServerPublicISMiscInfo"},
                                      {"Advanced", "ServerPublicISMiscInfo"}, {"Diagnostics Logging", "DiagLogging"},
                                      {"Public Folder Resources", "ServerPublicISResources"}}},
        {"Message Transfer Agent", {{"General", "ServerObjectsInfo"}, {"Permissions", "ServerObjectsPerm"},
                                    {"Diagnostics Logging", "DiagLogging"}}},
        {"System Attendant", {{"General", "ServerObjectsInfo"}, {"Permissions", "ServerObjectsPerm"},
                              {"E-Mail Addresses", "ServerObjectsInfo"}}},
        {"Internet Mail Connector", {{"General", "ConnectorGeneral"}, {"Permissions", "ConnectorPerm"},
                                     {"Connected Sites", "ConnectorMiscInfo"}, {"Address Space", "ConnectorMiscInfo"},
                                     {"Delivery Restrictions", "ConnectorDelivRestr"},
                                     {"Diagnostics Logging", "DiagLogging"}, {"Internet Mail", "ConnectorMiscInfo"},
                                     {"Routing", "ConnectorMiscInfo"}, {"Security", "ConnectorMiscInfo"},
                                     {"Connections", "ConnectorMiscInfo"}}},
        {"MS Mail Connector", {{"General", "ConnectorGeneral"}, {"Address Space", "ConnectorMiscInfo"},
                               {"Interchange", "ConnectorGeneral"}, {"Diagnostics Logging", "DiagLogging"},
                               {"Local Postoffice", "ConnectorMiscInfo"}, {"Connector MTAs", "ConnectorMiscInfo"}}},
        {"Site Connector", {{"General", "ConnectorGeneral"}, {"Permissions", "ConnectorPerm"},
                            {"Target Servers", "ConnectorMiscInfo"}, {"Address Space", "ConnectorMiscInfo"},
                            {"Override", "ConnectorMiscInfo"}}},
        {"Newsfeed", {{"General", "ConnectorNewsfeed"}, {"Messages", "ConnectorNewsfeed"},
                      {"Hosts", "ConnectorNewsfeed"}, {"Connection", "ConnectorNewsfeed"},
                      {"Security", "ConnectorNewsfeed"}}},
        {"Connector for cc:Mail", {{"General", "ConnectorGeneral"}, {"Permissions", "ConnectorPerm"},
                                   {"Post Office", "Connector"}, {"Address Space", "ConnectorMiscInfo"},
                                   {"Delivery Restrictions", "ConnectorDelivRestr"}}},
    };
    // The protocols, at site and server level.
    const std::pair<const char*, const char*> general = {"General", "ProtocolGeneral"},
                                              perm = {"Permissions", "ProtocolPerm"},
                                              auth = {"Authentication", "ProtocolAuthFormat"},
                                              anon = {"Anonymous", "ProtocolGeneral"},
                                              format = {"Message Format", "ProtocolAuthFormat"},
                                              idle = {"Idle Time-out", "ProtocolGeneral"};
    for (const char* t : {"IMAP4", "ServerIMAP4"}) list.push_back({t, {general, perm, auth, anon, format, idle}});
    for (const char* t : {"LDAP", "ServerLDAP"})
      list.push_back({t, {general, perm, auth, anon, {"Search", "ProtocolMiscInfo"}, {"Referrals", "ProtocolMiscInfo"},
                          idle}});
    for (const char* t : {"NNTP", "ServerNNTP"})
      list.push_back({t, {general, perm, {"Newsfeeds", "ProtocolMiscInfo"}, auth, format, idle, anon,
                          {"Control Messages", "ProtocolMiscInfo"}}});
    for (const char* t : {"POP3", "ServerPOP3"}) list.push_back({t, {general, perm, auth, format, idle}});
    for (const char* t : {"Container1", "Container2", "Protocols", "ServerProtocols"})
      list.push_back({t, {{"General", "ContainerInfo"}, {"Permissions", "ServerObjectsPerm"}}});
    return list;
  }();
  return v;
}

using Mapping = ShellTest;

TEST_F(Mapping, EveryTabNameOfTheVocabularyMapsToItsTable) {
  std::set<std::string> covered;
  for (const auto& e : Vocabulary())
    for (const auto& [page, table] : e.pages) {
      const std::string tab = std::string(e.objectType) + page;
      covered.insert(tab);
      EXPECT_EQ(GetTableNameFor(tab, "Recipients"), table) << tab;
    }
  for (const auto& row : DefaultColumnSets()) EXPECT_EQ(covered.count(row.tabName), 1u) << row.tabName;
}

TEST_F(Mapping, NodeTextDecidesLimitsAndAdvancedPages) {
  EXPECT_EQ(GetTableNameFor("HTTPAdvanced", "Protocols"), "ProtocolGeneral");
  EXPECT_EQ(GetTableNameFor("HTTPAdvanced", "Servers"), "ProtocolMiscInfo");
  EXPECT_EQ(GetTableNameFor("HTTPAdvanced", "EX1"), "ProtocolAdvanced");
  EXPECT_EQ(GetTableNameFor("MailboxesLimits", "Protocols"), "MailboxGeneral");
  EXPECT_EQ(GetTableNameFor("MailboxesAdvanced", "Servers"), "MailboxMiscInfo");
  EXPECT_EQ(GetTableNameFor("Public Information StoreAdvanced", "Public Information Store"), "ServerPublicISMiscInfo");
}

TEST_F(Mapping, OddTabNamesGiveWhatTheStepsProduce) {
  EXPECT_EQ(GetTableNameFor("mailboxesgeneral", ""), "");  // tests are case-sensitive
  EXPECT_EQ(GetTableNameFor("", ""), "");
  EXPECT_EQ(GetTableNameFor("Container1Something", ""), "");
  EXPECT_EQ(GetTableNameFor("Public FoldersReplicas", ""), "PFReplicas");
  EXPECT_EQ(GetTableNameFor("Public FoldersFolder Replication Status", ""), "PFFolder Replication Status");
  EXPECT_EQ(GetTableNameFor("Public FoldersReplication Schedule", ""), "PFReplication Schedule");
  EXPECT_EQ(GetTableNameFor("Private Information StoreLogons", ""), "ServerPrivateISResources");
  EXPECT_EQ(GetTableNameFor("IMAP4Unknown", ""), "Protocol");
}

TEST_F(Mapping, NodeTextComesFromTheCurrentOrTheCustomReportWindow) {
  FakeExchWindow w;
  w.SelectNode("Protocols", "o=Velmor/ou=Lakeside/cn=Configuration/cn=Protocols", 4, "Configuration");
  EXPECT_EQ(GetTableName("HTTPAdvanced"), "ProtocolAdvanced");  // no window open: no node text
  OpenExchWindowSlot(&w);
  EXPECT_EQ(GetTableName("HTTPAdvanced"), "ProtocolGeneral");
  EXPECT_EQ(gfrmCurrent, &w);

  FakeCustomReportWindow cr;
  cr.node.valid = true;
  cr.node.text = "Servers";
  gfrmCustomReport = &cr;
  gbCustomReport = true;
  EXPECT_EQ(GetTableName("HTTPAdvanced"), "ProtocolMiscInfo");
  gbCustomReport = false;
  EXPECT_EQ(GetTableName("HTTPAdvanced"), "ProtocolGeneral");
}

}  // namespace
}  // namespace shelltest
