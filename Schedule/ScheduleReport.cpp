// The scheduled custom report: its sections, the status grid they fill and
// their export or printout.
#include <QApplication>
#include <QLabel>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "AppFolder.h"
#include "CategoryRules.h"
#include "ComFactory.h"
#include "Database.h"
#include "DateText.h"
#include "ExportWriters.h"
#include "FlexGrid.h"
#include "GridFit.h"
#include "IVLMRPrinter.h"
#include "InstanceLock.h"
#include "OutputFailures.h"
#include "OutputNames.h"
#include "Printers.h"
#include "RecordsetGrid.h"
#include "SchedConfig.h"
#include "ScheduleRun.h"
#include "StopSignals.h"
#include "TextFile.h"
#include "TextParts.h"

namespace velmo::schedule {

namespace fs = std::filesystem;

namespace {
bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string PathTerm(const std::string& path) { return " and [Object Path] = " + db::SqlQuote(path); }

// What one server line's output has done so far in this run.
struct ServerOutput {
  exporting::OutputNames names;
  bool mdbStarted = false;  // the temporary database of this run was begun
  int mdbWritten = 0;       // tables of this run in the temporary database
  int mdbFailed = 0;        // sections that may have rows and have no table: refused or not read
  int mdbEmpty = 0;         // sections over a data table whose query ran and found no rows
  bool mdbBusy = false;     // another program writes the file: nothing is written
  bool sectionHasTable = true;  // the section's page names a data table
  FileLock mdbWriter;       // held from the removal of leftovers to the rename
  std::string unguarded;    // why no lock at all could be taken on it
  bool folderTried = false;  // the export folder was looked for, and made when missing
  bool failed = false;       // something of the line's output was not written
  std::set<std::string> filesWritten;  // names of the CSV or HTML files this run wrote
};
ServerOutput gOutput;

// An entry telling of output the line did not write.
void LogOutputFailure(const std::string& message) {
  gOutput.failed = true;
  LogEntry(message);
}

// Files are written only inside a folder named in full: an empty or
// relative one would put them at the root or wherever the run happens to
// stand.
bool FolderUsable(const std::string& folder) { return SchedFolderIsFullPath(folder); }

// A missing export folder is made as Export Plus makes it: the folder
// itself only, never its parents, so a path whose parent is gone (a share
// not mounted) is not rebuilt on the local disk. Tried once a server line,
// before its first file: a folder that cannot be made is one entry, and
// each section then logs its own failure.
void MakeExportFolder(const std::string& folder) {
  if (gOutput.folderTried) return;
  gOutput.folderTried = true;
  const fs::path p = NativePath(folder);
  std::error_code ec;
  if (fs::is_directory(p, ec)) return;
  fs::create_directory(p, ec);
  // What stands in the folder's place is no folder.
  if (ec == std::errc::file_exists && !fs::is_directory(p)) ec = std::make_error_code(std::errc::not_a_directory);
  if (ec) LogOutputFailure("     DisplayInfo : Export Folder Not Made : " + p.string() + " : " + ec.message());
}

// The database of a server line is built under this name beside the real
// one and takes its place only once the line's report is complete, so a run
// cut off midway never leaves a partial file under the real name.
fs::path MdbBuildPath(const fs::path& target) {
  fs::path p = target;
  p += ".new";
  return p;
}

// The temporary database with its journal: left beside a new file of that
// name, an old journal would roll the new file back with the old file's
// pages.
void RemoveMdbBuild(const fs::path& building) {
  std::error_code ec;
  for (const char* suffix : {"", "-journal"}) {
    fs::path part = building;
    part += suffix;
    fs::remove(part, ec);
  }
}

// Two runs writing one database name (two application folders with the
// same line) would remove each other's temporary file. A writer holds an
// exclusive lock on a lock file of its own beside the output from the
// removal of a cut-off run's leftovers to the rename, waiting for another
// writer within the collection wait's bound. The lock file stays: one
// removed while another writer waits on it would exclude no one. False when
// another program kept writing the file (logged); where no lock can be
// taken at all the run writes without one, as before, and says so once it
// wrote (a folder where nothing can be made fails with its own entries).
bool TakeMdbWriter(const fs::path& target) {
  if (gOutput.mdbWriter.Held() || !gOutput.unguarded.empty()) return true;
  if (gOutput.mdbBusy) return false;
  fs::path lockFile = target;
  lockFile += ".writer.lock";
  const auto start = std::chrono::steady_clock::now();
  const auto limit = CollectionWaitLimit();
  bool told = false;
  while (true) {
    std::error_code error;
    switch (gOutput.mdbWriter.Try(lockFile, FileLock::Mode::Exclusive, error)) {
      case FileLock::Outcome::Taken:
        return true;
      case FileLock::Outcome::Failed:
        gOutput.unguarded = lockFile.string() + " : " + error.message();
        return true;
      case FileLock::Outcome::Held:
        break;
    }
    // A run being stopped does not wait: it writes nothing more.
    if (StopSignal() != 0) return false;
    if (std::chrono::steady_clock::now() - start >= limit) {
      gOutput.mdbBusy = true;
      SetStatus("");
      LogOutputFailure("     ExportToMDBFormat : File Not Written : " + target.string() +
                       " : another program is writing the file");
      return false;
    }
    if (!told) {
      told = true;
      SetStatus("Another program is writing '" + target.string() + "'. Waiting for it to finish.");
    }
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
}  // namespace

std::string PageWord(const std::string& tabName) {
  std::string word;
  if (Contains(tabName, "General")) word = "General";
  if (Contains(tabName, "Permissions")) word = "Permissions";
  if (!word.empty()) return word;
  // Any other page: its caption, the TabName after its object prefix.
  for (const char* prefix : {"Container1", "Container2", "ServerProtocols", "Message Transfer Agent",
                             "System Attendant", "Protocols", "Server"}) {
    const std::string p = prefix;
    if (tabName.compare(0, p.size(), p) == 0) return tabName.substr(p.size());
  }
  return tabName;
}

std::vector<ReportSection> SectionsOf(const std::string& tabName, const std::string& columnSet,
                                      const std::string& reportName, const std::string& server,
                                      const std::string& organisation, const std::string& site,
                                      bool tableHasHomeServer) {
  using exporting::TableStartsWith;
  std::vector<ReportSection> out;
  const std::string list = exporting::CategoryColumnList(columnSet, reportName);
  const std::string table = exporting::CategoryTableName(tabName);
  const std::string base = exporting::CategoryBaseStatement(list, table, server);
  const std::string serverPath = "o=" + organisation + "/ou=" + site + "/cn=Configuration/cn=Servers/cn=" + server;
  auto container = [&](size_t index, const std::string& word) {
    if (index < gstrContainerPaths.size() && index < gstrContainerNames.size())
      out.push_back({base + PathTerm(gstrContainerPaths[index]), gstrContainerNames[index] + " " + word});
  };

  if (TableStartsWith(table, "Protocol") || TableStartsWith(table, "Connector")) {
    out.push_back({base + exporting::CategoryRestriction(table, tabName), tabName});
  } else if (TableStartsWith(table, "ContainerInfo") || TableStartsWith(table, "ServerObjects")) {
    const std::string word = PageWord(tabName);
    if (Contains(tabName, "Container1")) {
      container(0, word);
      container(1, word);
    } else if (Contains(tabName, "Container2")) {
      for (size_t i : {2, 3, 4}) container(i, word);
      for (size_t i = 8; i < gstrContainerPaths.size(); ++i) container(i, word);
    } else if (Contains(tabName, "ServerProtocols")) {
      container(7, word);
    } else if (Contains(tabName, "Protocols")) {
      container(5, word);
    } else if (!Contains(tabName, "Server")) {
      const bool mta = Contains(tabName, "Message Transfer Agent");
      const bool sa = Contains(tabName, "System Attendant");
      if (mta) out.push_back({base + PathTerm(serverPath + "/cn=Microsoft MTA"), "Message Transfer Agent " + word});
      if (sa)
        out.push_back(
            {base + PathTerm(serverPath + "/cn=Microsoft System Attendant"), "System Attendant " + word});
      if (!mta && !sa) out.push_back({base, tabName});
    } else {
      container(6, word);
    }
  } else if (!TableStartsWith(table, "Mailbox") && !TableStartsWith(table, "DL") && !TableStartsWith(table, "PF") &&
             !TableStartsWith(table, "CR")) {
    if (TableStartsWith(table, "ServerPrivateIS"))
      out.push_back({base + PathTerm(serverPath + "/cn=Microsoft Private MDB"), "Private Information Store " + tabName});
    else if (TableStartsWith(table, "ServerPublicIS"))
      out.push_back({base + PathTerm(serverPath + "/cn=Microsoft Public MDB"), "Public Information Store " + tabName});
    else if (TableStartsWith(table, "DiagLogging"))
      out.push_back({base + exporting::DiagnosticsTerm(exporting::DiagnosticsPrefix(tabName, server)), tabName});
    else
      out.push_back({base, tabName});
  } else {
    for (size_t i = 8; i < gstrContainerPaths.size() && i < gstrContainerNames.size(); ++i)
      out.push_back({base + PathTerm(gstrContainerPaths[i]), gstrContainerNames[i] + " " + tabName});
    if (tableHasHomeServer)
      out.push_back({base + " and [Home Server]=" + db::SqlQuote(server), "Server Recipients " + tabName});
  }
  return out;
}

void BeginServerOutput() { gOutput = ServerOutput{}; }

void EndServerOutput(const std::string& server, const std::string& operation, const std::string& format,
                     const std::string& folder, const std::string& runStamp) {
  if (!(operation == "Export" || operation == "Both") || format != "MDB" || !FolderUsable(folder)) return;
  const fs::path target = NativePath(MdbFileName(folder, server, runStamp));
  const fs::path building = MdbBuildPath(target);
  std::error_code ec;
  // Another program writes this file: it is left to that program.
  if (!TakeMdbWriter(target)) return;
  // A run stopped by a signal drops the database it was building and
  // keeps the last complete one, as a run cut off would.
  const bool stopped = StopSignal() != 0;
  if (gOutput.mdbWritten > 0 && gOutput.mdbFailed == 0 && !stopped) {
    // Every section was tried and each one with rows has its table: this
    // run's database replaces the last one whole.
    fs::rename(building, target, ec);
    if (ec) {
      LogOutputFailure("     ExportToMDBFormat : Database Creation Failure : " + ErrorText(E_FAIL_, ec.message()));
      RemoveMdbBuild(building);
    } else {
      SyncFolderOf(target);
    }
    if (!gOutput.unguarded.empty())
      LogEntry("     ExportToMDBFormat : Writer Lock File Failure : " + gOutput.unguarded + " : written without it");
  } else {
    RemoveMdbBuild(building);
    if (gOutput.mdbFailed > 0 && !stopped) {
      // A database lacking some of its tables (a disk filling up part-way,
      // a section query that failed) would pass for the whole report, and
      // a report none of whose queries ran is no report without rows: the
      // last complete one stays.
      const int tables = gOutput.mdbWritten + gOutput.mdbFailed;
      const std::string why = std::to_string(gOutput.mdbFailed) + " of " + std::to_string(tables) +
                              " tables not written";
      LogOutputFailure(fs::exists(target, ec)
                           ? "     ExportToMDBFormat : Database Not Replaced : " + target.string() + " : " + why +
                                 " : the last complete database is kept"
                           : "     ExportToMDBFormat : Database Not Written : " + target.string() + " : " + why);
    } else if (!stopped && gOutput.mdbEmpty == 0) {
      // No section of the report names a data table: there is nothing to
      // write, and nothing says the last database is out of date.
      const std::string why = "the report names no data table";
      LogOutputFailure(fs::exists(target, ec)
                           ? "     ExportToMDBFormat : Database Not Replaced : " + target.string() + " : " + why +
                                 " : the last complete database is kept"
                           : "     ExportToMDBFormat : Database Not Written : " + target.string() + " : " + why);
    } else if (!stopped) {
      // A run whose report truly had no rows (every query ran and found
      // none) leaves no database of an earlier run looking like its own.
      fs::remove(target, ec);
    }
  }
  gOutput.mdbStarted = false;
  gOutput.mdbWritten = gOutput.mdbFailed = gOutput.mdbEmpty = 0;
  gOutput.mdbWriter.Unlock();
}

namespace {
// After a whole run of a CSV or HTML line, the files of its folder that
// carry its own names (server, run stamp and extension exactly as its
// sections' files are named) and that this run did not write are sections
// that no longer exist (a container renamed or deleted): left, they would
// pass for this run's output. Only regular files of this user go; one that
// cannot be removed is logged. The count removed is the line's entry.
void RemoveEarlierOutputs(const std::string& server, const std::string& format, const std::string& folder,
                          const std::string& runStamp) {
  const std::string extension = format == "CSV" ? ".csv" : ".html";
  // The naming itself gives the fixed parts: what stands around a label.
  const std::string marker = "\x01";
  const std::string sample = NativePath(OutputFileName(folder, server, marker, runStamp, extension)).filename().string();
  const std::string prefix = sample.substr(0, sample.find(marker));
  const std::string suffix = sample.substr(sample.find(marker) + marker.size());
  const fs::path dir = NativePath(folder);
  std::error_code ec;
  std::vector<fs::path> earlier;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix)) continue;
    if (gOutput.filesWritten.count(name)) continue;
    // A label never holds a separator, and is text.
    const std::string label = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    bool text = label.find('\\') == std::string::npos;
    for (size_t i = 0; text && i < label.size();) {
      const size_t n = velmo::text::Utf8CharLength(label, i);
      text = n > 0;
      i += n;
    }
    if (!text) continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    earlier.push_back(it->path());
  }
  int removed = 0;
  for (const fs::path& file : earlier) {
    std::error_code why;
    if (fs::remove(file, why)) {
      ++removed;
    } else if (why) {
      LogOutputFailure("     DisplayInfo : Earlier Output Not Removed : " + file.string() + " : " + why.message());
    }
  }
  if (removed > 0) {
    SyncFolderOf(dir / "x");
    LogEntry("     DisplayInfo : Earlier Outputs Removed : " + dir.string() + " : " + std::to_string(removed) +
             (removed == 1 ? " file" : " files") + " of server -'" + EscapedSchedText(server) +
             "' that no section of this run wrote");
  }
}
}  // namespace

