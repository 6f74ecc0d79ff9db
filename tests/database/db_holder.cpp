// db_holder <connection string> <ready file> <rows to add>
// Opens the database, adds the rows to table Items (column Source =
// "holder"), creates the ready file, then keeps the connection open until
// its standard input closes (or 60 seconds pass).
//
// db_holder --compact <source> <copy>
// Compacts the source into the copy (as another user, when started so),
// prints the error's text and exits 1 when it fails.
//
// db_holder --compact-in-place <source> <copy>
// Compacts the source in place by way of the copy; prints the error's text
// and exits 1 when that fails.
//
// db_holder --other <file>
// Another program's connection, as a stock SQLite tool keeps one (no lock
// file of the system's, a 5 s busy timeout): runs each line of its input as
// SQL and answers one line, "held " first when its transaction was still
// open as the line came, then "ok" or "error: " and the engine's message.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include <sqlite3.h>

#include "Database.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (std::string(argv[1]) == "--compact-in-place") {
    try {
      if (argc < 4) return 2;
      velmo::db::JetEngine().CompactInPlace(argv[2], argv[3]);
      return 0;
    } catch (const velmo::ComError& e) {
      std::printf("%s\n", e.Description().c_str());
      return 1;
    }
  }
  if (std::string(argv[1]) == "--other") {
    sqlite3* h = nullptr;
    if (sqlite3_open_v2(argv[2], &h, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return 1;
    sqlite3_busy_timeout(h, 5000);
    for (std::string line; std::getline(std::cin, line);) {
      const bool held = !sqlite3_get_autocommit(h);
      const int rc = sqlite3_exec(h, line.c_str(), nullptr, nullptr, nullptr);
      std::printf("%s%s\n", held ? "held " : "", rc == SQLITE_OK ? "ok" : ("error: " + std::string(sqlite3_errmsg(h))).c_str());
      std::fflush(stdout);
    }
    sqlite3_close(h);
    return 0;
  }
  if (argc < 4) return 2;
  if (std::string(argv[1]) == "--compact") {
    try {
      velmo::db::JetEngine engine;
      engine.CompactDatabase(argv[2], argv[3]);
      return 0;
    } catch (const velmo::ComError& e) {
      std::printf("%s\n", e.Description().c_str());
      return 1;
    }
  }
  try {
    velmo::db::Connection conn;
    conn.Open(argv[1]);
    int rows = std::atoi(argv[3]);
    if (rows > 0) {
      velmo::db::Recordset rs;
      rs.Open("select * from Items", conn, velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);
      for (int i = 0; i < rows; ++i) rs.AddNew({velmo::db::Value("holder"), velmo::db::Value(i)});
      rs.Close();
    }
    std::ofstream(argv[2]) << "ready\n";
    pollfd p{0, POLLIN, 0};
    char buf[64];
    for (int waited = 0; waited < 60000; waited += 100) {
      if (::poll(&p, 1, 100) > 0) {
        if (::read(0, buf, sizeof buf) <= 0) break;
      }
    }
    conn.Close();
  } catch (const velmo::ComError& e) {
    std::fprintf(stderr, "%s\n", e.Description().c_str());
    return 1;
  }
  return 0;
}
