// The site tree on a bare tree widget, as the custom report window, the
// report designer and Export Plus use it: nodes, keys, images, recipient
// containers read from the sample directory, and the failed-bind road.
#include <gtest/gtest.h>

#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <string>
#include <tuple>
#include <vector>

#include "BrowseKit.h"
#include "ComError.h"
#include "Directory.h"
#include "SampleDirectory.h"
#include "TestHome.h"
#include "modExchTree.h"

using namespace browse_test;

namespace {

// key, text, image, parent's key: every node in tree order.
using Row = std::tuple<std::string, std::string, std::string, std::string>;

std::vector<Row> Rows(const QTreeWidget& tree) {
  std::vector<Row> rows;
  for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&tree)); *it; ++it)
    rows.emplace_back(NodeKey(*it), NodeText(*it), NodeImage(*it), NodeKey((*it)->parent()));
  return rows;
}

// Nodes 1 to 13 for one server.
std::vector<Row> FixedPart(const std::string& org, const std::string& site, const std::string& server) {
  const std::string o = "o=" + org, s = o + "/ou=" + site, c = s + "/cn=Configuration", v = c + "/cn=Servers",
                    x = v + "/cn=" + server;
  return {{o, org, "Organization", ""},
          {s, site, "Site", o},
          {c, "Configuration", "Configuration", s},
          {c + "/cn=Connections", "Connections", "Connections", c},
          {c + "/cn=Protocols", "Protocols", "Protocols", c},
          {v, "Servers", "Servers", c},
          {x, server, "Server", v},
          {x + "/cn=Microsoft Private MDB", "Private Information Store", "PrivateIS", x},
          {x + "/cn=Protocols", "Protocols", "Protocols", x},
          {x + "/cn=Microsoft Public MDB", "Public Information Store", "PublicIS", x},
          {x + "/cn=Server Recipients", "Server Recipients", "Recipients", x},
          {x + "/cn=Microsoft MTA", "Message Transfer Agent", "MTA", x},
          {x + "/cn=Microsoft System Attendant", "System Attendant", "SA", x}};
}

class SiteTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
  }
  std::string ErrorLog() const { return velmo::test::TestHome::Slurp(home / "VelmorcastErrorLog.log"); }

  struct AppFirst {
    AppFirst() { App(); }
  } appFirst;  // the application exists before the tree widget
  velmo::test::TestHome home;
  velmo::test::UseSampleDirectory directory;
  QTreeWidget tree;
};

}  // namespace

// EX10's site comes first in the directory and EX1's second; each tree
// holds its own site's containers, "cn=Configuration" skipped without
// using a placeholder number.
TEST_F(SiteTreeTest, EachServerGetsItsSiteAndItsRecipientContainers) {
  BuildTree(tree, 0, "Velmor", "Lakeside", "EX1", "", "");
  auto expected = FixedPart("Velmor", "Lakeside", "EX1");
  expected.emplace_back(kLakeRecipients, "Recipients", "Recipients", "o=Velmor/ou=Lakeside");
  expected.emplace_back("Childnodetext1", "Childnodetext", "Recipients", kLakeRecipients);
  EXPECT_EQ(Rows(tree), expected);
  EXPECT_EQ(tree.currentItem(), tree.topLevelItem(0));
  EXPECT_TRUE(IsFirstTreeNode(tree.topLevelItem(0)));
  for (const char* key : {"o=Velmor", "o=Velmor/ou=Lakeside", "o=Velmor/ou=Lakeside/cn=Configuration"})
    EXPECT_TRUE(FindTreeNode(tree, key)->isExpanded()) << key;
  EXPECT_TRUE(FindTreeNode(tree, kEX1)->isExpanded());

  QTreeWidget hilltop;
  BuildTree(hilltop, 3, "Velmor", "Hilltop", "EX10", "", "");
  expected = FixedPart("Velmor", "Hilltop", "EX10");
  expected.emplace_back("o=Velmor/ou=Hilltop/cn=Recipients", "Recipients", "Recipients", "o=Velmor/ou=Hilltop");
  expected.emplace_back("Childnodetext1", "Childnodetext", "Recipients", "o=Velmor/ou=Hilltop/cn=Recipients");
  EXPECT_EQ(Rows(hilltop), expected);
}

TEST_F(SiteTreeTest, TemplateModeReadsNoDirectoryAndKeysAreUnique) {
  BuildTree(tree, 2, "Organization", "Site", "Server", "UserName", "Password");
  auto expected = FixedPart("Organization", "Site", "Server");
  expected.emplace_back("o=Organization/ou=Site/Recipients", "Recipients", "Recipients", "o=Organization/ou=Site");
  EXPECT_EQ(Rows(tree), expected);
  EXPECT_TRUE(ErrorLog().empty());

  // A second branch of the same organisation is refused as the tree control
  // refuses a key it holds already.
  try {
    BuildTree(tree, 2, "Organization", "Site", "Server", "", "");
    FAIL() << "a duplicate key was accepted";
  } catch (const velmo::ComError& e) {
    EXPECT_EQ(e.Number(), velmo::Hr(0x800A8B12));
  }
}

TEST_F(SiteTreeTest, FailedSiteBindLeavesTheFixedNodesAndOneLogLine) {
  BuildTree(tree, 1, "Velmor", "Nowhere", "EX1", "", "");
  EXPECT_EQ(Rows(tree), FixedPart("Velmor", "Nowhere", "EX1"));
  EXPECT_NE(ErrorLog().find("BuildTree - Getting Recipients containerLDAP://EX1/ou=Nowhere,o=Velmor"),
            std::string::npos);

  QTreeWidget wrongPassword;
  BuildTree(wrongPassword, 0, "Velmor", "Lakeside", "EX1", "dc=CORP,cn=Administrator", "wrong");
  EXPECT_EQ(Rows(wrongPassword).size(), 13u);
}

// A directory that refuses anonymous binds shows the recipient containers
// only to the Connect As credentials; a password without a user name is
// the current logon.
TEST_F(SiteTreeTest, RecipientContainersAreReadWithTheConnectAsCredentials) {
  velmo::test::PrivateSlapd closed("--no-anonymous");
  velmo::test::UseSampleDirectory useClosed(closed.hostsFile());

  BuildTree(tree, 0, "Velmor", "Lakeside", "EX1", "dc=CORP,cn=Administrator", "secret");
  ASSERT_NE(FindTreeNode(tree, kLakeRecipients), nullptr);

  QTreeWidget anonymous;
  BuildTree(anonymous, 0, "Velmor", "Lakeside", "EX1", "", "secret");
  EXPECT_EQ(Rows(anonymous).size(), 13u);
}

// A container whose name the directory writes with escapes shows the name
// a person reads; its key keeps the directory's form, which binds.
TEST_F(SiteTreeTest, EscapedContainerNameIsShownDecodedAndKeyedAsWritten) {
  velmo::test::PrivateSlapd odd(velmo::test::OddNamesOption());
  velmo::test::UseSampleDirectory useOdd(odd.hostsFile());
  for (short mode : {0, 1, 3}) {
    QTreeWidget t;
    BuildTree(t, mode, "Velmor", "Lakeside", "EX1", "", "");
    const QTreeWidgetItem* node = FindTreeNode(t, "o=Velmor/ou=Lakeside/" + velmo::test::kOddRdn);
    ASSERT_NE(node, nullptr) << mode;
    EXPECT_EQ(NodeText(node), velmo::test::kOddName) << mode;
  }
  EXPECT_NO_THROW(velmo::ads::GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/" + velmo::test::kOddRdn));
}
