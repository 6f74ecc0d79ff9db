#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "AppFolder.h"
#include "BadLines.h"
#include "CollectionLock.h"
#include "ComError.h"
#include "Database.h"
#include "DateText.h"
#include "Directory.h"
#include "FlexGrid.h"
#include "InstanceLock.h"
#include "SchedConfig.h"
#include "StopSignals.h"
#include "ScheduleLog.h"
#include "ScheduleRun.h"
#include "TaskCredentials.h"
#include "TextFile.h"
#include "Ui.h"

namespace velmo::schedule {

std::string gstrDBPath;
std::unique_ptr<velmo::db::Connection> gConn;
StatusWindow* frmStatus = nullptr;
std::vector<std::string> gstrContainerPaths;
std::vector<std::string> gstrContainerNames;
std::string gstrReportTitle;

namespace {
std::string Blanked(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}
}  // namespace

StatusWindow::StatusWindow() {
  setObjectName("frmStatus");
  auto* layout = new QVBoxLayout(this);
  lblStatus = new QLabel(this);
  lblStatus->setObjectName("lblStatus");
  lblStatus->setMinimumWidth(420);
  Grd1 = new velmo::FlexGrid(this);
  Grd1->setObjectName("Grd1");
  Grd1->Visible(false);
  layout->addWidget(lblStatus);
  layout->addWidget(Grd1);
}

void WriteScheduleLog(const std::string& message) { scheduler::AppendScheduleLog(message); }

std::string ScheduleLogHeader() { return scheduler::ScheduleLogHeader(); }

// Once a stop signal came, the run's only further entry is the one that
// says so (LogStopped): what failed on the way out failed because the run
// gave it up.
void LogEntry(const std::string& message) {
  if (StopSignal() != 0) return;
  WriteScheduleLog(NowText() + message);
}

namespace {
bool gStopLogged = false;  // the run's stop entry is written
}  // namespace

void LogStopped(const std::string& server) {
  gStopLogged = true;
  const std::string why = "stopped : signal " + StopSignalName(StopSignal());
  WriteScheduleLog(NowText() + (server.empty() ? "     Schedule_Main... : Run " + why
                                               : "     GetAllInfo : Getting information for server -'" +
                                                     EscapedSchedText(server) + "' " + why));
}

std::string ErrorText(int32_t number, const std::string& description) {
  return NumberText(number) + ":" + description;
}

namespace {
// Entries from before the run header (the display is chosen and the
// application object made first) wait for it, so that every entry follows
// the header of its run.
std::mutex gEarlyMu;
bool gHeaderWritten = false;
std::vector<std::string> gEarlyEntries;

// Writes the run header, then what waited for it; `again` false writes
// it only when none was written yet.
void WriteRunHeader(bool again) {
  std::lock_guard lock(gEarlyMu);
  if (gHeaderWritten && !again) return;
  WriteScheduleLog(ScheduleLogHeader());
  gHeaderWritten = true;
  for (const auto& m : gEarlyEntries) WriteScheduleLog(m);
  gEarlyEntries.clear();
}
}  // namespace

void LogEntryAfterHeader(const std::string& message) {
  const std::string entry = NowText() + Blanked(message);
  {
    std::lock_guard lock(gEarlyMu);
    if (!gHeaderWritten) {
      gEarlyEntries.push_back(entry);
      return;
    }
  }
  WriteScheduleLog(entry);
}

void InstallQtMessageHandler() {
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    // The program raises no Qt messages of its own; Qt's warnings come from
    // its platform layer (no runtime folder under cron, a window drawn off
    // screen) and say nothing about the run.
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg) return;
    const std::string message = "     VLMRSchedule : Qt : " + text.toStdString();
    // Qt ends the program after a fatal message: it is written now, after
    // the run's header.
    if (type == QtFatalMsg) {
      WriteRunHeader(false);
      WriteScheduleLog(NowText() + Blanked(message));
      return;
    }
    LogEntryAfterHeader(message);
  });
}

