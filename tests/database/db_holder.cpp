// db_holder <connection string> <ready file> <rows to add>
// Opens the database, adds the rows to table Items (column Source =
// "holder"), creates the ready file, then keeps the connection open until
// its standard input closes (or 60 seconds pass).
//
// db_holder --compact <source> <copy>
// Compacts the source into the copy (as another user, when started so),
// prints the error's text and exits 1 when it fails.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Database.h"

int main(int argc, char** argv) {
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
