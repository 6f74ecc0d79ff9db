#pragma once
// The schedule editor's windows in a fresh application folder: an
// inventory database with two custom reports and favourite servers, the
// sample provider files (mail profiles), scripted answers to every message
// box, and helpers that answer the modal windows the editor opens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WindowShots.h"
#include "Database.h"
#include "InventoryKit.h"
#include "QtTestApp.h"
#include "SchedConfig.h"
#include "TestHome.h"
#include "ScriptedUi.h"
#include "Ui.h"
#include "UpDown.h"
#include "UserInput.h"
#include "frmScheduleInput.h"
#include "modGlobals.h"

namespace sched_test {

inline void Pump() { velmo::test::PumpEvents(); }

// Replaces what a control holds as a user does: focus, select all, type.
inline void Retype(QWidget* control, const std::string& text) {
  ASSERT_TRUE(velmo::test::FocusControl(control)) << control->objectName().toStdString();
  velmo::test::PressKey(Qt::Key_A, Qt::ControlModifier);
  if (text.empty())
    velmo::test::PressKey(Qt::Key_Backspace, Qt::NoModifier, QString(QChar(8)));
  else
    velmo::test::TypeText(text);
}

// Runs `act` against the next modal window of that class once it is
// shown; the caller then does what opens it. The window must be closed
// by `act`; a window still open after a few seconds is rejected so the
// test cannot hang.
template <class W>
inline void WhenModal(std::function<void(W&)> act) {
  auto tries = std::make_shared<int>(0);
  auto poll = std::make_shared<std::function<void()>>();
  // The poll refers to itself weakly; the pending timer holds it, so it is
  // freed once it stops rescheduling.
  *poll = [act, tries, self = std::weak_ptr(poll)] {
    if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
      act(*w);
      if (w->isVisible() && qobject_cast<W*>(QApplication::activeModalWidget()) == w) {
        ADD_FAILURE() << "the modal window stayed open";
        static_cast<QDialog*>(w)->reject();
      }
      return;
    }
    if (++*tries < 200)
      if (auto again = self.lock()) QTimer::singleShot(20, [again] { (*again)(); });
  };
  QTimer::singleShot(0, [poll] { (*poll)(); });
}

class ScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velmo::test::TestApp("test_schedule_editor");
    ::setenv("VELMORCAST_PROVIDERS", (velmo::test::TestHome::SourceDir() / "sample" / "providers").c_str(), 1);
    ::setenv("USERDOMAIN", "CORP", 1);
    ::setenv("USERNAME", "alice", 1);
    home = std::make_unique<velmo::test::TestHome>();
    velmo::test::CreateInventory(home->dir());
    gConn = std::make_unique<velmo::db::Connection>();
    gConn->Open((home->dir() / "velmo.mdb").string());
    for (const char* report : {"Default", "Default", "Mine"})
      gConn->Execute("insert into VELMORCCustomReports values (?, ?, ?)", {std::string("MailboxesGeneral"),
                                                                          std::string(report), std::string(";a")});
    for (const char* server : {"EX2", "EX1"})
      gConn->Execute("insert into VELMORCFavourites values (?, 'No', 'Yes')", {std::string(server)});
    ui = std::make_shared<velmo::ui::ScriptedUi>();
    previousUi_ = velmo::ui::SetUi(ui);
  }

  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible()) w->close();
    Pump();
    gConn.reset();
    velmo::ui::SetUi(previousUi_);
    home.reset();
    ::unsetenv("VELMORCAST_PROVIDERS");
  }

  std::filesystem::path ConfigFile() const { return home->dir() / "Schedule" / "SchedConfig.cfg"; }
  std::string Config() const { return velmo::test::TestHome::Slurp(ConfigFile()); }
  void WriteConfig(const std::string& text) {
    std::filesystem::create_directories(ConfigFile().parent_path());
    std::ofstream(ConfigFile(), std::ios::binary) << text;
  }
  std::string ErrorLog() const { return velmo::test::TestHome::Slurp(home->dir() / "VelmorcastErrorLog.log"); }

  std::vector<std::string> Prompts() const {
    std::vector<std::string> out;
    for (const auto& s : ui->shown()) out.push_back(s.prompt);
    return out;
  }

  std::unique_ptr<velmo::test::TestHome> home;
  std::shared_ptr<velmo::ui::ScriptedUi> ui;

 private:
  std::shared_ptr<velmo::ui::UiSeam> previousUi_;
};

inline void Shot(QWidget* w, const std::string& name) { velmo::test::ShotAtProgramFont(w, name); }

// Sets the start time as a user types it: hour, minutes, and the
// designator stepped with the spin control until it reads `ampm`.
inline void TypeTime(frmScheduleInput& w, const std::string& h, const std::string& m, const std::string& ampm) {
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(velmo::test::FocusControl(w.txtam[i]));
    velmo::test::PressKey(Qt::Key_A, Qt::ControlModifier);
    velmo::test::TypeText(i == 0 ? h : m);
  }
  ASSERT_TRUE(velmo::test::FocusControl(w.txtam[2]));
  for (int i = 0; i < 2 && w.txtam[2]->text().toStdString() != ampm; ++i) w.UpDownStartTime->ClickUp();
  ASSERT_EQ(w.txtam[2]->text().toStdString(), ampm);
}

}  // namespace sched_test