void InstallUnattendedUi() {
  ui::SetUi(std::make_shared<ui::UnattendedUi>(
      [](const std::string& what) { LogEntry("     VLMRSchedule : Message : " + Blanked(what)); }));
}

void UseTaskCredentials() {
  std::string account, password, why;
  ads::SetCurrentLogon("", "");  // anonymous unless the file names an account
  switch (scheduler::ReadTaskCredentials(kTaskName, account, password, &why)) {
    case scheduler::CredentialsRead::Ok: {
      std::string dn;
      if (ads::AccountBindName(account, dn)) {
        ads::SetCurrentLogon(dn, password);
      } else {
        LogEntry("     Schedule_Main... : Run-As Account Has No Bind Name : " + account);
      }
      break;
    }
    case scheduler::CredentialsRead::Refused:
      LogEntry("     Schedule_Main... : Credentials File Not Private : " +
               scheduler::CredentialsFile(kTaskName).string());
      break;
    case scheduler::CredentialsRead::Unreadable:
      LogEntry("     Schedule_Main... : Credentials File Not Read : " + scheduler::CredentialsFile(kTaskName).string() +
               " : " + why);
      break;
    case scheduler::CredentialsRead::Missing:
      break;
  }
}

void SetStatus(const std::string& text) {
  if (!frmStatus) return;
  frmStatus->lblStatus->setText(QString::fromStdString(text));
  frmStatus->lblStatus->repaint();
}

void SetCaption(const std::string& text) {
  if (frmStatus) frmStatus->setWindowTitle(QString::fromStdString(text));
}

