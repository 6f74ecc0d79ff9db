// Test helper: opens a database, appends a row to a table, says "ready" on
// its output and keeps the connection open until its input closes.
//   shell_db_holder <database path> <table> <server name>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "Database.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  try {
    velmo::db::Connection conn;
    conn.Open(argv[1]);
    conn.Execute(std::string("insert into ") + argv[2] + " (ServerName) values (?)", {velmo::db::Value(argv[3])});
    std::cout << "ready" << std::endl;
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    conn.Close();
  } catch (const std::exception& e) {
    std::cout << "failed " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
