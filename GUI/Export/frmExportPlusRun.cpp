// The Export Plus run: collecting the ticked pages again (GetAllInfo) and
// writing or printing one output per page (DisplayInfo, FillGridAndExport).
#include <QCoreApplication>

#include <filesystem>
#include <memory>
#include <system_error>

#include "AppFolder.h"
#include "ComError.h"
#include "ComFactory.h"
#include "Database.h"
#include "DatabaseMaintenance.h"
#include "DateText.h"
#include "ExportPlusOutputs.h"
#include "ExportPlusWorkList.h"
#include "ExportWriters.h"
#include "FlexGrid.h"
#include "IExch55.h"
#include "IExch55Info.h"
#include "IVLMRPrinter.h"
#include "Printers.h"
#include "RecordsetGrid.h"
#include "StopSignals.h"
#include "TextParts.h"
#include "Ui.h"
#include "frmAutoFormat.h"
#include "frmExportPlus.h"
#include "modExch.h"
#include "modExchConnect.h"
#include "modGlobals.h"

using velmo::ui::Ui;
namespace db = velmo::db;

namespace {

constexpr const char* kCrLf = "\r\n";

void Yield() { QCoreApplication::processEvents(); }

using velmo::text::StartsWithNoCase;

// The collector member and page that fill a data table.
enum class Member { None, Mailbox, DL, PFProfile, PF, CR };
struct Filler {
  Member member = Member::None;
  int16_t type = 0;
};

Filler FillerOf(const std::string& table) {
  static const char* const mailbox[] = {"MailboxGeneral",    "MailboxOrgnPhoneNotes", "MailboxPerm",
                                        "MailboxDLEMailAddr", "MailboxDelivRestr",     "MailboxProtocols",
                                        "MailboxCustomAttr", "MailboxAdvanced"};
  static const char* const lists[] = {"DLGeneral",    "DLPerm",       "DLDLEMailAddr",
                                      "DLDelivRestr", "DLCustomAttr", "DLAdvanced"};
  static const char* const folders[] = {"PFGeneral", "PFPerm", "PFDLEMailAddr", "PFCustomAttr", "PFAdvanced"};
  static const char* const custom[] = {"CRGeneral",    "CROrgnPhoneNotes", "CRPerm",       "CRDLEMailAddr",
                                       "CRDelivRestr", "CRProtocols",      "CRCustomAttr", "CRAdvanced"};
  auto find = [&](const auto& names, Member m) -> Filler {
    for (size_t i = 0; i < std::size(names); ++i)
      if (table == names[i]) return {m, static_cast<int16_t>(i)};
    return {};
  };
  for (Filler f : {find(mailbox, Member::Mailbox), find(lists, Member::DL), find(folders, Member::PF),
                   find(custom, Member::CR)})
    if (f.member != Member::None) {
      if (f.member == Member::PF && f.type == 0) f.member = Member::PFProfile;
      return f;
    }
  return {};
}

bool IsRecipientGroup(const std::string& group) {
  return group == "Mailboxes" || group == "Distribution Lists" || group == "Public Folders" ||
         group == "Custom Recipients";
}

}  // namespace

bool frmExportPlus::RunEnding() const { return iCancelClicked == 1 || velmo::StopSignal() != 0; }

void frmExportPlus::LogRunStopped() const {
  LogFailure("frmExportPlus cmdExport Run Stopped ", velmo::E_FAIL_,
             "signal " + velmo::StopSignalName(velmo::StopSignal()) + " : " + std::to_string(outputsWritten_) +
                 (outputsWritten_ == 1 ? " output" : " outputs") + " written");
}

void frmExportPlus::NoteFailure(const char* context, velmo::exporting::OutputFailure failure) {
  LogFailure(context, velmo::E_FAIL_, velmo::exporting::FailureText(failure));
  failures_.push_back(std::move(failure));
}

void frmExportPlus::AddBindErrors(const std::string& text) {
  if (text.empty()) return;
  // Items of separate calls stay separate items.
  if (!strBindErrors_.empty()) strBindErrors_ += "_";
  strBindErrors_ += text;
}

// =============================================================== collect

