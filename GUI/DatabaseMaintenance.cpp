// Compaction of the inventory database and clearing of one server's rows.
#include "DatabaseMaintenance.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "AppFolder.h"
#include "CollectionLock.h"
#include "ComFactory.h"
#include "Database.h"
#include "Directory.h"
#include "IExch55Info.h"
#include "StopSignals.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "modExch.h"
#include "modGlobals.h"
#include "ServerDataClear.h"
#include "WriteJournal.h"
#include "frmAutoFormat.h"
#include "frmExch.h"

namespace {

std::string DatabasePathText() { return gstrDBPath.empty() ? velmo::AppFolderText() + "\\velmo.mdb" : gstrDBPath; }

}  // namespace

std::string MaintenanceConnectionText(const std::string& path) {
  return "Provider = Microsoft.Jet.OLEDB.4.0;Data Source =" + path;
}

void CompactDB() {
  const velmo::WorkUnderWay work;
  const std::string dbPath = DatabasePathText();
  const std::string compPath = velmo::AppFolderText() + "\\COMPVELMO.mdb";

  std::unique_ptr<velmo::db::JetEngine> engine;
  try {
    engine = std::make_unique<velmo::db::JetEngine>();
  } catch (const velmo::ComError& e) {
    LogFailure("CompactDB JetObjectCreation Failed", e);
    return;
  }

  // A copy left behind by an interrupted run (or by an earlier build, which
  // moved its copy over the database) is of no use.
  velmo::db::RemoveDatabaseFiles(velmo::NativePath(compPath));

  // The copy is written back into the file through the engine, never moved
  // over it: another program's connection to it, busy or idle, keeps the
  // file it has open, and one that holds a lock on it is not waited for.
  try {
    engine->CompactInPlace(MaintenanceConnectionText(dbPath), MaintenanceConnectionText(compPath));
  } catch (const velmo::ComError& e) {
    // A stop ends the start-up; the compaction it cut was undone whole.
    if (velmo::StopSignal() == 0) LogFailure("CompactDB CompactDatabase Failed", e);
  }
  engine->Release();
}

void ConvertOldDatabase(velmo::db::Connection& conn) {
  try {
    velmo::db::ConvertOldTextColumns(conn);
  } catch (const velmo::ComError& e) {
    LogFailure("ConvertOldDatabase ConvertTables Failed", e);
  } catch (const std::exception& e) {
    LogFailure("ConvertOldDatabase ConvertTables Failed", velmo::E_FAIL_, e.what());
  }
}

void RefreshServer(const std::string& strServerName) {
  using velmo::ui::Ui;
  namespace ui = velmo::ui;
  // A stop request ends it at its next step, and the program's windows
  // are closed after it has returned.
  const velmo::WorkUnderWay work;
  SetCurrentExchWindow();
  // Nothing of the server is deleted unless it can be collected again: the
  // collector must be there, and the server must answer the bind the
  // collector starts every collection with, as the browse window's user.
  try {
    velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info");
  } catch (const velmo::ComError& e) {
    LogFailure("RefreshServer CollectorObjectCreation Failed", e);
    Ui().MsgBox(e.Description(), ui::vbInformation, kProductTitle);
    return;
  }
  {
    ui::WaitCursor hourglass;
    try {
      velmo::ads::OpenDSObject("LDAP://" + strServerName, gfrmCurrent ? gfrmCurrent->strUserName : "",
                               gfrmCurrent ? gfrmCurrent->strPassword : "", 0);
    } catch (const velmo::ComError& e) {
      hourglass.Release();
      if (velmo::StopSignal() != 0) return;  // given up, not failed: nothing deleted
      LogFailure("RefreshServer Server Bind Failed", e);
      Ui().MsgBox(velmo::ads::ServerBindFailureText(strServerName, e.Number(), e.Description()),
                  ui::vbInformation + ui::vbOKOnly, kProductTitle);
      return;
    }
  }

  // Another program collecting the server is waited for before anything of
  // it is deleted, and the lock is kept until the browse window has
  // collected again: no other program clears or collects the server in
  // between.
  velmo::exporting::CollectionLock lock;
  if (!WaitForCollectionLock(lock, strServerName) || velmo::StopSignal() != 0) return;
  if (gConn) {
    // A clearing that fails takes its deletes back; collecting on top of
    // the rows it kept would count every object twice.
    const auto cleared = velmo::exporting::ClearServerRows(*gConn, strServerName);
    if (!cleared.ok) {
      LogFailure(cleared.failedStep == "Catalog"
                     ? "RefreshServer DeleteExistingRecords : Catalog Object Creation Failure :"
                     : "RefreshServer DeleteExistingRecords : Delete Failure : " + cleared.failedStep,
                 cleared.number, cleared.description);
      Ui().MsgBox("The earlier information of '" + strServerName + "' could not be deleted.\r\n" +
                      cleared.failedStep + ": " + cleared.description,
                  ui::vbInformation, kProductTitle);
      return;
    }
  }

  if (gfrmCurrent) gfrmCurrent->GetAllInfo(0);
}

std::string UnfinishedRowsKeptText(const std::string& server, const std::string& why) {
  return "The rows of an unfinished collection of '" + server + "' could not be removed, so nothing of it is shown: " +
         why;
}

UnfinishedRowsCheck::UnfinishedRowsCheck(const std::string& server, const std::string& context) : server_(server) {
  ClearStoppedStatusText();
  if (!gConn || !velmo::db::HasUnfinishedRows(*gConn, server)) return;
  // A window's Escape gives the wait for another program's lock up, as in
  // a collection, unless a collection's watch or a progress window's
  // Cancel serves the wait already.
  std::unique_ptr<EscapeWatch> escape;
  EscapeWatch* outer = gCollectionEscape;
  if (!outer && !gfrmAutoFormat) {
    escape = std::make_unique<EscapeWatch>();
    gCollectionEscape = escape.get();
  }
  bool failed = true;
  try {
    velmo::db::RemoveUnfinishedRows(gstrDBPath, server);
    failed = false;
  } catch (const velmo::ComError& e) {
    LogFailure(context + " RemoveUnfinishedRows Failed", e);
    kept_ = e.Description();
  } catch (const std::exception& e) {
    LogFailure(context + " RemoveUnfinishedRows Failed", velmo::E_FAIL_, e.what());
    kept_ = e.what();
  }
  if (gCollectionEscape) EndLockWaitText(*gCollectionEscape);
  if (escape) gCollectionEscape = outer;
  if (failed) {
    if (kept_.empty()) kept_ = "The database could not be written.";
    SetStatusText(UnfinishedRowsKeptText(server, kept_));
  }
}

bool UnfinishedRowsCheck::Hides(const std::string& table) const {
  return !kept_.empty() && gConn && velmo::db::HasUnfinishedRows(*gConn, server_, table);
}

bool UnfinishedRowsCheck::HidesAny(const std::vector<std::string>& tables) const {
  for (const auto& t : tables)
    if (Hides(t)) return true;
  return false;
}
