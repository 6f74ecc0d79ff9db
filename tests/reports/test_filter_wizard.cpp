// The filter wizard on EX1's mailbox general page: values offered, the
// editing buttons, OK storing the exact filter and refilling the grid,
// reopening, the keys, the refusals and a save that fails.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

#include "FilterItem.h"
#include "ReportsKit.h"
#include "frmFilterWizard.h"

using namespace reports_test;

namespace {

class FilterWizardTest : public ReportsTest {
 protected:
  void Choose(QComboBox* box, const std::string& text) {
    const int i = box->findText(QString::fromStdString(text));
    ASSERT_GE(i, 0) << text;
    box->setCurrentIndex(i);
    if (box->objectName() == "cbField") emit box->activated(i);
  }
  void Press(frmFilterWizard& w, int button, int row) {
    w.lbFilter->setCurrentRow(row);
    w.tbFilter->findChild<QAction*>(QString("tbFilter%1").arg(button))->trigger();
  }
  static std::vector<std::string> Items(QComboBox* box) {
    std::vector<std::string> out;
    for (int i = 0; i < box->count(); ++i) out.push_back(box->itemText(i).toStdString());
    return out;
  }
  long MessagesSaying(const std::string& text) {
    long n = 0;
    for (const auto& s : ui->shown()) n += s.kind == "MsgBox" && s.prompt == text;
    return n;
  }
};

}  // namespace

