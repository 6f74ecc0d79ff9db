// Bind-error hints and the message built from one failure item or from a
// collector's list of them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "Ui.h"
#include "modExchConnect.h"

namespace {

const std::string kHeader = "Error occured while binding to the following item(s) : \r\n\r\n";
const std::string kNotOperationalHint =
    "\r\n\r\nPlease ensure the following : \r\n   - LDAP protocol is enabled at the Site/Server level.\r\n"
    "   - The server is operational.";
const std::string kClearTextHint = "\r\n\r\nPlease ensure Basic (Clear Text) is enabled at the Site/Server level.";

// Items as the collector builds them: kind, blanks, number, separator,
// description.
std::string Item(const std::string& kind, int32_t number, const std::string& description) {
  return kind + "@@    " + std::to_string(number) + "  @@   " + description;
}

}  // namespace

TEST(BindErrorHint, NumbersAndTheirAdvice) {
  EXPECT_EQ(GetBindErrorHint(-2147016646), kNotOperationalHint);  // 0x8007203A
  EXPECT_EQ(GetBindErrorHint(-2147024838), kNotOperationalHint);  // 0x8007003A
  EXPECT_EQ(GetBindErrorHint(-2147016663), kClearTextHint);       // 0x80072029
  for (int32_t n : {-2147023570, -2147024810})                    // 0x8007052E, 0x80070056
    EXPECT_NE(GetBindErrorHint(n).find("The supplied password is correct"), std::string::npos) << n;
  const std::string pathHint = GetBindErrorHint(-2147463168);  // 0x80005000
  EXPECT_EQ(pathHint.rfind("\r\n\r\nPlease ensure Windows NT Challenge/Response", 0), 0u);
  EXPECT_NE(pathHint.find("\r\n OR \r\n"), std::string::npos);
  for (int32_t n : {0, 1, -2147467259, -2147016656}) EXPECT_EQ(GetBindErrorHint(n), "") << n;
}

TEST(BindErrorMessage, OneItem) {
  EXPECT_EQ(BindErrorMessage(0, "Unable to connect to 'EX1'.@@-2147016646@@The server is not operational."),
            "Unable to connect to 'EX1'.\r\nThe server is not operational." + kNotOperationalHint);
  // Number 0 (nothing failed in the directory): the description ends it.
  EXPECT_EQ(BindErrorMessage(0, "Unable to connect to 'EX3'.@@0@@"), "Unable to connect to 'EX3'.\r\n");
  // A description with "@@" of its own is kept whole.
  EXPECT_EQ(BindErrorMessage(0, "X@@ -2147016663 @@a@@b"), "X\r\na@@b" + kClearTextHint);
  EXPECT_EQ(BindErrorMessage(0, ""), "");
  EXPECT_EQ(BindErrorMessage(2, "X@@0@@y"), "");
}

TEST(BindErrorMessage, ListsSkipEmptyItemsAndSeparateTheRest) {
  EXPECT_EQ(BindErrorMessage(1, "_"), "");
  EXPECT_EQ(BindErrorMessage(1, "___"), "");
  const std::string a = Item("Server object", -2147016646, "The server is not operational.");
  const std::string b = Item("Message Transfer Agent object", -2147016663, "Inappropriate authentication.");
  const std::string c = Item("Newsfeed object", 0, "No such object.");
  // Each item on a line of its own: one line break after the previous
  // item's hint (or, with no hint, its description), never a blank line.
  EXPECT_EQ(BindErrorMessage(1, "_" + a + "__" + b + "_" + c + "_" + a),
            kHeader + a + kNotOperationalHint + "\r\n" + b + kClearTextHint + "\r\n" + c + "\r\n" + a +
                kNotOperationalHint);
  // Blank lines only after the header and before each hint.
  const std::string listed = BindErrorMessage(1, c + "_" + c + "_" + b);
  size_t blank = 0;
  for (auto at = listed.find("\r\n\r\n"); at != std::string::npos; at = listed.find("\r\n\r\n", at + 1)) ++blank;
  EXPECT_EQ(blank, 2u) << listed;
}

// A description holding "_" split its item: the pieces without a number
// go back onto their item, separators included; a first piece without a
// number is shown on its own without a hint instead of hiding the rest.
TEST(BindErrorMessage, UnderscoreInsideADescription) {
  const std::string split = Item("Site Connector object", -2147016646, "Link EX1_to__EX10 is down");
  const std::string after = Item("Newsfeed object", 0, "");
  EXPECT_EQ(SplitBindErrorList("_" + split + "_" + after),
            (std::vector<std::string>{split, after}));
  EXPECT_EQ(BindErrorMessage(1, "_" + split), kHeader + split + kNotOperationalHint);

  EXPECT_EQ(SplitBindErrorList("stray text_" + after), (std::vector<std::string>{"stray text", after}));
  EXPECT_EQ(BindErrorMessage(1, "stray text"), kHeader + "stray text");

  auto ui = std::make_shared<velmo::ui::ScriptedUi>();
  auto previous = velmo::ui::SetUi(ui);
  ShowBindErrors(1, "_" + split);
  ShowBindErrors(1, "__");
  velmo::ui::SetUi(previous);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(ui->shown()[0].title, "Velmorine for Exchange Server (Velmorcast)");
  EXPECT_EQ(ui->shown()[0].buttons, velmo::ui::vbInformation);
}

TEST(ConnectAsUser, DomainAndNameBecomeADistinguishedName) {
  std::string dn;
  EXPECT_TRUE(ConnectAsDistinguishedName("CORP\\admin", dn));
  EXPECT_EQ(dn, "dc=CORP,cn=admin");
  EXPECT_TRUE(ConnectAsDistinguishedName("CORP\\jsmith\\extra", dn));
  EXPECT_EQ(dn, "dc=CORP,cn=jsmith");
  for (const char* bad : {"admin", "", "\\admin", "CORP\\", "\\"}) {
    dn = "unchanged";
    EXPECT_FALSE(ConnectAsDistinguishedName(bad, dn)) << bad;
    EXPECT_EQ(dn, "unchanged");
  }
}
