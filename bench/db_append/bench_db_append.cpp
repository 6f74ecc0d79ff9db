// bench_db_append [rows]
// Appends rows of 20 text columns through the recordset layer the way the
// collector does (AddNew, fields by position, Update), has the sqlite3
// command-line shell import the same rows from a CSV file into an equal
// table of a fresh file, and reads the rows back through a recordset as a
// grid fill does. Prints the times and the ratio.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Database.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCols = 20;

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

std::string Cell(int row, int col) {
  // Texts of varying length, like directory attributes.
  std::string s = "r" + std::to_string(row) + "c" + std::to_string(col);
  s.append(static_cast<size_t>((row * 7 + col * 3) % 24), static_cast<char>('a' + col));
  return s;
}

std::string ColumnList(const char* type) {
  std::string cols;
  for (int c = 0; c < kCols; ++c) {
    if (c) cols += ",";
    cols += "[Column " + std::to_string(c + 1) + "] " + type;
  }
  return cols;
}

int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  char tmpl[] = "/tmp/bench_db_append.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::filesystem::path dir = tmpl;
  namespace db = velmo::db;
  try {
    std::vector<std::vector<std::string>> data(rows, std::vector<std::string>(kCols));
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < kCols; ++c) data[r][c] = Cell(r, c);

    // 1. Through the layer.
    auto layerFile = dir / "layer.mdb";
    db::CreateDatabaseFile(layerFile);
    db::Connection conn;
    conn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + layerFile.string());
    conn.Execute("create table Bench(" + ColumnList("char(255)") + ")");
    auto t0 = Clock::now();
    {
      db::Recordset rs;
      rs.Open("select * from Bench", conn, db::adOpenKeyset, db::adLockOptimistic);
      for (int r = 0; r < rows; ++r) {
        rs.AddNew();
        for (int c = 0; c < kCols; ++c) rs[c] = data[r][c];
        rs.Update();
      }
      rs.Close();
    }
    auto t1 = Clock::now();

    // 2. The sqlite3 shell importing the same rows into an equal table.
    auto csv = dir / "rows.csv";
    {
      std::ofstream out(csv, std::ios::binary);
      for (auto& row : data) {
        for (int c = 0; c < kCols; ++c) out << (c ? ",\"" : "\"") << row[c] << '"';
        out << "\n";
      }
    }
    auto shellFile = dir / "shell.db";
    if (Run({"sqlite3", shellFile.string(), "create table Bench(" + ColumnList("TEXT COLLATE NOCASE") + ")"}) != 0) {
      std::printf("sqlite3 shell not available\n");
      return 1;
    }
    auto t2 = Clock::now();
    int rc = Run({"sqlite3", shellFile.string(), ".mode csv", ".import " + csv.string() + " Bench"});
    auto t3 = Clock::now();

    // 3. Reading everything back through a recordset, field by field.
    auto t4 = Clock::now();
    size_t bytes = 0;
    long count = 0;
    {
      db::Recordset rs;
      rs.Open("select * from Bench", conn);
      count = rs.RecordCount();
      while (!rs.Eof()) {
        for (int c = 0; c < kCols; ++c) bytes += rs[c].Text().size();
        rs.MoveNext();
      }
    }
    auto t5 = Clock::now();

    long shellCount = 0;
    {
      db::Connection sc;
      sc.Open(shellFile.string());
      db::Recordset rs;
      rs.Open("select count(*) from Bench", sc);
      shellCount = rs[0].Val().Long();
    }

    double layerMs = Ms(t0, t1), shellMs = Ms(t2, t3), readMs = Ms(t4, t5);
    std::printf("rows: %d x %d text columns\n", rows, kCols);
    std::printf("layer append (AddNew, fields, Update; Close): %10.1f ms  (%ld rows in file)\n", layerMs, count);
    std::printf("sqlite3 shell .import of the same rows:        %10.1f ms  (%ld rows in file, exit %d)\n", shellMs,
                shellCount, rc);
    std::printf("ratio layer / shell:                           %10.2f\n", layerMs / shellMs);
    std::printf("layer read back, every field as text:          %10.1f ms  (%zu bytes)\n", readMs, bytes);
  } catch (const velmo::ComError& e) {
    std::printf("failed: %s\n", e.Description().c_str());
    std::filesystem::remove_all(dir);
    return 1;
  }
  std::filesystem::remove_all(dir);
  return 0;
}