bool DisplayInfo(const std::string& server, const std::string& organisation, const std::string& site,
                 const std::string& reportName, const std::string& operation, const std::string& printer,
                 const std::string& format, const std::string& folder, const std::string& runStamp) {
  BeginServerOutput();
  std::vector<std::pair<std::string, std::string>> rows;
  try {
    db::Recordset rs;
    rs.Open("Select * from VELMORCCustomReports where CustomReportName=?", *gConn, {db::Value(reportName)},
            db::adOpenKeyset, db::adLockOptimistic);
    while (!rs.Eof()) {
      rows.emplace_back(velmo::text::Trim(rs[0L].Text()), velmo::text::Trim(rs[2L].Text()));
      rs.MoveNext();
    }
    rs.Close();
  } catch (const ComError& e) {
    LogOutputFailure("     DisplayInfo : Recordset Object Open Failure : " + ErrorText(e.Number(), e.Description()));
    return false;
  }
  if (rows.empty()) {
    // A report the database does not hold makes no section: the line's
    // outputs of earlier runs stay as they are, and the log says why.
    LogOutputFailure("     DisplayInfo : Custom Report Not Found : '" + EscapedSchedText(reportName) + "'");
    return false;
  }
  std::map<std::string, bool> homeServer;  // by table
  for (const auto& [tabName, columnSet] : rows) {
    if (StopSignal() != 0) break;
    const std::string table = exporting::CategoryTableName(tabName);
    if (!homeServer.count(table)) homeServer[table] = TableHasColumn(table, "Home Server");
    gOutput.sectionHasTable = !table.empty();
    for (const ReportSection& section :
         SectionsOf(tabName, columnSet, reportName, server, organisation, site, homeServer[table])) {
      // A stop signal ends the output between two sections: the files
      // written so far are whole and stay.
      if (StopSignal() != 0) break;
      ProcessReportOutput(server, organisation, site, reportName, operation, printer, format, folder, runStamp,
                          section.statement, section.label);
    }
  }
  EndServerOutput(server, operation, format, folder, runStamp);
  // Only a whole run says which sections exist: one cut short (a failed
  // section, a stop signal) keeps every earlier file.
  if ((operation == "Export" || operation == "Both") && (format == "CSV" || format == "HTML") &&
      FolderUsable(folder) && !gOutput.failed && StopSignal() == 0)
    RemoveEarlierOutputs(server, format, folder, runStamp);
  return !gOutput.failed;
}

