// The component "KORVSchedule.JobScheduler" over the user's crontab.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <set>

#include "AppFolder.h"
#include "ComFactory.h"
#include "CronTable.h"
#include "IJobScheduler.h"
#include "TaskCredentials.h"
#include "TaskRules.h"
#include "TextParts.h"

namespace velmo::scheduler {

namespace {

const char* const kIdleRefused = "A task that runs when the computer is idle cannot be scheduled with cron.";
const char* const kLogonRefused = "A task that runs at user logon cannot be scheduled with cron.";

[[noreturn]] void BadValue(const std::string& what) {
  throw ComError(kBadTaskValue, "The parameter is incorrect. (" + what + ")");
}

struct PendingTask {
  std::string name, program, account, password;
  TaskRules rules;
  long interval = 0;
};

// An argument of the command as sh reads it: plain when it is made of safe
// characters only, else quoted.
std::string Arg(const std::string& a) {
  bool plain = !a.empty() && std::all_of(a.begin(), a.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '.' || c == ',' || c == ':' || c == '/' || c == '-';
  });
  return plain ? a : ShellQuote(a);
}

// The program's own name: the last part of a path written with "\" or "/",
// without a ".exe" ending.
std::string ProgramName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 4 && text::EqualNoCase(std::string_view(name).substr(name.size() - 4), ".exe"))
    name.resize(name.size() - 4);
  return name;
}

// The crontab lines of a task. "%" ends a command in cron, so it is escaped.
std::vector<std::string> CronLines(const PendingTask& t) {
  const std::string folder = AppFolderText();
  if (folder.find('\n') != std::string::npos || folder.find('\r') != std::string::npos)
    throw ComError(kTaskNotSaved, "The application folder's name holds a line break and cannot stand in a crontab.");
  std::vector<std::string> lines;
  auto command = [&](const TaskRules& r) {
    std::string c = "cd " + ShellQuote(folder) + CronTable::kRunnerStart;
    for (const auto& a : RuleArguments(r)) c += " " + Arg(a);
    c += " -- " + Arg("./" + ProgramName(t.program));
    std::string escaped;
    for (char ch : c) {
      if (ch == '%') escaped += '\\';
      escaped += ch;
    }
    return escaped;
  };
  if (t.rules.kind == kBoot) {
    TaskRules r = t.rules;
    r.duration = 0;
    r.stop = false;
    return {"@reboot " + command(r)};
  }
  for (const auto& times : MapCronTimes(t.rules.startMinute, t.interval, t.rules.duration)) {
    TaskRules r = t.rules;
    r.offset = times.offset;
    lines.push_back(times.minutes + " " + times.hours + " * * * " + command(r));
  }
  return lines;
}

class Job final : public IJob {
 public:
  explicit Job(std::shared_ptr<PendingTask> t) : t_(std::move(t)) {}

  void SetDaysInterval(int32_t days) override {
    if (days < 1) BadValue("days between runs");
    t_->rules.every = days;
  }
  void SetWeekInfo(int32_t weeks, const std::string& days) override {
    auto bits = ParseDayList(days);
    if (weeks < 1) BadValue("weeks between runs");
    if (!bits || !*bits) BadValue("days of the week");
    t_->rules.every = weeks;
    t_->rules.days = *bits;
  }
  void SetMonthlyDateInfo(int32_t day, const std::string& months) override {
    if (day < 1 || day > 31) BadValue("day of the month");
    t_->rules.dayOfMonth = day;
    t_->rules.months = Months(months);
  }
  void SetMonthlyDOWInfo(int16_t week, int16_t weekday, const std::string& months) override {
    if (week < 0 || week > 3) BadValue("week of the month");
    if (weekday < 0 || weekday > 6) BadValue("day of the week");
    t_->rules.week = week;
    t_->rules.weekday = weekday;
    t_->rules.months = Months(months);
  }
  // Idle tasks are refused when they are added; nothing to keep.
  void SetTaskIdleTime(int32_t, const std::string&) override {}
  void RepeatTask(int32_t duration, int32_t interval) override { Repeat(duration, interval, false); }
  void RepeatTask(int32_t duration, int32_t interval, int16_t stopAtEnd) override {
    Repeat(duration, interval, stopAtEnd == 1);
  }
  void StartTime(const std::string& time) override {
    auto m = ParseTaskTime(time);
    if (!m) BadValue("start time " + time);
    t_->rules.startMinute = *m;
  }
  void StartDate(const std::string& date) override {
    auto d = ParseTaskDate(date);
    if (!d) BadValue("start date " + date);
    t_->rules.start = d;
  }
  void EndDate(const std::string& date) override {
    if (date.empty()) {
      t_->rules.end.reset();
      return;
    }
    auto d = ParseTaskDate(date);
    if (!d) BadValue("end date " + date);
    t_->rules.end = d;
  }