TEST_F(FilterWizardTest, BuildsStoresAndAppliesAFilterWhateverTheValuesHold) {
  frmExch* w = OpenMailboxesGeneral();
  AddMailbox("Rock AND Roll", "rock");
  AddMailbox("Paren (x", "paren");
  AddMailbox("Pipe|Name", "pipe");
  AddMailbox("Maria Müller", "mmuller");  // as a sub-container's mailbox would read
  AddMailbox("Åse Ødegård", "aodegard");

  {
    frmFilterWizard wiz(main);
    wiz.Form_Load();
    wiz.show();
    Pump();
    EXPECT_EQ(Items(wiz.cbOperator), (std::vector<std::string>{"=", "<>"}));
    EXPECT_EQ(Items(wiz.cbField).front(), "Display Name");
    EXPECT_EQ(wiz.cmdAdd->text().toStdString(), "&Add To Filter");
    EXPECT_FALSE(wiz.cmdORToFilter->isEnabled());
    const auto values = Items(wiz.cbData);
    for (const char* v : {"Sean O'Neil", "Maria Müller", "Åse Ødegård", "Rock AND Roll", "Paren (x"})
      EXPECT_NE(std::find(values.begin(), values.end(), v), values.end()) << v;
    EXPECT_EQ(std::find(values.begin(), values.end(), "Pipe|Name"), values.end());  // would split the row

    Choose(wiz.cbData, "Sean O'Neil");
    wiz.cmdAdd->click();
    EXPECT_EQ(wiz.cmdAdd->text().toStdString(), "'&AND' To Filter");
    EXPECT_TRUE(wiz.cmdORToFilter->isEnabled());
    Choose(wiz.cbData, "Rock AND Roll");
    wiz.cmdORToFilter->click();
    Choose(wiz.cbData, "Paren (x");
    wiz.cmdORToFilter->click();
    Choose(wiz.cbField, "Alias Name");
    Choose(wiz.cbOperator, "<>");
    Choose(wiz.cbData, "soneil");
    wiz.cmdAdd->click();

    // Each button changes only the runs around the condition.
    Press(wiz, 1, 0);  // Insert '('
    Press(wiz, 1, 1);  // Insert '(' on an OR entry whose value holds AND
    Press(wiz, 2, 1);  // Insert ')'
    Press(wiz, 2, 1);
    Press(wiz, 4, 1);  // Delete ')'
    Press(wiz, 3, 2);  // Delete '(': the "(" in the value is not a run
    Press(wiz, 4, 2);  // Delete ')': nor is the closing quote
    Press(wiz, 2, 2);
    Press(wiz, 2, 3);
    EXPECT_EQ(wiz.Entries(), (std::vector<std::string>{"(Display Name = 'Sean O'Neil'",
                                                         " OR (Display Name = 'Rock AND Roll')",
                                                         " OR Display Name = 'Paren (x')",
                                                         " AND Alias Name <> 'soneil')"}));
    Shot(&wiz, "filter_wizard");
    // Two "(" and three ")" outside the values.
    wiz.cmdOk->click();
    EXPECT_EQ(MessagesSaying("Mismatched Parentheses."), 1);
    EXPECT_TRUE(wiz.isVisible());
    EXPECT_TRUE(FilterRows("0").empty());
    Press(wiz, 4, 3);
    wiz.cmdOk->click();
  }
  EXPECT_EQ(MessagesSaying("Mismatched Parentheses."), 1);
  const std::string stored =
      "(Display Name = 'Sean O'Neil'| OR (Display Name = 'Rock AND Roll')| OR Display Name = 'Paren (x')| AND "
      "Alias Name <> 'soneil'";
  EXPECT_EQ(FilterRows("0"), std::vector<std::string>{"EX1 # MailboxesGeneral # " + stored + " # "});
  auto shown = GridColumn(w->Grd1());
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, (std::vector<std::string>{"Paren (x", "Rock AND Roll"}));

  // Reopened, the list is as stored; Enter in a list runs OK.
  {
    frmFilterWizard wiz(main);
    wiz.Form_Load();
    wiz.show();
    Pump();
    EXPECT_EQ(wiz.Entries(), SplitFilterValue(stored));
    EXPECT_EQ(wiz.cmdAdd->text().toStdString(), "'&AND' To Filter");
    EXPECT_TRUE(wiz.cmdORToFilter->isEnabled());
    Press(wiz, 5, 3);  // the last condition goes
    FocusAndType(wiz.cbData, Qt::Key_Return);
    EXPECT_FALSE(wiz.isVisible());
  }
  shown = GridColumn(w->Grd1());
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, (std::vector<std::string>{"Paren (x", "Rock AND Roll", "Sean O'Neil"}));

  // Escape saves nothing; an emptied list stores an empty filter and every
  // row shows again.
  const long all = Count("select * from MailboxGeneral where ServerName='EX1' and [Object Path]=?",
                         {db::Value(kLakeRecipients)});
  {
    frmFilterWizard wiz(main);
    wiz.Form_Load();
    wiz.show();
    Press(wiz, 6, 0);
    EXPECT_EQ(wiz.cmdAdd->text().toStdString(), "&Add To Filter");
    EXPECT_FALSE(wiz.cmdORToFilter->isEnabled());
    FocusAndType(wiz.lbFilter, Qt::Key_Escape);
    EXPECT_FALSE(wiz.isVisible());
  }
  EXPECT_EQ(FilterRows("0").size(), 1u);
  EXPECT_NE(FilterRows("0")[0].find("Sean"), std::string::npos);
  {
    frmFilterWizard wiz(main);
    wiz.Form_Load();
    Press(wiz, 6, 0);
    wiz.cmdOk->click();
  }
  EXPECT_EQ(FilterRows("0"), std::vector<std::string>{"EX1 # MailboxesGeneral #  # "});
  EXPECT_EQ(w->Grd1()->Rows() - 1, all);
}

TEST_F(FilterWizardTest, DeleteConditionMovesTheSelectionAndKeepsTheFirst) {
  OpenMailboxesGeneral();
  frmFilterWizard wiz(main);
  wiz.Form_Load();
  for (int i = 0; i < 5; ++i) wiz.cmdAdd->click();
  for (int i = 0; i < 5; ++i) wiz.lbFilter->item(i)->setText(QString("%1").arg(i));
  auto after = [&](int row) {
    Press(wiz, 5, row);
    std::string texts;
    for (const auto& e : wiz.Entries()) texts += e;
    return texts + " @" + std::to_string(wiz.lbFilter->currentRow());
  };
  EXPECT_EQ(after(1), "0234 @2");  // the former fourth entry
  EXPECT_EQ(after(2), "024 @2");   // second-to-last: the former last
  EXPECT_EQ(after(2), "02 @1");    // last: the one before
  EXPECT_EQ(after(0), "02 @0");    // the first stays while others follow
  EXPECT_EQ(MessagesSaying("Cannot Remove the first condition while there are conditions below it"), 1);
  EXPECT_EQ(after(1), "0 @0");
  EXPECT_EQ(after(0), " @-1");
  EXPECT_EQ(wiz.cmdAdd->text().toStdString(), "&Add To Filter");
  EXPECT_FALSE(wiz.cmdORToFilter->isEnabled());
}