bool TableHasColumn(const std::string& table, const std::string& column) {
  if (!gConn || table.empty()) return false;
  try {
    db::Recordset rs;
    rs.Open("select * from " + db::QuoteIdent(table) + " where 1=0", *gConn, db::adOpenForwardOnly,
            db::adLockReadOnly);
    auto& fields = rs.GetFields();
    for (long i = 0; i < fields.Count(); ++i)
      if (velmo::text::Trim(fields[i].Name()) == column) return true;
  } catch (const ComError&) {
  }
  return false;
}

std::string OutputFileName(const std::string& folder, const std::string& server, const std::string& label,
                           const std::string& runStamp, const std::string& extension) {
  std::string name = server + "_" + label + "_" + runStamp + extension;
  // Neither separator of a path may split the name.
  for (char& c : name)
    if (c == '/' || c == '\\') c = '_';
  return folder + "\\" + name;
}

std::string MdbFileName(const std::string& folder, const std::string& server, const std::string& runStamp) {
  return folder + "\\" + server + "_" + runStamp + ".mdb";
}

void AutoSizeGrid(velmo::FlexGrid& grid) {
  if (frmStatus) frmStatus->lblStatus->setFont(grid.font());
  FitGridColumnWidths(grid);
}

int GetRowSpan(int row, const std::string& value) { return exporting::GetRowSpan(*frmStatus->Grd1, row, value); }

