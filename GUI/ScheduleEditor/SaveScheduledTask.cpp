// Registration of the scheduled task and its task line.
#include "SaveScheduledTask.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QRadioButton>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "AppFolder.h"
#include "ComError.h"
#include "ComFactory.h"
#include "IJobScheduler.h"
#include "DateText.h"
#include "ScheduleDates.h"
#include "ScheduleDialogs.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "frmConnect.h"
#include "frmScheduleInput.h"
#include "modExch.h"
#include "modGlobals.h"

using velmo::ui::Ui;

bool WholeNumber(const QString& text, long& value) {
  bool ok = false;
  const double d = text.trimmed().toDouble(&ok);
  if (!ok || text.trimmed().isEmpty()) return false;
  value = static_cast<long>(d);
  return true;
}

namespace {

std::string DateOf(const QDate& date) { return PickerFileDate(date); }

// The trigger kind of the window's kind list and monthly option.
int TriggerKind(const frmScheduleInput& w) {
  switch (w.cboScheduleTask->currentIndex()) {
    case 0: return 1;
    case 1: return 2;
    case 2: return w.optDay->isChecked() ? 3 : w.optThe->isChecked() ? 4 : 0;
    case 4: return 6;
    case 5: return 7;
    case 6: return 5;
    default: return 0;
  }
}

// The start time of the time boxes as "HH:MM" on the 24-hour clock:
// 12 AM is hour 00, 1 PM to 11 PM are 13 to 23, 12 PM stays 12. A
// designator other than AM and PM means the hour is already 24-hour.
std::string StartTime(const frmScheduleInput& w, const std::tm& when) {
  const QString h = w.txtam[0]->text(), m = w.txtam[1]->text(), p = w.txtam[2]->text();
  if (h.isEmpty() || m.isEmpty()) return velmo::SchedTimeText(when);
  long hours = 0;
  const bool numeric = WholeNumber(h, hours);
  std::string hourText = h.toStdString();
  if (p == "AM" && numeric && hours == 12) hourText = "00";
  if (p == "PM" && numeric) hourText = std::to_string(hours >= 1 && hours <= 11 ? hours + 12 : hours);
  std::string text = hourText + ":" + m.toStdString();
  // Any other separator becomes ":".
  if (!w.strTimeSep.empty() && w.strTimeSep != ":")
    for (size_t at = text.find(w.strTimeSep); at != std::string::npos; at = text.find(w.strTimeSep, at + 1))
      text.replace(at, w.strTimeSep.size(), ":");
  return text;
}

}  // namespace

std::string AllMonths() { return "JANUARY|FEBRUARY|MARCH|APRIL|MAY|JUNE|JULY|AUGUST|SEPTEMBER|OCTOBER|NOVEMBER|DECEMBER"; }

