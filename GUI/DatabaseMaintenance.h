#pragma once
// Keeping the inventory database usable: compaction at start-up and the
// clearing of one server's rows.
#include <string>
#include <vector>

namespace velmo::db {
class Connection;
}

// The connection text both operations build: "Provider =
// Microsoft.Jet.OLEDB.4.0;Data Source =" followed by the file path.
std::string MaintenanceConnectionText(const std::string& path);

// Compacts gstrDBPath in place (velmo::db::JetEngine::CompactInPlace, by
// way of "COMPVELMO.mdb" of the application folder, which is removed
// after): the file is never replaced, so another program's connection to it
// goes on with the compacted file. A stale "COMPVELMO.mdb" is removed
// first. While a program of the system has the database open, or
// another program holds a lock on it, it is passed over at once; that and
// every other failure (no room for the engine's copy, a file this user may
// not write) leaves the file as it was, logs "CompactDB CompactDatabase
// Failed" with the reason, and the start goes on with the uncompacted
// file. A stop cuts it, undone whole, with no entry. Call it before gConn
// is opened.
void CompactDB();

// Converts a database made by an earlier build to the current form of its
// text columns (velmo::db::ConvertOldTextColumns), once, at start-up; a
// failure leaves the file as it was, is logged ("ConvertOldDatabase
// ConvertTables Failed"), and the program runs on with the file as it is.
void ConvertOldDatabase(velmo::db::Connection& conn);

// Deletes every row of the server from every table but the kept ones
// (favourites, column sets, the engine's own), including that server's
// saved filters and column choices, then has the current browse window
// collect its selected node again. The server's collection lock is held
// from before the deleting to the end of that collection; while another
// program collects the server it is waited for, and Escape gives the wait
// up with nothing deleted. Nothing is deleted either, and the user is told
// why, when the collector cannot be created or the server does not answer
// a bind as the browse window's user; a deleting that fails is taken back
// and nothing is collected.
void RefreshServer(const std::string& strServerName);

// What a reader of the inventory (a browse window, the custom report
// window, the column chooser's and the filter wizard's lists, the Export
// Plus and Print Plus outputs) does first with a server: the rows that an
// unfinished collection of the server left (a program ended between two
// of its pages, or its take-back was refused) are removed
// (velmo::db::RemoveUnfinishedRows) before any of the server is read.
// Another program's write lock is waited for as a statement waits for it;
// outside a progress window, Escape gives the wait up, and the status bar
// says meanwhile that the database is locked. Rows that cannot be removed
// are never shown: the failure is logged ("<context> RemoveUnfinishedRows
// Failed"), the status bar says why (UnfinishedRowsKeptText), and Hides
// tells the reader which tables it shows nothing of. A status text left by
// earlier work that stopped is taken down first (ClearStoppedStatusText).
class UnfinishedRowsCheck {
 public:
  UnfinishedRowsCheck(const std::string& server, const std::string& context);
  // Why the rows stay in the file; "" when none are left.
  const std::string& Kept() const { return kept_; }
  // Whether rows of the server that an unfinished collection left stay in
  // that table: the reader then shows none of the server's rows of it.
  bool Hides(const std::string& table) const;
  bool HidesAny(const std::vector<std::string>& tables) const;

 private:
  std::string server_;
  std::string kept_;
};

// The status text of rows of an unfinished collection that stay.
std::string UnfinishedRowsKeptText(const std::string& server, const std::string& why);