bool frmExportPlus::TakeCollectionLock() {
  namespace ex = velmo::exporting;
  collectionLock_ = std::make_unique<ex::CollectionLock>();
  std::string why;
  bool firstTime = false;
  auto outcome = collectionLock_->Take(gstrDBPath, strEPServerName, nullptr, &why, &firstTime);
  if (outcome == ex::CollectionLock::Outcome::Busy) {
    frmAutoFormat progress(this);
    progress.iEPInfo = 3;
    progress.collectionLock = collectionLock_.get();
    progress.ShowModal();
    outcome = progress.collectionOutcome;
    firstTime = false;
  }
  if (outcome == ex::CollectionLock::Outcome::Unguarded && firstTime)
    LogFailure("frmExportPlus cmdExport CollectionLockFile Failed ", velmo::E_FAIL_,
               ex::CollectionLock::CompanionFile(gstrDBPath).string() + " : " + why);
  iCancelClicked = 0;
  if (outcome == ex::CollectionLock::Outcome::Taken || outcome == ex::CollectionLock::Outcome::Unguarded) return true;
  // A wait a stop request gave up is said by the run's stop entry.
  if (velmo::StopSignal() == 0) Ui().MsgBox(kStoppedWaitingText, velmo::ui::vbInformation, kProductTitle);
  return false;
}