velmo::ScheduleTaskEntry TaskFromWindow(int iMode, frmScheduleInput* window, const std::tm& when) {
  velmo::ScheduleTaskEntry task;
  task.startTime = velmo::SchedTimeText(when);
  task.startDate = velmo::SchedDateText(when);
  if (iMode == 0 || !window) {
    task.account = DefaultConnectUser();
    task.triggerKind = 1;
    task.count = "1";
    task.repeatDuration = 10;
    task.stopAtEnd = "0";
    return task;
  }
  frmScheduleInput& w = *window;
  frmAdvanced& adv = w.Advanced();
  task.account = w.txtRunas->text().trimmed().toStdString();
  if (task.account.empty()) task.account = DefaultConnectUser();
  task.repeatFlag = adv.chkRepeatTask->isChecked() ? 1 : 0;
  task.triggerKind = TriggerKind(w);
  const int kind = task.triggerKind;
  // The count, at most 32767. A kind that does not use it keeps the box's
  // text as it stands, so the window shows it again as it was.
  long count = 0;
  const bool numeric = WholeNumber(w.txtEverydays->text(), count);
  const bool countUsed = kind == 1 || kind == 2 || kind == 3 || kind == 5;
  task.count = w.txtEverydays->text().trimmed().toStdString();
  if ((numeric && count > 32767) || (!numeric && countUsed)) task.count = "32767";

  if (kind == 2) {
    static const char* const kDays[7] = {"MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY", "SUNDAY"};
    std::string days;
    for (int i = 0; i < 7; ++i)
      if (w.chkday[i]->isChecked()) days += (i == 0 ? "" : "|") + std::string(kDays[i]);
    task.dayList = days;
  } else if (kind == 3 || kind == 4) {
    if (w.strSelectedMonths.empty()) w.strSelectedMonths = AllMonths();
    task.dayList = w.strSelectedMonths;
    if (kind == 4) {
      task.weekIndex = std::max(0, w.cboWeek->currentIndex());
      task.weekdayIndex = std::max(0, w.cboDay->currentIndex());
    }
  }
  task.startTime = StartTime(w, when);

  const bool timed = kind != 5 && kind != 6 && kind != 7;
  if (timed && task.repeatFlag) {
    long every = 0, hours = 0, minutes = 0;
    WholeNumber(adv.txtEvery->text(), every);
    if (adv.cboEvery->currentText() == "hours") every *= 60;
    WholeNumber(adv.txtHour->text(), hours);
    WholeNumber(adv.txtMinute->text(), minutes);
    task.repeatInterval = every;
    task.repeatDuration = hours * 60 + minutes;
    task.stopAtEnd = adv.chkTask->isChecked() ? "1" : "0";
  }
  if (!timed) {
    task.startDate.clear();
  } else if (kind == 0) {
    task.startDate = DateOf(w.dpOnce->date());
  } else {
    task.startDate = DateOf(adv.dtpStartDate->date());
    if (adv.chkEndDate->isChecked()) task.endDate = DateOf(adv.dtpEndDate->date());
  }
  return task;
}

namespace {

// Registers the task with the job scheduler, created anew for the call.
// Mode 0 registers the default daily task; mode 1 sets the kind, start
// time, repetition and dates first. Throws velmo::ComError at the first
// call that fails (a task that exists is replaced instead).
void Register(int iMode, const velmo::ScheduleTaskEntry& task, const std::string& password) {
  namespace js = velmo::scheduler;
  auto scheduler = velmo::com::CreateObject<js::IJobScheduler>(kJobSchedulerProgId);
  const std::string program = velmo::AppPath("VLMRSchedule").string();
  int16_t kind = static_cast<int16_t>(task.triggerKind);
  int16_t repeat = static_cast<int16_t>(task.repeatFlag);
  try {
    scheduler->AddTaskToScheduler(kTaskName, program, "", task.account, password, kind, repeat);
  } catch (const velmo::ComError& e) {
    if (e.Number() != js::kTaskExists) throw;
    scheduler->DeleteTask(kTaskName);
    scheduler->AddTaskToScheduler(kTaskName, program, "", task.account, password, kind, repeat);
  }
  if (iMode == 1) {
    long count = 0;
    WholeNumber(QString::fromStdString(task.count), count);
    const auto n = static_cast<int32_t>(count);
    switch (task.triggerKind) {
      case 1: scheduler->Job(kTaskName)->SetDaysInterval(n); break;
      case 2: scheduler->Job(kTaskName)->SetWeekInfo(n, task.dayList); break;
      case 3: scheduler->Job(kTaskName)->SetMonthlyDateInfo(n, task.dayList); break;
      case 4:
        scheduler->Job(kTaskName)->SetMonthlyDOWInfo(static_cast<int16_t>(task.weekIndex),
                                                     static_cast<int16_t>(task.weekdayIndex), task.dayList);
        break;
      case 5: scheduler->Job(kTaskName)->SetTaskIdleTime(n, task.count); break;
      default: break;
    }
    scheduler->Job(kTaskName)->StartTime(task.startTime);
    if (task.triggerKind != 5 && task.triggerKind != 6 && task.triggerKind != 7) {
      if (task.repeatFlag) {
        const auto duration = static_cast<int32_t>(task.repeatDuration);
        const auto interval = static_cast<int32_t>(task.repeatInterval);
        if (task.stopAtEnd == "1")
          scheduler->Job(kTaskName)->RepeatTask(duration, interval, int16_t{1});
        else
          scheduler->Job(kTaskName)->RepeatTask(duration, interval);
      }
      scheduler->Job(kTaskName)->StartDate(task.startDate);
      if (!task.endDate.empty()) scheduler->Job(kTaskName)->EndDate(task.endDate);
    }
  }
  scheduler->SaveTask();
}

}  // namespace

