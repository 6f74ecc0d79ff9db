#pragma once
// What the report-window tests share beyond the browse kit: a browse
// window of EX1 showing a page, keys typed into the focused control, the
// rows of the grid and of the filter table.
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <cstdlib>

#include <string>
#include <vector>

#include "BrowseKit.h"
#include "FlexGrid.h"
#include "SampleDirectory.h"

namespace reports_test {

using namespace browse_test;

// A key pressed and released on whatever has the focus.
inline void TypeKey(int key) {
  QWidget* target = QApplication::focusWidget();
  ASSERT_NE(target, nullptr);
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &release);
  Pump();
}

// With VELMO_SHOTS set, a picture of the window goes to that folder.
inline void Shot(QWidget* window, const char* name) {
  if (const char* dir = std::getenv("VELMO_SHOTS")) window->grab().save(QString(dir) + "/" + name + ".png");
}

inline void FocusAndType(QWidget* control, int key) {
  control->activateWindow();
  control->setFocus(Qt::OtherFocusReason);
  Pump();
  TypeKey(key);
}

// Column c of the grid's data rows.
inline std::vector<std::string> GridColumn(velmo::FlexGrid* grid, int c = 1) {
  std::vector<std::string> out;
  for (int r = 1; r < grid->Rows(); ++r) out.push_back(grid->TextMatrix(r, c));
  return out;
}

inline std::vector<std::string> GridCaptions(velmo::FlexGrid* grid) {
  std::vector<std::string> out;
  for (int c = 1; c < grid->Cols(); ++c) out.push_back(grid->TextMatrix(0, c));
  return out;
}

// The sample organisation with its bulk recipients containers (cn=Bulk,
// and "Bulk East" and "Bulk West" whose directory names are "BulkEast" and
// "BulkWest"), served by one private slapd for the whole test program.
inline velmo::test::PrivateSlapd& LargeSample() {
  static velmo::test::PrivateSlapd slapd("--large 20");
  return slapd;
}
inline const std::string kBulkEast = kLakeRecipients + "/cn=Bulk East";

// A test over the large sample: EX1 and the other servers answer from it.
template <class Base>
class OnLargeSample : public Base {
 protected:
  static void SetUpTestSuite() { LargeSample(); }
  velmo::test::UseSampleDirectory large_{LargeSample().hostsFile()};
};

class ReportsTest : public BrowseTest {
 protected:
  // EX1's browse window on the Lakeside recipients' mailbox general page.
  frmExch* OpenMailboxesGeneral() {
    for (int i = 0; i < 10; ++i) ui->QueueProfile("EX1 Profile");
    frmExch* w = Open("EX1", "Lakeside");
    Click(w, kLakeRecipients);
    w->ClickTypeTab(1);
    w->ClickPropTab(1);
    EXPECT_EQ(w->PropTabKey(), "MailboxesGeneral");
    return w;
  }
  // A mailbox row of the Lakeside recipients container on EX1.
  void AddMailbox(const std::string& name, const std::string& alias) {
    Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name", "Alias Name", "Home Server"},
           {db::Value("EX1"), db::Value(kLakeRecipients), db::Value(name), db::Value(alias), db::Value("EX1")});
  }
  // The stored rows of one kind: "server # tab # filter # choice".
  std::vector<std::string> FilterRows(const std::string& queryType) {
    std::vector<std::string> out;
    db::Recordset rs;
    rs.Open("select * from VELMORCFilterCustomize where QueryType=?", *gConn, {db::Value(queryType)},
            db::adOpenKeyset, db::adLockOptimistic);
    for (; !rs.Eof(); rs.MoveNext())
      out.push_back(rs[0L].Text() + " # " + rs[1L].Text() + " # " + rs[3L].Text() + " # " + rs[4L].Text());
    return out;
  }
};

}  // namespace reports_test