bool ExportToCSVFormat(const std::string& file, std::string* reason) {
  std::string why;
  const bool ok = exporting::WriteGridCsv(*frmStatus->Grd1, gstrReportTitle, NativePath(file), why);
  if (reason) *reason = why;
  return ok;
}

bool ExportToHTMLFormat(const std::string& file, std::string* reason) {
  std::string why;
  const bool ok = exporting::WriteGridHtml(*frmStatus->Grd1, gstrReportTitle, NativePath(file), why);
  if (reason) *reason = why;
  return ok;
}

bool ExportToMDBFormat(const std::string& file, const std::string& label) {
  const fs::path building = MdbBuildPath(NativePath(file));
  const std::string table = exporting::ExportPlusTableName(label);
  std::string reason;
  if (!TakeMdbWriter(NativePath(file))) return false;
  if (!gOutput.mdbStarted) {
    // What a run cut off before left under the temporary name is not this
    // run's, and neither is its journal.
    RemoveMdbBuild(building);
    gOutput.mdbStarted = true;
  }
  const exporting::TableWrite result =
      exporting::WriteGridTable(*frmStatus->Grd1, building, table, exporting::ColumnRule::ExportPlus, false, reason);
  if (result == exporting::TableWrite::Written) {
    ++gOutput.mdbWritten;
    return true;
  }
  // Two labels of one run giving one table name is no failure of the
  // file: the run writes the same file every time, and keeping the last
  // one for it would keep it for ever.
  if (result == exporting::TableWrite::Failed) ++gOutput.mdbFailed;
  const int32_t number = result == exporting::TableWrite::TableExists ? db::kDbSyntaxOrExists : E_FAIL_;
  LogOutputFailure("     ExportToMDBFormat : Create Table Failure : " + ErrorText(number, reason) + " : " + label +
                   " : " + NativePath(file).string());
  return false;
}

