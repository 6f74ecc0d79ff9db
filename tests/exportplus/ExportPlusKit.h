#pragma once
// What the Export Plus tests share: an application folder with the main
// window open on it, the sample directory and provider files, a scripted
// UI, the window in either mode, a user's clicks on tree nodes, and
// readers for rows and files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "WindowShots.h"
#include "ComFactory.h"
#include "MainWindowKit.h"
#include "Mdifrm.h"
#include "QtTestApp.h"
#include "UserInput.h"
#include "frmExportPlus.h"
#include "modExchTree.h"
#include "modGlobals.h"

namespace exportplus_test {

namespace db = velmo::db;

inline QApplication& App() { return velmo::test::TestApp("test_exportplus"); }
inline void Pump() { velmo::test::PumpEvents(); }

inline const std::string kOrg = "o=Velmor";
inline const std::string kLakeside = "o=Velmor/ou=Lakeside";
inline const std::string kRecipients = "o=Velmor/ou=Lakeside/cn=Recipients";
inline const std::string kEX1 = "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1";

// A user's click on a node: pressed and released over it in the tree's
// viewport.
inline void ClickNode(QTreeWidget* tree, QTreeWidgetItem* node) {
  ASSERT_NE(node, nullptr);
  tree->scrollToItem(node);  // may expand its parents first
  Pump();
  const QPoint at = tree->visualItemRect(node).center();
  QWidget* viewport = tree->viewport();
  QMouseEvent press(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, viewport->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &release);
  Pump();
}

// A category node of the field tree by group caption and caption.
inline QTreeWidgetItem* Field(QTreeWidget* tree, const std::string& group, const std::string& text) {
  for (QTreeWidgetItemIterator it(tree); *it; ++it) {
    QTreeWidgetItem* n = *it;
    if (NodeText(n) == text && NodeText(n->parent()) == group && (group.empty() || n->parent())) return n;
  }
  return nullptr;
}

inline std::vector<std::string> FieldTexts(QTreeWidget* tree) {
  std::vector<std::string> out;
  for (QTreeWidgetItemIterator it(tree); *it; ++it) out.push_back(NodeText(*it));
  return out;
}

class ExportPlusTest : public velmo::test::MainWindowTest {
 protected:
  void SetUp() override {
    App();
    MainWindowTest::SetUp();
  }
  void TearDown() override {
    delete window;
    window = nullptr;
    MainWindowTest::TearDown();
  }

  // The window loaded in a mode and shown (not modally, so the test can
  // drive it).
  frmExportPlus* Open(short mode) {
    main->iFromExportPlusPrintPlus = mode;
    window = new frmExportPlus(main);
    window->Form_Load();
    window->show();
    Pump();
    return window;
  }

  void ShotAtProgramFont(const std::string& name) { velmo::test::ShotAtProgramFont(window, name); }

  // Types a server name into the server box and presses Enter.
  void Connect(const std::string& typed) {
    ASSERT_TRUE(velmo::test::FocusControl(window->cboServerName));
    window->cboServerName->lineEdit()->selectAll();
    velmo::test::PressKey(Qt::Key_Delete);
    velmo::test::TypeText(typed);
    velmo::test::PressKey(Qt::Key_Return);
    Pump();
  }

  QTreeWidgetItem* Node(const std::string& key) {
    QTreeWidgetItem* n = FindTreeNode(*window->tvwObjects_, key);
    EXPECT_NE(n, nullptr) << key;
    return n;
  }

  frmExportPlus* window = nullptr;
};

}  // namespace exportplus_test
