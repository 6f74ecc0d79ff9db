#pragma once
// What the browse-window tests share: an application folder with the main
// window open on it (its own database, tables and default column sets),
// the sample directory and provider files, a scripted UI, browse windows
// opened as the connect step opens them, and readers for rows and the log.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPointer>
#include <QTabBar>
#include <QTreeWidget>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "MainWindowKit.h"
#include "Mdifrm.h"
#include "QtTestApp.h"
#include "frmExch.h"
#include "modExch.h"
#include "modExchTree.h"
#include "modGlobals.h"

namespace browse_test {

namespace db = velmo::db;

inline QApplication& App() { return velmo::test::TestApp("test_browse"); }
inline void Pump() { velmo::test::PumpEvents(); }

inline const std::string kLakeRecipients = "o=Velmor/ou=Lakeside/cn=Recipients";
inline const std::string kEX1 = "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1";

// Texts of a node's children.
inline std::vector<std::string> ChildTexts(const QTreeWidgetItem* node) {
  std::vector<std::string> out;
  for (int i = 0; node && i < node->childCount(); ++i) out.push_back(NodeText(node->child(i)));
  return out;
}

class BrowseTest : public velmo::test::MainWindowTest {
 protected:
  void SetUp() override {
    App();
    gbContextMenuNoExec = true;
    MainWindowTest::SetUp();
  }
  void TearDown() override {
    if (main) {
      for (int i = 1; i <= kMaxExchWindows; ++i)
        if (gfrmExchWindows[i]) gfrmExchWindows[i]->Window()->close();
      Pump();
    }
    MainWindowTest::TearDown();
  }

  // A browse window as the connect step makes it: slot, fields, shown.
  frmExch* Open(const std::string& server, const std::string& site, const std::string& user = "",
                const std::string& password = "") {
    auto* w = new frmExch();
    EXPECT_GT(OpenExchWindowSlot(w), 0);
    w->strServerName = server;
    w->strOrganizationName = "Velmor";
    w->strSiteName = site;
    w->strUserName = user;
    w->strPassword = password;
    w->Window()->show();
    if (auto* sub = qobject_cast<QMdiSubWindow*>(w->Window())) gMdiArea->setActiveSubWindow(sub);
    Pump();
    return w;
  }

  static QTreeWidgetItem* Node(frmExch* w, const std::string& key) {
    QTreeWidgetItem* n = FindTreeNode(*w->tvwServers, key);
    EXPECT_NE(n, nullptr) << key;
    return n;
  }
  static void Click(frmExch* w, const std::string& key) { w->tvwServers_NodeClick(Node(w, key)); }

  // The left button pressed and let go at that point of the widget.
  static void LeftClick(QWidget* target, const QPoint& at) {
    const QPoint global = target->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
    Pump();
  }
  // A user's mouse click on a node: the nodes above it opened as the user
  // opens them (a container's children are read when it opens), the node
  // scrolled into view.
  static void ClickNodeWithMouse(frmExch* w, const std::string& key) {
    for (size_t at = key.find('/'); at != std::string::npos; at = key.find('/', at + 1))
      if (QTreeWidgetItem* above = FindTreeNode(*w->tvwServers, key.substr(0, at))) above->setExpanded(true);
    QTreeWidgetItem* n = Node(w, key);
    if (!n) return;
    w->tvwServers->scrollToItem(n);
    Pump();
    LeftClick(w->tvwServers->viewport(), w->tvwServers->visualItemRect(n).center());
  }
  // A user's mouse click on the tab of that caption.
  static void ClickTabWithMouse(QTabBar* bar, const std::string& caption) {
    for (int i = 0; i < bar->count(); ++i)
      if (bar->tabText(i).toStdString() == caption) {
        LeftClick(bar, bar->tabRect(i).center());
        return;
      }
    ADD_FAILURE() << "no tab " << caption;
  }

  static std::vector<std::string> PropKeys(frmExch* w) {
    std::vector<std::string> keys;
    for (int i = 0; i < w->tabProp->count(); ++i) keys.push_back(w->tabProp->tabData(i).toString().toStdString());
    return keys;
  }
  static std::vector<std::string> TypeCaptions(frmExch* w) {
    std::vector<std::string> captions;
    for (int i = 0; i < w->tabType->count(); ++i) captions.push_back(w->tabType->tabText(i).toStdString());
    return captions;
  }

  // Collector runs so far: every collecting method sets itself up first.
  long CollectorRuns() const {
    const std::string log = ErrorLog();
    long n = 0;
    for (auto at = log.find("InitializeVariables Start"); at != std::string::npos;
         at = log.find("InitializeVariables Start", at + 1))
      ++n;
    return n;
  }
};

}  // namespace browse_test