bool PrintReportGrid(int printFlag, const std::string& printerName, const std::string& label) {
  std::shared_ptr<IVLMRPrinter> component;
  try {
    component = com::CreateObject<IVLMRPrinter>("VLMRPreview.IVLMRPrinter");
  } catch (const ComError& e) {
    LogOutputFailure("     ProcessReportOutput : " + label + " : " + ErrorText(e.Number(), e.Description()));
    return false;
  }
  component->ProductName(kProductTitle);
  component->SourceGrid(frmStatus->Grd1);
  component->Title1(exporting::kHeadingText, ALIGNCENTRE, "", 14);
  component->TitleSeprator(true);
  component->Title2(gstrReportTitle, ALIGNLEFT, "", 0);
  component->Title3(NowText(), ALIGNLEFT, "", 0);
  component->FixedRowShade(true);
  if (printFlag == 0) return true;
  for (const std::string& device : printers::DeviceNames())
    if (device == printerName) {
      CurrentPrinterName() = printerName;
      // One section of many: no idle second before each job.
      component->BatchMode(true);
      // What the job shows goes into the section's one entry.
      std::vector<std::string> shown;
      {
        exporting::KeptMessages kept;
        component->PrintReport();
        shown = kept.Texts();
      }
      const PrintJobOutcome outcome = component->LastJobOutcome();
      if (outcome == PrintJobOutcome::Printed || outcome == PrintJobOutcome::Cancelled ||
          (outcome == PrintJobOutcome::None && shown.empty()))
        return true;
      const std::string file =
          exporting::PrintJobFile(printers::Current(), gstrReportTitle, component->LastJobFile());
      LogOutputFailure("     ProcessReportOutput : " + label + " : Not Printed : " +
                       (file.empty() ? printerName : file) + " : " +
                       exporting::PrintJobFailureReason(shown, component->LastJobError()));
      return false;
    }
  LogOutputFailure("     ProcessReportOutput : " + label + " : Printer Not Found : " + printerName);
  return false;
}

