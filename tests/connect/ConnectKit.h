#pragma once
// The connect windows against the sample organisation: a fresh application
// folder, the shared sample slapd, the sample provider files, a main window
// that is built but not shown, and scripted answers to every message box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Database.h"
#include "Directory.h"
#include "Mdifrm.h"
#include "QtTestApp.h"
#include "SampleDirectory.h"
#include "TestHome.h"
#include "ScriptedUi.h"
#include "Ui.h"
#include "UserInput.h"
#include "frmConnect.h"
#include "modExch.h"
#include "modExchConnect.h"
#include "modGlobals.h"

namespace connect_test {

namespace db = velmo::db;
using velmo::ui::ScriptedUi;

inline QApplication& App() { return velmo::test::TestApp("test_connect"); }
inline void Pump() { velmo::test::PumpEvents(); }

struct FavouriteRow {
  std::string server, isDefault, isFavourite;
  bool operator==(const FavouriteRow&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const FavouriteRow& r) {
  return os << "(" << r.server << "," << r.isDefault << "," << r.isFavourite << ")";
}

class ConnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
    App();
    ::setenv("VELMORCAST_PROVIDERS", (velmo::test::TestHome::SourceDir() / "sample" / "providers").c_str(), 1);
    home_ = std::make_unique<velmo::test::TestHome>();
    directory_ = std::make_unique<velmo::test::UseSampleDirectory>();
    velmo::ads::ResetSessions();
    ui = std::make_shared<ScriptedUi>();
    previousUi_ = velmo::ui::SetUi(ui);
    gbConnected = false;
    gbShowConnectDialog = false;
    main = new Mdifrm();
    main->iConnectCount = 1;  // no start-up connect unless a test asks for it
  }

  void TearDown() override {
    if (!main) return;
    UnloadConnectDialog();
    for (int i = 1; i <= kMaxExchWindows; ++i)
      if (ExchWindow* w = gfrmExchWindows[i]) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(w->Window()->parentWidget()))
          sub->close();
        else
          w->Window()->close();
        Pump();
        // A window deletes itself on close after giving back its slot; only
        // one still in its slot is released here.
        if (gfrmExchWindows[i] == w) CloseExchWindowSlot(w);
      }
    Pump();
    delete main;
    main = nullptr;
    gConn.reset();
    gfrmExportPlus = nullptr;
    gCustomReportForConnect = nullptr;
    velmo::ui::SetUi(previousUi_);
    directory_.reset();
    home_.reset();
    ::unsetenv("VELMORCAST_PROVIDERS");
  }

  // The rows of VELMORCFavourites in table order.
  std::vector<FavouriteRow> Favourites() {
    std::vector<FavouriteRow> rows;
    db::Recordset rs;
    rs.Open("select * from VELMORCFavourites", *gConn, db::adOpenKeyset, db::adLockOptimistic);
    if (rs.RecordCount() > 0)
      for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
        rows.push_back({rs[0L].Text(), rs[1L].Text(), rs[2L].Text()});
    rs.Close();
    return rows;
  }

  void AddFavouriteRow(const FavouriteRow& r) {
    gConn->Execute("insert into VELMORCFavourites values (?, ?, ?)", {r.server, r.isDefault, r.isFavourite});
  }

  // The prompts of the boxes shown so far.
  std::vector<std::string> Prompts() const {
    std::vector<std::string> out;
    for (const auto& s : ui->shown()) out.push_back(s.prompt);
    return out;
  }
  std::string LastPrompt() const {
    auto shown = ui->shown();
    return shown.empty() ? std::string() : shown.back().prompt;
  }

  std::string ErrorLog() const { return velmo::test::TestHome::Slurp(home_->dir() / "VelmorcastErrorLog.log"); }

  // Replaces what a control holds as a user does: focus it, select all,
  // type. Fails the test when the control cannot take the focus.
  static void Retype(QWidget* control, const std::string& text) {
    ASSERT_TRUE(velmo::test::FocusControl(control)) << control->objectName().toStdString();
    velmo::test::PressKey(Qt::Key_A, Qt::ControlModifier);
    velmo::test::TypeText(text);
  }

  // A host map with the sample's servers and extra names.
  void MapHosts(const std::vector<std::pair<std::string, std::string>>& extra) {
    std::string text = velmo::test::TestHome::Slurp(velmo::test::SampleHostsFile());
    for (const auto& [name, url] : extra) text += name + " " + url + "\n";
    const auto file = home_->dir() / "hosts.conf";
    std::ofstream(file) << text;
    ::setenv("VELMORCAST_LDAP_HOSTS", file.c_str(), 1);
    velmo::ads::ResetSessions();
  }
  std::string SampleUrl() const {
    std::string text = velmo::test::TestHome::Slurp(velmo::test::SampleHostsFile());
    const auto at = text.find("ldap://");
    return text.substr(at, text.find_first_of(" \r\n", at) - at);
  }

  std::shared_ptr<ScriptedUi> ui;
  Mdifrm* main = nullptr;
  std::unique_ptr<velmo::test::TestHome> home_;

 private:
  std::unique_ptr<velmo::test::UseSampleDirectory> directory_;
  std::shared_ptr<velmo::ui::UiSeam> previousUi_;
};

}  // namespace connect_test