TEST_F(FilterWizardTest, AFailedSaveKeepsTheOldFilterAndTheMainWindowShowsTheWizard) {
  frmExch* w = OpenMailboxesGeneral();
  gConn->Execute("insert into VELMORCFilterCustomize values('EX1','MailboxesGeneral','0',?,'')",
                 {db::Value("Display Name = 'Sean O'Neil'")});
  gConn->Execute(
      "create trigger refuse_filter before insert on VELMORCFilterCustomize begin select raise(abort, 'disk full'); "
      "end");
  {
    frmFilterWizard wiz(main);
    wiz.Form_Load();
    ASSERT_EQ(wiz.Entries().size(), 1u);
    Choose(wiz.cbData, "John Smith");
    wiz.cmdORToFilter->click();
    wiz.cmdOk->click();
  }
  EXPECT_EQ(FilterRows("0"), std::vector<std::string>{"EX1 # MailboxesGeneral # Display Name = 'Sean O'Neil' # "});
  EXPECT_NE(ErrorLog().find("cmdOk_Click RecordsetObjectOpen Failed"), std::string::npos);
  EXPECT_EQ(GridColumn(w->Grd1()), std::vector<std::string>{"Sean O'Neil"});  // the old filter applies
  gConn->Execute("drop trigger refuse_filter");

  // The Filter command shows the wizard modally; Escape closes it.
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* wiz = qobject_cast<frmFilterWizard*>(QApplication::activeModalWidget());
    seen = wiz != nullptr;
    if (wiz) FocusAndType(wiz->cbField, Qt::Key_Escape);
  });
  main->mnuFilter->trigger();
  EXPECT_TRUE(seen);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

namespace {
class LargeFilterWizardTest : public OnLargeSample<FilterWizardTest> {};
}  // namespace

TEST_F(LargeFilterWizardTest, ValuesAreTheSelectedObjectsAndOkWithoutTheDatabaseIsLogged) {
  frmExch* w = Open("EX1", "Lakeside");
  Node(w, kLakeRecipients)->setExpanded(true);
  Pump();
  struct Case {
    std::string key;
    int page;
    std::string tabName, field;
    std::vector<std::string> values;  // empty: any, but at least one
  };
  const Case cases[] = {
      {kBulkEast, 0, "Container2General", "Directory Name", {"BulkEast"}},
      {kBulkEast, 0, "Container2General", "Created", {}},
      {kBulkEast, 1, "Container2Permissions", "Windows NT Accounts With Permissions", {}},
      {kLakeRecipients, 0, "Container2General", "Directory Name", {"Recipients"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key + " " + c.field);
    Click(w, c.key);
    w->ClickTypeTab(0);
    w->ClickPropTab(c.page);
    ASSERT_EQ(w->PropTabKey(), c.tabName);
    ASSERT_GT(w->Grd1()->Rows(), 1) << "collected";
    frmFilterWizard wiz(main);
    wiz.Form_Load();
    Choose(wiz.cbField, c.field);
    const auto values = Items(wiz.cbData);
    if (c.values.empty())
      EXPECT_FALSE(values.empty());
    else
      EXPECT_EQ(values, c.values);
    // Every value offered is one of the rows the page shows.
    const int column = [&] {
      for (int i = 1; i < w->Grd1()->Cols(); ++i)
        if (w->Grd1()->TextMatrix(0, i) == c.field) return i;
      return 0;
    }();
    ASSERT_GT(column, 0);
    const auto shown = GridColumn(w->Grd1(), column);
    for (const auto& v : values) EXPECT_NE(std::find(shown.begin(), shown.end(), v), shown.end()) << v;
  }

  // OK without the database stores nothing and says why in the log.
  frmFilterWizard wiz(main);
  wiz.Form_Load();
  wiz.cmdAdd->click();
  auto kept = std::move(gConn);
  wiz.cmdOk->click();
  gConn = std::move(kept);
  EXPECT_NE(ErrorLog().find("cmdOk_Click RecordsetObjectCreation Failed"), std::string::npos);
  EXPECT_TRUE(FilterRows("0").empty());
}
