#pragma once
// What the scheduled-run tests share: an application folder with an
// inventory of the full schema (the "Default" report seeded as the shell
// does), settings files, the schedule log's lines, and a recording stand-in
// for the directory collector.
#include <QLabel>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AppSchema.h"
#include "ComFactory.h"
#include "Database.h"
#include "DefaultColumnSets.h"
#include "FlexGrid.h"
#include "IExch55Info.h"
#include "InventoryKit.h"
#include "QtTestApp.h"
#include "SampleDirectory.h"
#include "ScheduleRun.h"
#include "TestHome.h"

namespace velmo::test {

inline void SeedDefaultReport(const std::filesystem::path& dir) {
  db::Connection conn;
  conn.Open((dir / "velmo.mdb").string());
  WriteCustomFieldNamesToDB(&conn);
  conn.Close();
}

inline void WriteFile(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

// A settings file: header, task line, then the given server lines.
inline void WriteSettings(const std::filesystem::path& home, const std::vector<std::string>& serverLines) {
  std::string text = "Scheduled Servers\r\nVelmorcastTask.job@@@CORP\\Administrator@@@1@@@02:00@@@1@@@@@@0@@@0@@@"
                     "12/09/2026@@@@@@0@@@0@@@0@@@\r\n";
  for (const auto& l : serverLines) text += l + "\r\n";
  WriteFile(home / "Schedule" / "SchedConfig.cfg", text);
}

// A server line: server, report, profile, operation, printer, format,
// folder, stamp.
inline std::string ServerLine(const std::string& server, const std::string& report, const std::string& profile,
                              const std::string& operation, const std::string& printer, const std::string& format,
                              const std::string& folder, const std::string& stamp = "12_09_2026_02_00_00") {
  return server + "@@@" + report + "@@@" + profile + "@@@" + operation + "@@@" + printer + "@@@" + format + "@@@" +
         folder + "@@@" + stamp;
}

inline std::vector<std::string> LogLines(const std::filesystem::path& home) {
  std::vector<std::string> lines;
  std::ifstream in(home / "Schedule" / "VelmorcastSchedLog.log", std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The entries of the log (lines whose message follows a date and time),
// each as the message alone, from five blanks on.
inline std::vector<std::string> LogMessages(const std::filesystem::path& home) {
  std::vector<std::string> out;
  for (const auto& l : LogLines(home)) {
    const auto at = l.find("     ");
    if (at != std::string::npos && at > 0 && isdigit(static_cast<unsigned char>(l[0]))) out.push_back(l.substr(at));
  }
  return out;
}

inline bool AnyStartsWith(const std::vector<std::string>& lines, const std::string& start) {
  for (const auto& l : lines)
    if (l.rfind(start, 0) == 0) return true;
  return false;
}

// The directory collector's stand-in: records each call with the status
// text and window caption shown when it was made.
struct RecordingCollector : com::ComObject, _Exch55Info {
  static inline std::vector<std::string> calls;
  static inline std::vector<std::string> statuses;
  static inline std::vector<std::string> captions;
  std::string log;
  void* QueryInterface(std::string_view iid) override {
    return iid == _Exch55Info::IID ? static_cast<_Exch55Info*>(this) : nullptr;
  }
  static void Note(const std::string& call, std::string* msg) {
    // The bind-error text is emptied before every call.
    calls.push_back(call + (msg && !msg->empty() ? " [msg not empty]" : ""));
    if (msg) *msg = "stale@@ 1  @@   x";
    auto* s = schedule::frmStatus;
    statuses.push_back(s ? s->lblStatus->text().toStdString() : "");
    captions.push_back(s ? s->windowTitle().toStdString() : "");
  }
  static std::string Args(const std::string& s, const std::string& u, const std::string& p) {
    return s + "," + u + "," + p;
  }
  void GetMailboxInfo(int16_t t, const std::string& s, const std::string& u, const std::string& p,
                      const std::string& path, std::string* m) override {
    Note("Mailbox" + std::to_string(t) + "(" + Args(s, u, p) + "," + path + ")", m);
  }
  void GetDLInfo(int16_t t, const std::string& s, const std::string& u, const std::string& p, const std::string& path,
                 std::string* m) override {
    Note("DL" + std::to_string(t) + "(" + Args(s, u, p) + "," + path + ")", m);
  }
  void GetPublicFolderInfo(int16_t t, const std::string&, const std::string&, const std::string&, long,
                           const std::string&, std::string* m) override {
    Note("PFInteractive" + std::to_string(t), m);
  }
  void GetCustomRecipInfo(int16_t t, const std::string& s, const std::string& u, const std::string& p,
                          const std::string& path, std::string* m) override {
    Note("CR" + std::to_string(t) + "(" + Args(s, u, p) + "," + path + ")", m);
  }
  void GetObjectsInContainer(const std::string&, const std::string&, const std::string&) override {
    Note("ObjectsInContainer", nullptr);
  }
  void GetProtocolInfo(const std::string& s, const std::string& u, const std::string& p, std::string* m) override {
    Note("Protocol(" + Args(s, u, p) + ")", m);
  }
  void GetPrivateISInfo(const std::string& s, const std::string& u, const std::string& p, std::string* m) override {
    Note("PrivateIS(" + Args(s, u, p) + ")", m);
  }
  void GetServerInfo(const std::string& s, const std::string& u, const std::string& p, std::string* m) override {
    Note("Server(" + Args(s, u, p) + ")", m);
  }
  void GetServerProtocolsInfo(const std::string& s, const std::string& u, const std::string& p,
                              std::string* m) override {
    Note("ServerProtocols(" + Args(s, u, p) + ")", m);
  }
  void GetPublicISInfo(const std::string& s, const std::string& u, const std::string& p, std::string* m) override {
    Note("PublicIS(" + Args(s, u, p) + ")", m);
  }
  void GetConnectorInfo(const std::string& s, const std::string& u, const std::string& p, std::string* m) override {
    Note("Connector(" + Args(s, u, p) + ")", m);
  }
  void GetPublicFolderInfoUsingProfile(int16_t t, const std::string& s, const std::string& u, const std::string& p,
                                       const std::string& profile, const std::string& path, std::string* m) override {
    Note("PF" + std::to_string(t) + "(" + Args(s, u, p) + "," + profile + "," + path + ")", m);
  }
  std::string ErrorLogFileName() const override { return log; }
  void ErrorLogFileName(const std::string& v) override {
    log = v;
    calls.push_back("ErrorLogFileName=" + v);
  }
};

// Puts the stand-in in place of the collector while it lives.
struct UseRecordingCollector {
  UseRecordingCollector() {
    RecordingCollector::calls.clear();
    RecordingCollector::statuses.clear();
    RecordingCollector::captions.clear();
    com::RegisterBuiltin("VELMO.Exch55Info", [] { return new RecordingCollector; });
  }
  ~UseRecordingCollector() { com::UnregisterBuiltin("VELMO.Exch55Info"); }
};

}  // namespace velmo::test