void ProcessReportOutput(const std::string& server, const std::string& /*organisation*/, const std::string& /*site*/,
                         const std::string& /*reportName*/, const std::string& operation, const std::string& printer,
                         const std::string& format, const std::string& folder, const std::string& runStamp,
                         const std::string& statement, const std::string& rawLabel) {
  const bool exporting = operation == "Export" || operation == "Both";
  const bool printing = (operation == "Print" || operation == "Both") && !printer.empty();
  // Every section takes its name in this run, with rows or without, so
  // that a label keeps its "_2" from run to run.
  const std::string label = gOutput.names.Unique(rawLabel);
  velmo::FlexGrid& grid = *frmStatus->Grd1;
  long count = 0;
  try {
    db::Recordset rs;
    rs.Open(statement, *gConn, db::adOpenKeyset, db::adLockOptimistic);
    grid.Clear();
    grid.ColWidth(0, 0);
    const long fields = rs.GetFields().Count();
    count = rs.RecordCount();
    grid.Cols(static_cast<int>(fields + 1));
    grid.MergeCells(3);
    for (long i = 0; i < fields; ++i) grid.MergeCol(static_cast<int>(i), true);
    grid.SetData(exporting::RecordsetGridRows(rs));
    rs.Close();
  } catch (const ComError& e) {
    LogOutputFailure("     ProcessReportOutput : " + label + " : " + ErrorText(e.Number(), e.Description()));
    // A section whose query failed may have had rows: its table is missing
    // from this run's database as surely as one the file refused. A page
    // that names no data table has none to lose.
    if (exporting && format == "MDB" && FolderUsable(folder) && gOutput.sectionHasTable) ++gOutput.mdbFailed;
    gstrReportTitle.clear();
    return;
  }
  QApplication::processEvents();
  const bool folderUsable = FolderUsable(folder);
  if (count <= 0) {
    // Nothing this run: last run's file of this name must not pass for
    // this run's output.
    if (exporting && format == "MDB" && folderUsable && gOutput.sectionHasTable) ++gOutput.mdbEmpty;
    if (exporting && folderUsable && (format == "CSV" || format == "HTML")) {
      std::error_code ec;
      fs::remove(NativePath(OutputFileName(folder, server, label, runStamp, format == "CSV" ? ".csv" : ".html")), ec);
    }
    return;
  }
  AutoSizeGrid(grid);
  grid.ColWidth(0, 0);
  gstrReportTitle = rawLabel + " - '" + server + "'";
  auto notWritten = [&](const std::string& file, const std::string& reason) {
    LogOutputFailure("     ProcessReportOutput : " + label + " : File Not Written : " + NativePath(file).string() +
                     " : " + reason);
  };
  if (exporting && !folderUsable && (format == "MDB" || format == "CSV" || format == "HTML")) {
    // No file name was tried: the entry names the folder as the line gives it.
    LogOutputFailure("     ProcessReportOutput : " + label + " : File Not Written : Export Folder Not A Full Path : '" +
                     EscapedSchedText(folder) + "'");
  } else if (exporting) {
    if (format == "MDB" || format == "CSV" || format == "HTML") MakeExportFolder(folder);
    if (format == "MDB") {
      ExportToMDBFormat(MdbFileName(folder, server, runStamp), label);
    } else if (format == "CSV" || format == "HTML") {
      const std::string file = OutputFileName(folder, server, label, runStamp, format == "CSV" ? ".csv" : ".html");
      std::string reason;
      if (!(format == "CSV" ? ExportToCSVFormat(file, &reason) : ExportToHTMLFormat(file, &reason)))
        notWritten(file, reason);
      else
        gOutput.filesWritten.insert(NativePath(file).filename().string());
    }
  }
  if (printing) PrintReportGrid(1, printer, label);
  gstrReportTitle.clear();
}

}  // namespace velmo::schedule
