// The Export command and the writers' mode "0" and "1" wrappers.
#include "modExport.h"

#include <QApplication>
#include <QCursor>

#include <filesystem>
#include <system_error>

#include "AppFolder.h"
#include "ExportWriters.h"
#include "FlexGrid.h"
#include "Mdifrm.h"
#include "StopSignals.h"
#include "TextParts.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "frmAutoFormat.h"
#include "modExch.h"
#include "modGlobals.h"

using velmo::ui::Ui;
namespace ex = velmo::exporting;

std::string gstrExportFile;

namespace {

// The wait pointer while a file is written.
using Hourglass = velmo::ui::WaitCursor;

bool Interactive(const std::string& mode) { return mode == "0"; }

void ShowFailure(const std::string& file, const std::string& reason) {
  Ui().MsgBox("The report could not be exported to '" + file + "'.\n" + reason, velmo::ui::vbCritical, kProductTitle);
}

// Reports the outcome of a write as the mode asks.
bool Outcome(const std::string& mode, bool ok, const std::string& file, const std::string& reason,
             std::string* failure, const char* success) {
  if (!ok && failure) *failure = reason;
  // A write given up for a stop request is said by nobody: the program ends.
  if (Interactive(mode) && velmo::StopSignal() == 0) {
    if (ok)
      Ui().MsgBox(success, velmo::ui::vbInformation, kProductTitle);
    else
      ShowFailure(file, reason);
  }
  return ok;
}

std::string Trimmed(const std::string& s) { return velmo::text::Trim(s); }

// The extension a save dialog's filter offers: ".mdb" of
// "SQLite database (*.mdb)"; "" when it names none.
std::string FilterExtension(const std::string& filter) {
  const size_t at = filter.rfind("(*.");
  const size_t end = at == std::string::npos ? at : filter.find(')', at);
  return end == std::string::npos ? std::string() : filter.substr(at + 2, end - at - 2);
}

}  // namespace

velmo::FlexGrid* ExportSourceGrid(const std::string& mode) {
  if (!Interactive(mode)) return gfrmExportPlusPrint ? gfrmExportPlusPrint->Grd1() : nullptr;
  if (gbCustomReport) return gfrmCustomReport ? gfrmCustomReport->grd1() : nullptr;
  return gfrmCurrent ? gfrmCurrent->Grd1() : nullptr;
}

namespace {

using GridWriter = bool (*)(const velmo::FlexGrid&, const std::string&, const std::filesystem::path&, std::string&,
                            const std::string&);

// Writes the mode's grid to a text file with one of the writers.
bool ExportGridWith(GridWriter write, const std::string& mode, const std::string& file, std::string* failure) {
  velmo::FlexGrid* grid = ExportSourceGrid(mode);
  std::string reason = "There is no report to export.";
  bool ok = false;
  if (grid) {
    const velmo::WorkUnderWay work;
    Hourglass hourglass;
    ok = write(*grid, gstrReportTitle, velmo::NativePath(file), reason, "");
  }
  return Outcome(mode, ok, file, reason, failure, "Report exported successfully.");
}

}  // namespace

bool ExportGridToCsv(const std::string& mode, const std::string& file, std::string* failure) {
  return ExportGridWith(ex::WriteGridCsv, mode, file, failure);
}

bool ExportGridToHtml(const std::string& mode, const std::string& file, std::string* failure) {
  return ExportGridWith(ex::WriteGridHtml, mode, file, failure);
}

int GetRowSpan(int row, const std::string& value) {
  velmo::FlexGrid* grid = ExportSourceGrid("0");
  return grid ? ex::GetRowSpan(*grid, row, value) : 0;
}

std::string ExportGridToMdbTable() {
  std::string name;
  if (!Ui().InputBox("Enter the table name", kProductTitle, name)) return "Yes";
  name = Trimmed(name);
  if (name.empty()) return "Yes";
  const auto file = velmo::NativePath(gstrExportFile);
  bool replace = false;
  // Only a table that is really in the file is offered for replacing.
  if (ex::DatabaseHasTable(file, name)) {
    if (Ui().MsgBox("Table '" + name + "' already exists.Do you want to overwrite it?", velmo::ui::vbYesNo,
                    kProductTitle) != velmo::ui::vbYes)
      return "No";
    replace = true;
  }
  velmo::FlexGrid* grid = ExportSourceGrid("0");
  std::string reason = "There is no report to export.";
  bool ok = false;
  if (grid) {
    const velmo::WorkUnderWay work;
    Hourglass hourglass;
    ok = ex::WriteGridTable(*grid, file, name, ex::ColumnRule::Interactive, replace, reason) ==
         ex::TableWrite::Written;
  }
  Outcome("0", ok, gstrExportFile, reason, nullptr, "Report has been exported successfully.");
  return "Yes";
}

bool ExportPlusGridToMdb(const std::string& file, const std::string& label, std::string* failure) {
  velmo::FlexGrid* grid = ExportSourceGrid("1");
  std::string reason = "There is no report to export.";
  const bool ok = grid && ex::WriteGridTable(*grid, velmo::NativePath(file), ex::ExportPlusTableName(label),
                                             ex::ColumnRule::ExportPlus, false, reason) == ex::TableWrite::Written;
  return Outcome("1", ok, file, reason, failure, "");
}

void ExportReport() {
  gstrExportFile.clear();
  velmo::ui::SaveFileRequest request;
  request.folder = velmo::NativePath(velmo::AppFolderText() + "\\Export").string();
  request.filters = {kExportFilterMdb, kExportFilterHtml, kExportFilterCsv};
  request.filterIndex = 1;
  request.confirmOverwrite = true;
  gstrExportFile = Ui().SaveFileName(request, 0);
  if (gstrExportFile.empty()) return;
  // A name without an extension gets the chosen type's, so that the file
  // is among those the dialog lists for its type; a name with one keeps
  // it (the type chosen still decides what is written).
  if (request.filterIndex >= 1 && request.filterIndex <= static_cast<int>(request.filters.size()) &&
      velmo::NativePath(gstrExportFile).extension().empty()) {
    gstrExportFile += FilterExtension(request.filters[static_cast<size_t>(request.filterIndex - 1)]);
    // The dialog asked about the name as typed: a page or text file of
    // the name it now has is replaced only when the user agrees, as the
    // dialog would have asked. A database file gets one more table.
    std::error_code ec;
    if (request.filterIndex != 1 && std::filesystem::exists(velmo::NativePath(gstrExportFile), ec) &&
        Ui().MsgBox("'" + gstrExportFile + "' already exists.\r\nDo you want to replace it?",
                    velmo::ui::vbYesNo + velmo::ui::vbExclamation, kProductTitle) != velmo::ui::vbYes)
      return;
  }

  // The title and the grid written come from the same window. The
  // hourglass shows while a writer works, not over the boxes that ask.
  SetCurrentExchWindow();
  gstrReportTitle = BuildReportTitle();
  switch (request.filterIndex) {
    case 1:
      while (ExportGridToMdbTable() == "No") {
      }
      break;
    case 2:
      ExportGridToHtml("0", gstrExportFile);
      break;
    case 3:
      ExportGridToCsv("0", gstrExportFile);
      break;
    default:
      break;
  }
}

namespace {
void InstallExportSeam() {
  Mdifrm::Seams().exportReport = [] { ExportReport(); };
  // A long export lets the windows repaint, as a directory wait does, and
  // is given up on a stop request.
  ex::SetRowPump([] {
    DirectoryWaitHook();
    return velmo::StopSignal() == 0;
  });
}
const bool kExportSeam = (InstallExportSeam(), true);
}  // namespace
