#pragma once
// Keeping the inventory database usable: compaction at start-up and the
// clearing of one server's rows.
#include <string>

// The connection text both operations build: "Provider =
// Microsoft.Jet.OLEDB.4.0;Data Source =" followed by the file path.
std::string MaintenanceConnectionText(const std::string& path);

// Compacts gstrDBPath into "COMPVELMO.mdb" of the application folder and
// moves the copy back over it. A stale "COMPVELMO.mdb" is removed first.
// Runs only while no other connection, of any process, has the database
// open; otherwise it logs "CompactDB CompactDatabase Failed" and the start
// goes on with the uncompacted file. Call it before gConn is opened.
void CompactDB();

// Deletes every row of the server from every table but the kept ones
// (favourites, column sets, the engine's own), including that server's
// saved filters and column choices, then has the current browse window
// collect its selected node again.
void RefreshServer(const std::string& strServerName);
