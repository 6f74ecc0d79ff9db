#pragma once
// The job-scheduler component, created by the ProgID
// "KORVSchedule.JobScheduler". It keeps scheduled tasks as blocks of the
// user's crontab (CronTable.h), each line starting the program through
// vjobrun, which checks the task's day rules.
//
// Calls are made in the order registration needs them: AddTaskToScheduler,
// (DeleteTask and AddTaskToScheduler again when the task exists), set-up
// calls on Job(name), SaveTask. Nothing reaches the crontab before SaveTask,
// which writes the table once, so a failure anywhere leaves the old task as
// it was. Failures are thrown as velmo::ComError.
#include <cstdint>
#include <memory>
#include <string>

#include "ComError.h"

namespace velmo::scheduler {

inline constexpr const char* kJobSchedulerProgId = "KORVSchedule.JobScheduler";

inline constexpr int32_t kTaskExists = Hr(0x80070050);      // "The file exists."
inline constexpr int32_t kTaskNotFound = Hr(0x80070002);    // "The system cannot find the file specified."
inline constexpr int32_t kBadTaskValue = Hr(0x80070057);    // "The parameter is incorrect."
inline constexpr int32_t kKindNotSupported = Hr(0x80070032);
inline constexpr int32_t kTaskNotSaved = Hr(0x80004005);

// The job object of a task being registered.
class IJob {
 public:
  virtual ~IJob() = default;
  virtual void SetDaysInterval(int32_t days) = 0;
  // Days as "MONDAY|FRIDAY" (a leading "|" allowed).
  virtual void SetWeekInfo(int32_t weeks, const std::string& days) = 0;
  // Months as "JANUARY|MARCH".
  virtual void SetMonthlyDateInfo(int32_t day, const std::string& months) = 0;
  // week 0 first .. 3 fourth; weekday 0 Monday .. 6 Sunday.
  virtual void SetMonthlyDOWInfo(int16_t week, int16_t weekday, const std::string& months) = 0;
  virtual void SetTaskIdleTime(int32_t minutes, const std::string& minutesText) = 0;
  // Minutes; stopAtEnd 1 ends the run when the duration is over.
  virtual void RepeatTask(int32_t duration, int32_t interval) = 0;
  virtual void RepeatTask(int32_t duration, int32_t interval, int16_t stopAtEnd) = 0;
  // "hh:mm" (24-hour, one-digit hours accepted).
  virtual void StartTime(const std::string& time) = 0;
  // "mm/dd/yyyy"; an empty end date means none.
  virtual void StartDate(const std::string& date) = 0;
  virtual void EndDate(const std::string& date) = 0;
};

class IJobScheduler {
 public:
  static constexpr const char* IID = "IJobScheduler";
  virtual ~IJobScheduler() = default;

  // Starts registering a task of the given trigger kind (0-7) that runs the
  // program (a path whose last part names a program of the application
  // folder; a ".exe" ending is dropped). Until set otherwise it runs daily
  // at the time of this call, from today. Throws kTaskExists when the task
  // is registered, kKindNotSupported for kinds 5 and 7 (changing nothing).
  virtual void AddTaskToScheduler(const std::string& taskName, const std::string& programPath,
                                  const std::string& parameters, const std::string& account,
                                  const std::string& password, int16_t& triggerKind, int16_t& repeatFlag) = 0;
  // Marks the task for removal at SaveTask; an AddTaskToScheduler of the same
  // name then replaces its block in place.
  virtual void DeleteTask(const std::string& taskName) = 0;
  // The job object of the task being registered.
  virtual std::shared_ptr<IJob> Job(const std::string& taskName) = 0;
  // Stores the credentials (a non-empty password, or keeps or removes the
  // stored one) and then writes the crontab once.
  virtual void SaveTask() = 0;
};

}  // namespace velmo::scheduler
