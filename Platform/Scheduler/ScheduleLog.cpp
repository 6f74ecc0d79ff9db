#include "ScheduleLog.h"

#include <filesystem>
#include <system_error>

#include "AppFolder.h"
#include "DateText.h"
#include "TextFile.h"

namespace velmo::scheduler {

namespace {
constexpr const char* kProductName = "Velmorine for Exchange Server";
constexpr const char* kCopyright = "Copyright (C) 2003-2024 Velmorcast. All rights reserved.";
}  // namespace

std::string ScheduleLogHeader() {
  const std::string hyphens(71, '-');
  return "\r\n" + std::string(kProductName) + "\r\n" + kCopyright + "\r\n" + "Velmorcast Schedule Error Log.\r\n" +
         "Date   : " + NowText() + "\r\n" + hyphens + "\r\n" +
         "Date  Function Name   Description     Error Number    Error Description\r\n" + hyphens;
}

void AppendScheduleLog(const std::string& message) {
  std::error_code ec;
  std::filesystem::create_directories(AppPath("Schedule"), ec);
  AppendLine(AppPath(kScheduleLogName), message);
}

void LogAlreadyRunning() {
  AppendScheduleLog(ScheduleLogHeader());
  AppendScheduleLog(NowText() + "     Schedule_Main... : Application is already running :");
}

std::string LockFileFailureEntry(const std::string& lockFile, const std::string& reason) {
  return "     Schedule_Main... : Lock File Failure : " + lockFile + " : " + reason;
}

void LogLockFileFailure(const std::string& lockFile, const std::string& reason) {
  AppendScheduleLog(ScheduleLogHeader());
  AppendScheduleLog(NowText() + LockFileFailureEntry(lockFile, reason));
}

}  // namespace velmo::scheduler