int Schedule_Main() try {
  // The run's header, then one run at a time.
  gStopLogged = false;
  WriteRunHeader(true);
  // A file of the program's own the run cannot read (the directory host
  // map, a provider file) is told in the run's log, beside the failures it
  // causes.
  struct OwnFilesLogged {
    OwnFilesLogged() {
      SetBadLinesLog([](const std::string& description, const std::string& context) {
        LogEntry("     VLMRSchedule : " + context + " : " + Blanked(description));
      });
    }
    ~OwnFilesLogged() { SetBadLinesLog(nullptr); }
  } ownFiles;
  FileLock instance;
  std::error_code lockError;
  const auto instanceLockFile = AppPath("Schedule\\VLMRSchedule.lock");
  switch (instance.Try(instanceLockFile, FileLock::Mode::Exclusive, lockError)) {
    case FileLock::Outcome::Held:
      LogEntry("     Schedule_Main... : Application is already running :");
      return 0;
    case FileLock::Outcome::Failed:
      // Without the lock another run could be going: end as a second one,
      // which did none of the run's work.
      LogEntry(scheduler::LockFileFailureEntry(instanceLockFile.string(), lockError.message()));
      return 1;
    case FileLock::Outcome::Taken:
      break;
  }
  UseTaskCredentials();

  // The status window.
  gstrDBPath = AppFolderText() + "\\velmo.mdb";
  StatusWindow window;
  frmStatus = &window;
  SetCaption(kStatusCaption);
  window.show();
  SetStatus("Checking Database connection...");

  // The inventory database.
  bool opened = false;
  try {
    gConn = std::make_unique<db::Connection>();
    try {
      gConn->SetProvider("Microsoft.Jet.OLEDB.4.0");
      gConn->Open(gstrDBPath, "", "");
      opened = true;
    } catch (const ComError& e) {
      LogEntry("     Schedule_Main... : Connection Object Open Failure : " + ErrorText(e.Number(), e.Description()));
      SetStatus(e.Description());
    }
  } catch (const ComError& e) {
    LogEntry("     Schedule_Main... : Connection Object Creation Failure : " + ErrorText(e.Number(), e.Description()));
    SetStatus(e.Description());
  }

  // The server lines in file order. `done` stays true only while every
  // line did all its work.
  bool done = opened;
  if (opened) {
    SchedConfigContents config;
    std::string why;
    const auto file = AppPath("Schedule\\SchedConfig.cfg");
    if (!ReadSchedConfig(file, config, &why, nullptr, true)) {
      const int32_t number = std::filesystem::exists(file) ? 75 : 53;
      if (why.empty()) why = number == 53 ? "File not found" : "Path/File access error";
      LogEntry("     Schedule_Main... : Config File Open Failure : " + ErrorText(number, why));
      SetStatus(why);
      done = false;
    } else {
      // A damaged line is left out, never taken for a server (nor looked
      // up or cleared); the first ones are named, the rest counted in one
      // entry.
      for (const SchedSkippedLine& skipped : config.skipped)
        LogEntry("     Schedule_Main... : Config File Line Skipped : " + SkippedLineText(file, skipped));
      if (config.skipped.More() > 0)
        LogEntry("     Schedule_Main... : Config File Line Skipped : " +
                 SkippedLinesMoreText(file, config.skipped.More()));
      if (config.skipped.Count() > 0) done = false;
      // A stop signal ends the line under way at its next step (the
      // collector's call taken back, the output being written dropped) and
      // no later line runs. True when the line did all its work.
      auto process = [&](const ScheduledServerEntry& line) {
        std::string organisation, site;
        if (!ConnectToExchangeServer(line.serverName, "", "", organisation, site)) return false;
        const std::string base = "LDAP://" + line.serverName + "/o=" + organisation + "/ou=" + site;
        ResetContainerList(line.serverName, organisation, site);
        GetChildContainerInfo(base, line.serverName, organisation, site, "", "");
        // A server skipped for another program's collection gets no report
        // from its half-written rows. The collection lock is held through
        // the report: another program clearing the server now would empty
        // the sections still to be written.
        exporting::CollectionLock lock;
        std::string unfinished;
        if (!GetAllInfo(line.serverName, "", "", organisation, site, line.profileName, &lock, &unfinished))
          return false;
        if (StopSignal() != 0) return false;
        // A server lost part-way would replace the last whole outputs with
        // a partial report, and remove those whose sections it left empty:
        // the line's outputs stay as they are.
        if (!unfinished.empty()) {
          LogEntry("     DisplayInfo : Outputs of server -'" + EscapedSchedText(line.serverName) +
                   "' kept : the collection did not finish : " + unfinished);
          return false;
        }
        // A line with no operation keeps the inventory current and writes
        // no report: its work is done once the collection is.
        if (line.operation.empty()) return true;
        const bool written = DisplayInfo(line.serverName, organisation, site, line.reportName, line.operation,
                                         line.printerName, line.exportFormat, line.outputFolder, line.runStamp);
        lock.Release();
        QApplication::processEvents();
        return written;
      };
      for (const ScheduledServerEntry& line : config.servers) {
        if (StopSignal() == 0 && !process(line)) done = false;
        if (StopSignal() != 0) {
          LogStopped(line.serverName);
          break;
        }
      }
    }
  }

  // The database closed; the status window goes with this function.
  try {
    if (gConn && gConn->State() == db::adStateOpen) gConn->Close();
    gConn.reset();
  } catch (const ComError& e) {
    gConn.reset();
    LogEntry("     Schedule_Main... : Connection Object Close Failure : " + ErrorText(e.Number(), e.Description()));
  }
  frmStatus = nullptr;
  if (const int signal = StopSignal(); signal != 0) {
    if (!gStopLogged) LogStopped("");
    return 128 + signal;
  }
  return done ? 0 : 1;
} catch (...) {
  // An error no step handled (memory running out) ends the run, saying so:
  // the status window and the lock are gone with the function's frame. A
  // run being stopped ends as stopped, with its one entry.
  const ComError e = AsComError(std::current_exception());
  frmStatus = nullptr;
  gConn.reset();
  if (const int signal = StopSignal(); signal != 0) {
    if (!gStopLogged) LogStopped("");
    return 128 + signal;
  }
  LogEntry("     Schedule_Main... : Run Ended By An Error : " + ErrorText(e.Number(), e.Description()));
  return 1;
}

}  // namespace velmo::schedule