void frmExportPlus::GetAllInfo(const std::string& strServerName, const std::string& strUserName,
                               const std::string& strPassword, const std::string& strOrganizationName,
                               const std::string& strSiteName) {
  const std::string& S = strServerName;
  const std::string& U = strUserName;
  const std::string& P = strPassword;
  strBindErrors_.clear();
  collectionCut_.clear();

  std::shared_ptr<_Exch55Info> info;
  std::shared_ptr<_Exch55InfoOutcome> outcome;  // what its calls left undone
  try {
    const std::shared_ptr<velmo::com::ComObject> object = velmo::com::CreateObjectRaw("VELMO.Exch55Info");
    info = velmo::com::QueryInterface<_Exch55Info>(object);
    if (info) info->ErrorLogFileName("VelmorcastErrorLog.log");
    outcome = velmo::com::QueryInterface<_Exch55InfoOutcome>(object);
    // The run's calls are one collection: a server not reached by one of
    // them is not asked again, and the closing message tells the cut.
    if (outcome) outcome->BeginCollection();
  } catch (const std::exception&) {
    info.reset();
  }

  SetProgressStatus("Retrieving Container Information from '" + S + "'");
  if (!RunEnding()) {
    std::string err;
    if (info) info->GetServerInfo(S, U, P, &err);
    AddBindErrors(err);
    Yield();
  }

  // Server Recipients first: its walk writes every container's rows of
  // the site once, and the containers' own entries then find them.
  std::vector<std::vector<std::string>> items;
  for (const auto& entry : workList_) {
    auto f = SplitWorkItem(entry);
    if (f[3] == "Server Recipients") items.push_back(std::move(f));
  }
  for (const auto& entry : workList_) {
    auto f = SplitWorkItem(entry);
    if (f[3] != "Server Recipients") items.push_back(std::move(f));
  }

  for (const auto& f : items) {
    // Server Recipients' pages sit at top level, without a group caption.
    const bool serverRecipients = f[3] == "Server Recipients";
    if (!(IsRecipientGroup(f[1]) || serverRecipients) || f[2].empty()) continue;
    const std::string table = GetTableName(f[2]);
    const Filler filler = FillerOf(table);
    long found = -1;
    if (gConn && !table.empty()) {
      try {
        db::Recordset rs;
        rs.Open("select count(*) from [" + table + "] where ServerName = ? and " +
                    (serverRecipients ? "[Home Server] = ?" : "[Object Path] = ?"),
                *gConn, {db::Value(S), db::Value(serverRecipients ? S : f[0])}, db::adOpenKeyset,
                db::adLockOptimistic);
        found = rs.Eof() ? 0 : std::stol(rs[0L].Val().Text());
        rs.Close();
      } catch (const std::exception&) {
        found = -1;  // a look-up that fails passes the item over
      }
    }
    if (found != 0) continue;
    SetProgressStatus("Retrieving " + f[2] + " Information from '" + f[3] + "' container in '" + S + "'");
    if (RunEnding()) break;
    std::string err;
    bool called = true;
    if (!info) {
      called = false;
    } else {
      switch (filler.member) {
        case Member::Mailbox: info->GetMailboxInfo(filler.type, S, U, P, f[0], &err); break;
        case Member::DL: info->GetDLInfo(filler.type, S, U, P, f[0], &err); break;
        case Member::CR: info->GetCustomRecipInfo(filler.type, S, U, P, f[0], &err); break;
        case Member::PF: info->GetPublicFolderInfo(filler.type, S, U, P, hwnd_, f[0], &err); break;
        case Member::PFProfile:
          if (!strPFGeneralProfile.empty())
            info->GetPublicFolderInfoUsingProfile(filler.type, S, U, P, strPFGeneralProfile, f[0], &err);
          else
            called = false;
          break;
        case Member::None: called = false; break;
      }
    }
    if (called) {
      AddBindErrors(err);
      Yield();
    }
  }

  auto serverWide = [&](const std::string& status, auto call) {
    if (RunEnding()) return;
    SetProgressStatus(status + S + "'");
    std::string err;
    if (info) call(err);
    AddBindErrors(err);
    Yield();
  };
  serverWide("Retrieving Protocols Information from '", [&](std::string& e) { info->GetProtocolInfo(S, U, P, &e); });
  serverWide("Retrieving Server Private IS Information from '",
             [&](std::string& e) { info->GetPrivateISInfo(S, U, P, &e); });

  int32_t number = 0;
  std::string description;
  const auto cut = [&] { return outcome && outcome->CollectionCut(number, description); };
  // A collection already cut asks nothing more of the server's stores.
  if (!RunEnding() && !cut()) {
    SetProgressStatus("Retrieving Server Mailboxes Resources Information from '" + S + "'");
    bool mapi = true;
    try {
      velmo::com::CreateObjectRaw("MAPI.Session");
    } catch (const std::exception&) {
      mapi = false;  // no mail client: no resource rows, no message
    }
    if (mapi) {
      std::shared_ptr<IExch55> exch;
      try {
        exch = velmo::com::CreateObject<IExch55>("VELMORCCOM.Exch55");
      } catch (const velmo::ComError& e) {
        Ui().MsgBox("not created", velmo::ui::vbOKOnly, kProductTitle);
        WriteErrorLog(velmo::NowText(), "frmExportPlus GetAllInfo Create Object ResourceCom Failed ",
                      velmo::NumberText(e.Number()), e.Description());
      }
      if (exch) {
        auto setPath = [&] {
          const int32_t hr = exch->ApplicationPath(velmo::AppFolderText());
          if (hr < 0)
            WriteErrorLog(velmo::NowText(), "frmExportPlus GetAllInfo Setting ApplicationPath Failed ",
                          velmo::NumberText(hr), exch->GetErrorInfo().description);
        };
        auto resources = [&](int32_t mode, const std::string& profile, const char* context) {
          if (profile.empty()) return;
          const int32_t hr = exch->GetISResourcesUsingProfile(mode, S, strOrganizationName, strSiteName,
                                                              gstrDBPath, profile);
          if (hr < 0)
            WriteErrorLog(velmo::NowText(), context, velmo::NumberText(hr), exch->GetErrorInfo().description);
        };
        setPath();
        resources(0, strMailboxResourcesProfile, "frmExportPlus GetAllInfo Retrieving Mailboxes Resources Failed ");
        Yield();
        if (!RunEnding()) {
          SetProgressStatus("Retrieving Server Public Folder Resources Information from '" + S + "'");
          setPath();
          resources(1, strPFResourcesProfile,
                    "frmExportPlus GetAllInfo Retrieving Public Folder Resources Failed ");
          Yield();
        }
      }
    }
  }

  serverWide("Retrieving Server Public IS Resources Information from '",
             [&](std::string& e) { info->GetPublicISInfo(S, U, P, &e); });
  serverWide("Retrieving Server Protocols Information from '",
             [&](std::string& e) { info->GetServerProtocolsInfo(S, U, P, &e); });
  serverWide("Retrieving Connections Information from '",
             [&](std::string& e) { info->GetConnectorInfo(S, U, P, &e); });
  if (cut()) collectionCut_ = velmo::NumberText(number) + ":" + description;
  outcome.reset();
  info.reset();
  // The lock stays: the outputs read these rows. The bind errors are shown
  // once the outputs are written, so no message holds the lock.
}