 private:
  static unsigned Months(const std::string& text) {
    auto bits = ParseMonthList(text);
    if (!bits || !*bits) BadValue("months");
    return *bits;
  }
  void Repeat(int32_t duration, int32_t interval, bool stop) {
    if (interval < 1 || duration <= interval) BadValue("repetition");
    t_->interval = interval;
    t_->rules.duration = duration;
    t_->rules.stop = stop;
  }
  std::shared_ptr<PendingTask> t_;
};

class JobScheduler final : public com::ComObject, public IJobScheduler {
 public:
  void* QueryInterface(std::string_view iid) override {
    return iid == IJobScheduler::IID ? static_cast<IJobScheduler*>(this) : nullptr;
  }

  void AddTaskToScheduler(const std::string& taskName, const std::string& programPath, const std::string&,
                          const std::string& account, const std::string& password, int16_t& triggerKind,
                          int16_t&) override {
    if (triggerKind == kIdle) throw ComError(kKindNotSupported, kIdleRefused);
    if (triggerKind == kLogon) throw ComError(kKindNotSupported, kLogonRefused);
    if (triggerKind < 0 || triggerKind > 7) BadValue("trigger kind");
    if (taskName.empty() || taskName.find_first_of("\r\n/") != std::string::npos) BadValue("task name");
    if (ProgramName(programPath).empty()) BadValue("program");
    const bool pendingSame = pending_ && pending_->name == taskName;
    const bool saved = CronTable::TaskLines(CronTable::Read(), taskName).has_value();
    if (pendingSame || (saved && !deleted_.count(taskName))) throw ComError(kTaskExists, "The file exists.");

    auto t = std::make_shared<PendingTask>();
    t->name = taskName;
    t->program = programPath;
    t->account = account;
    t->password = password;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    const DayNumber today = DayOf(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    TaskRules& r = t->rules;
    r.task = taskName;
    r.kind = triggerKind;
    r.startMinute = local.tm_hour * 60 + local.tm_min;
    if (triggerKind != kBoot) r.start = today;
    r.days = 1u << WeekdayOf(today);
    r.dayOfMonth = local.tm_mday;
    r.months = 0xFFF;
    pending_ = t;
  }

  void DeleteTask(const std::string& taskName) override {
    const bool pendingSame = pending_ && pending_->name == taskName;
    if (!pendingSame && !CronTable::TaskLines(CronTable::Read(), taskName))
      throw ComError(kTaskNotFound, "The system cannot find the file specified.");
    if (pendingSame) pending_.reset();
    deleted_.insert(taskName);
  }

  std::shared_ptr<IJob> Job(const std::string& taskName) override {
    if (!pending_ || pending_->name != taskName)
      throw ComError(kTaskNotFound, "The system cannot find the file specified.");
    return std::make_shared<scheduler::Job>(pending_);
  }

  void SaveTask() override {
    if (!pending_ && deleted_.empty()) return;
    std::vector<std::string> lines;
    if (pending_) lines = CronLines(*pending_);
    std::string table = CronTable::Read();

    // The credentials go first; when the crontab then cannot be written the
    // stored ones are put back, so the old task keeps what it had.
    struct Stored {
      std::string name, account, password;
      bool present;
    };
    std::vector<Stored> before;
    auto remember = [&](const std::string& name) {
      Stored s{name, "", "", false};
      s.present = ReadTaskCredentials(name, s.account, s.password) == CredentialsRead::Ok;
      before.push_back(s);
    };
    auto restore = [&] {
      for (const auto& s : before) {
        if (s.present) WriteTaskCredentials(s.name, s.account, s.password);
        else RemoveTaskCredentials(s.name);
      }
    };
    std::string error;
    for (const auto& name : deleted_) {
      if (pending_ && pending_->name == name) continue;
      remember(name);
      table = CronTable::WithoutTask(table, name);
      if (!RemoveTaskCredentials(name, &error)) {
        restore();
        throw ComError(kTaskNotSaved, "The task's credentials could not be removed: " + error);
      }
    }
    if (pending_) {
      remember(pending_->name);
      table = CronTable::WithTask(table, pending_->name, lines);
      if (!UpdateTaskCredentials(pending_->name, pending_->account, pending_->password, &error)) {
        restore();
        throw ComError(kTaskNotSaved, "The task's credentials could not be saved: " + error);
      }
    }
    try {
      CronTable::Write(table);
    } catch (...) {
      restore();
      throw;
    }
    pending_.reset();
    deleted_.clear();
  }

 private:
  std::shared_ptr<PendingTask> pending_;
  std::set<std::string> deleted_;
};

}  // namespace

}  // namespace velmo::scheduler

namespace {

std::vector<std::pair<std::string, std::string>> Classes() {
  return {{velmo::scheduler::kJobSchedulerProgId, "JobScheduler"}};
}

velmo::com::ComObject* Make(std::string_view cls) {
  if (cls == "JobScheduler") return new velmo::scheduler::JobScheduler();
  return nullptr;
}

}  // namespace

VELMO_COM_LIBRARY(Classes(), Make)
