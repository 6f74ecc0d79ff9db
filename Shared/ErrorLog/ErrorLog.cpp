#include "ErrorLog.h"

#include "AppFolder.h"
#include "ComError.h"
#include "DateText.h"
#include "TextFile.h"

void WriteErrorLog(const std::string& When, const std::string& Context, const std::string& Number,
                   const std::string& Description) {
  const std::string blanks(6, ' ');
  try {
    velmo::AppendLine(velmo::AppPath("\\VelmorcastErrorLog.log"),
                      When + blanks + Number + blanks + Description + blanks + Context);
  } catch (...) {
    // The line is lost; the caller goes on.
  }
}

void LogFailure(const std::string& Context, int32_t Number, const std::string& Description) {
  WriteErrorLog(velmo::NowText(), Context, velmo::NumberText(Number), Description);
}

void LogFailure(const std::string& Context, const velmo::ComError& error) {
  LogFailure(Context, error.Number(), error.Description());
}