void frmExportPlus::ShowRetrievalBindErrors() {
  // The calls a stop request gave up failed no bind.
  if (strBindErrors_.empty() || velmo::StopSignal() != 0) return;
  std::string message = std::string("Error occured while binding to the following item(s) : ") + kCrLf + kCrLf;
  bool any = false;
  for (const std::string& item : SplitBindErrorList(strBindErrors_)) {
    // The failure that cut the collection (the item of every call after
    // it) is told once, by the closing message.
    if (!collectionCut_.empty() && ItemFailure(item) == collectionCut_) continue;
    message += item + kCrLf;
    any = true;
  }
  if (any) Ui().MsgBox(message, velmo::ui::vbInformation + velmo::ui::vbOKOnly, kProductTitle);
}

// ================================================================ output

void frmExportPlus::DisplayInfo(const std::string& strServerName, const std::string& /*strOrganizationName*/,
                                const std::string& /*strSiteName*/, const std::string& strCustomReportName,
                                const std::string& strReportOption, const std::string& strReportFormat,
                                const std::string& strReportPath, const std::string& strReportTime) {
  std::error_code ec;
  if (strReportOption == "Export") std::filesystem::create_directory(velmo::NativePath(strReportPath), ec);
  if (!gConn) return;
  // Rows that the collection left unfinished (its take-back refused) go
  // before any output is read; an output of a table that still holds
  // them is not written, and the closing message says why.
  const UnfinishedRowsCheck unfinished(strServerName, "frmExportPlus DisplayInfo");

  for (const auto& entry : workList_) {
    if (RunEnding()) break;
    const auto f = SplitWorkItem(entry);
    const std::string& objectPath = f[0];
    std::string tab = f[2];
    for (auto at = tab.find(" *"); at != std::string::npos; at = tab.find(" *")) tab.erase(at, 2);

    std::vector<std::string> sets;
    try {
      db::Recordset rs;
      rs.Open("select CustomReportValue from VELMORCCustomReports where CustomReportName=? AND TabName=?", *gConn,
              {db::Value(strCustomReportName), db::Value(tab)}, db::adOpenKeyset, db::adLockOptimistic);
      for (; !rs.Eof(); rs.MoveNext()) sets.push_back(rs[0L].Val().IsNull() ? std::string() : rs[0L].Val().Text());
      rs.Close();
    } catch (const std::exception&) {
      sets.clear();
    }

    for (const std::string& value : sets) {
      const std::string list = exportplus::ColumnListOf(value, strCustomReportName);
      const std::string table = GetTableName(tab);
      std::string statement = "select distinct " + list + " from [" + table + "] where ServerName=?";
      std::vector<db::Value> params{db::Value(strServerName)};
      std::string label;
      if (StartsWithNoCase(table, "Protocol") || StartsWithNoCase(table, "Connector")) {
        label = tab;
        statement += exportplus::ProtocolConnectorTerms(tab);
      } else if (StartsWithNoCase(table, "ContainerInfo") || StartsWithNoCase(table, "ServerObjects")) {
        label = f[3] + " " + f[4];
        statement += " and [Object Path] = ?";
        params.emplace_back(objectPath);
      } else if (StartsWithNoCase(table, "DiagLogging")) {
        label = tab;
        statement += exportplus::DiagnosticsTermOf(tab, strServerName) + " and [Object Path] = ?";
        params.emplace_back(objectPath);
      } else {
        label = f[3] + " " + tab;
        if (f[3] == "Server Recipients") {
          statement += " and [Home Server] = ?";
          params.emplace_back(strServerName);
        } else {
          statement += " and [Object Path] = ?";
          params.emplace_back(objectPath);
        }
      }
      if (unfinished.Hides(table)) {
        NoteFailure("frmExportPlus DisplayInfo Unfinished Rows Kept ",
                    {label, "",
                     "the rows of an unfinished collection of '" + strServerName +
                         "' could not be removed, so none of its rows are given: " + unfinished.Kept()});
        continue;
      }
      FillGridAndExport(strServerName, strReportOption, strReportFormat, strReportPath, strReportTime, statement,
                        params, label);
    }
    Yield();
  }
}

