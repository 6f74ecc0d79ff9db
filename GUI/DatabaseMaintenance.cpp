// Compaction of the inventory database and clearing of one server's rows.
#include "DatabaseMaintenance.h"

#include <filesystem>
#include <system_error>

#include "AppFolder.h"
#include "Database.h"
#include "modExch.h"
#include "modGlobals.h"

namespace {

std::string DatabasePathText() { return gstrDBPath.empty() ? velmo::AppFolderText() + "\\velmo.mdb" : gstrDBPath; }

// Tables whose rows belong to no one server.
bool IsKeptTable(const std::string& name) {
  static const char* const kept[] = {
      "MSysACEs",           "MSysObjects",       "MSysQueries",         "MSysRelationships",
      "tblDefaultViewInfo", "VELMORCFavourites", "VELMORCCustomReports"};
  for (const char* k : kept)
    if (name == k) return true;
  return false;
}

}  // namespace

std::string MaintenanceConnectionText(const std::string& path) {
  return "Provider = Microsoft.Jet.OLEDB.4.0;Data Source =" + path;
}

void CompactDB() {
  const std::string dbPath = DatabasePathText();
  const std::string compPath = velmo::AppFolderText() + "\\COMPVELMO.mdb";

  std::unique_ptr<velmo::db::JetEngine> engine;
  try {
    engine = std::make_unique<velmo::db::JetEngine>();
  } catch (const velmo::ComError& e) {
    LogFailure("CompactDB JetObjectCreation Failed", e);
    return;
  }

  // A copy left behind by an interrupted earlier run would make every
  // compaction fail; it is of no use, so it goes first.
  std::error_code ec;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"})
    std::filesystem::remove(velmo::NativePath(compPath + suffix), ec);

  try {
    // Fails while any connection, of this or another process, has the file
    // open; the engine then holds the database's lock until released.
    engine->CompactDatabase(MaintenanceConnectionText(dbPath), MaintenanceConnectionText(compPath));
  } catch (const velmo::ComError& e) {
    LogFailure("CompactDB CompactDatabase Failed", e);
    engine->Release();
    std::filesystem::remove(velmo::NativePath(compPath), ec);
    return;
  }

  int32_t number = 0;
  std::string description;
  if (!velmo::db::MoveDatabaseFile(velmo::NativePath(compPath), velmo::NativePath(dbPath), number, description))
    LogFailure("CompactDB MoveDatabase Failed", number, description);
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
  try {
    velmo::db::Catalog catalog;
    catalog.SetActiveConnection(MaintenanceConnectionText(DatabasePathText()));
    const std::vector<std::string> tables = catalog.TableNames();
    catalog.ReleaseConnection();
    for (const auto& table : tables) {
      if (IsKeptTable(table) || !gConn) continue;
      if (table.find(']') != std::string::npos) continue;  // cannot be named in a statement
      try {
        gConn->Execute("delete from [" + table + "] where ServerName=?", {velmo::db::Value(strServerName)});
      } catch (const std::exception&) {
        // A table without a ServerName column: passed over.
      }
    }
  } catch (const velmo::ComError& e) {
    LogFailure("RefreshServer DeleteExistingRecords : Catalog Object Creation Failure :", e);
  } catch (const std::exception& e) {
    LogFailure("RefreshServer DeleteExistingRecords : Catalog Object Creation Failure :", velmo::E_FAIL_,
               e.what());
  }

  SetCurrentExchWindow();
  if (gfrmCurrent) gfrmCurrent->GetAllInfo(0);
}