bool SchedConfigCanBeRewritten(std::string* reason) {
  namespace fs = std::filesystem;
  const fs::path file = velmo::SchedConfigPath();
  const fs::path folder = file.parent_path();
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::string why;
  if (ec) {
    why = "The folder could not be made: " + ec.message();
  } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    why = std::string("The folder cannot be written: ") + std::strerror(errno);
  } else if (fs::symlink_status(file, ec).type() != fs::file_type::not_found) {
    // The server lines it holds are kept, so it must be read as well. A
    // link that leads nowhere is there, and cannot be read.
    velmo::SchedConfigContents contents;
    if (velmo::ReadSchedConfig(file, contents, &why) && ::access(file.c_str(), W_OK) != 0)
      why = std::string("The file cannot be written: ") + std::strerror(errno);
  }
  if (why.empty()) return true;
  if (reason) *reason = file.string() + ": " + why;
  return false;
}

bool SaveScheduledTask(int iMode, frmScheduleInput* window) {
  velmo::ui::WaitCursor hourglass;

  if (iMode == 0 && window) window->strPassword.clear();
  const velmo::ScheduleTaskEntry task = TaskFromWindow(iMode, window, velmo::LocalTime(velmo::Clock::now()));
  const std::string password = iMode == 1 && window ? window->strPassword : std::string();

  // Every value is checked before anything is registered, so a refused
  // value leaves the crontab, the credentials file and the settings file
  // as they were.
  std::string refused;
  if (!velmo::SchedTaskCarries(task, &refused)) {
    WriteErrorLog(velmo::NowText(), "SaveScheduledTask Config File Write Failure", "75", refused);
    hourglass.Release();
    Ui().MsgBox("The schedule settings could not be saved.\r\n" + refused, velmo::ui::vbExclamation, kProductTitle);
    return false;
  }

  // Nothing is registered while the settings file that records the task
  // cannot be rewritten.
  const auto path = velmo::SchedConfigPath();
  std::string error;
  if (!SchedConfigCanBeRewritten(&error)) {
    WriteErrorLog(velmo::NowText(), "SaveScheduledTask Config File Write Failure", "75", error);
    hourglass.Release();
    Ui().MsgBox("The schedule settings could not be saved.\r\n" + error, velmo::ui::vbExclamation, kProductTitle);
    return false;
  }

  try {
    Register(iMode, task, password);
  } catch (const velmo::ComError& e) {
    // The first call that failed ends the registration; the settings file
    // stays as it was.
    LogFailure("SaveScheduledTask Registration Failure", e);
    hourglass.Release();
    Ui().MsgBox("The scheduled task could not be registered.\r\n" + e.Description(), velmo::ui::vbExclamation,
                kProductTitle);
    return false;
  }

  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (!velmo::WriteSchedTaskKeepingServers(path, task, &error)) {
    // The file changed since it was checked: the task stays registered.
    error = path.string() + ": " + error;
    WriteErrorLog(velmo::NowText(), "SaveScheduledTask Config File Write Failure", "75", error);
    hourglass.Release();
    Ui().MsgBox("The scheduled task was registered, but the schedule settings could not be saved.\r\n" + error,
                velmo::ui::vbExclamation, kProductTitle);
    return false;
  }
  return true;
}

std::optional<std::vector<std::string>> ReadSavedTaskLine() {
  velmo::SchedConfigContents contents;
  if (!velmo::ReadSchedConfig(velmo::SchedConfigPath(), contents) || !contents.hasTask) return std::nullopt;
  return velmo::SplitSchedFields(velmo::FormatTaskLine(contents.task));
}