void frmExportPlus::FillGridAndExport(const std::string& strServerName, const std::string& strReportOption,
                                      const std::string& strReportFormat, const std::string& strReportPath,
                                      const std::string& strReportTime, const std::string& statement,
                                      const std::vector<db::Value>& params, const std::string& label) {
  std::vector<std::vector<std::string>> rows;
  try {
    db::Recordset rs;
    rs.Open(statement, *gConn, params, db::adOpenKeyset, db::adLockOptimistic);
    const int count = static_cast<int>(rs.GetFields().Count());
    grd1_->Clear();
    grd1_->Cols(count + 1);
    // Every output is laid out from its own rows alone: the widths that an
    // earlier output's texts gave these columns, in this run or the one
    // before, start again from the default before the fit.
    for (int c = 0; c <= count; ++c) grd1_->ColWidth(c, -1);
    grd1_->ColWidth(0, 0);
    grd1_->MergeCells(velmo::flexMergeRestrictColumns);
    for (int i = 0; i < count; ++i) grd1_->MergeCol(i, true);
    rows = velmo::exporting::RecordsetGridRows(rs);
    rs.Close();
  } catch (const std::exception& e) {
    NoteFailure("frmExportPlus FillGridAndExport RecordsetObjectOpen Failed ", {label, "", e.what()});
    return;
  }
  if (rows.size() <= 1) {
    grd1_->Rows(1);
    return;  // no rows: no output
  }
  // Nothing is begun once the run is ending: the grid's rows were read
  // while events ran.
  if (RunEnding()) return;
  const bool print = strReportOption == "Print";
  const std::string doing = print ? "Printing " : "Exporting ";
  SetProgressStatus(doing + label + " Information from '" + strServerName + "'");
  grd1_->SetData(std::move(rows));
  AutoFitGrid(*grd1_);
  grd1_->ColWidth(0, 0);
  gstrReportTitle = label + " - '" + strServerName + "'";

  if (strReportOption == "Export") {
    const std::filesystem::path folder = velmo::NativePath(strReportPath);
    std::string reason;
    std::string file;
    if (strReportFormat == "MDB") {
      file = (folder / (strServerName + "_" + strReportTime + ".mdb")).string();
      const std::string table =
          exportplus::UniqueName(usedOutputNames_, exportplus::TableNameOfLabel(label));
      reason = exportplus::WriteDatabaseTable(file, table);
    } else if (strReportFormat == "CSV" || strReportFormat == "HTML") {
      // Neither separator of a path may split the name.
      std::string part = label;
      for (char& c : part)
        if (c == '/' || c == '\\') c = '_';
      part = exportplus::UniqueName(usedOutputNames_, part);
      const std::string name =
          strServerName + "_" + part + "_" + strReportTime + (strReportFormat == "CSV" ? ".csv" : ".html");
      file = (folder / name).string();
      reason = strReportFormat == "CSV" ? exportplus::WriteCsv(file) : exportplus::WriteHtml(file);
    }
    if (reason.empty())
      ++outputsWritten_;
    else if (velmo::StopSignal() == 0 || reason != velmo::exporting::kWriteGivenUp)
      NoteFailure("frmExportPlus FillGridAndExport Export Failed ", {label, file, reason});
  } else if (print) {
    bool known = false;
    try {
      for (const std::string& name : velmo::printers::DeviceNames()) known = known || name == printerName_;
    } catch (const std::exception&) {
      known = false;
    }
    if (!known) {
      NoteFailure("frmExportPlus FillGridAndExport Print Failed ",
                  {label, "", "The printer '" + printerName_ + "' is not installed."});
    } else {
      // What the job would say in a box of its own is counted into the
      // run's closing message instead.
      std::vector<std::string> shown;
      {
        velmo::exporting::KeptMessages kept;
        PrintGridReport(1, 2);
        shown = kept.Texts();
      }
      const PrintJobOutcome outcome = LastPrintOutcome();
      // Esc or a close of the job's status window stops the run as the
      // progress window's Cancel does, without its question.
      if (outcome == PrintJobOutcome::Cancelled) iCancelClicked = 1;
      if (outcome == PrintJobOutcome::Printed) ++outputsWritten_;
      namespace ex = velmo::exporting;
      if (outcome == PrintJobOutcome::Failed ||
          (!shown.empty() && outcome != PrintJobOutcome::Printed && outcome != PrintJobOutcome::Cancelled))
        NoteFailure("frmExportPlus FillGridAndExport Print Failed ",
                    {label, ex::PrintJobFile(velmo::printers::Current(), gstrReportTitle, LastPrintFile()),
                     ex::PrintJobFailureReason(shown, LastPrintError())});
    }
  }
  gstrReportTitle.clear();
  SetProgressStatus(doing + label + " Information from '" + strServerName + "' completed.");
}
