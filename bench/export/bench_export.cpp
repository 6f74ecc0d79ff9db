// Exports a filled grid of 100,000 rows by 20 columns (cells with commas,
// quotes, "<" and non-ASCII letters) to a comma-separated file, an HTML
// page and a new database table, timing only the export; then has the
// stock sqlite3 shell do the same work from a database file holding the
// same rows (".mode csv" and ".mode html" with ".once", ".import" of the
// CSV into a new file) and prints both times and their ratio. ".backup" of
// the same rows is printed as a floor. Target: each output within twice
// the shell's time; exits 1 when any is missed.
#include <sqlite3.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ExportWriters.h"
#include "FlexGrid.h"
#include "QtNotices.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::string CellText(int r, int c) {
  switch (c % 5) {
    case 0: return "Müller, Åse #" + std::to_string(r);
    case 1: return "O'Neil \"Sean\" " + std::to_string(r * 7 + c);
    case 2: return "a<b & c>d " + std::to_string(r);
    case 3: return "Ødegård/Sales/Europe";
    default: return "plain text " + std::to_string(c) + "-" + std::to_string(r);
  }
}

double Shell(const fs::path& db, const std::string& commands) {
  const fs::path script = db.parent_path() / "shell.sql";
  FILE* f = std::fopen(script.c_str(), "wb");
  std::fwrite(commands.data(), 1, commands.size(), f);
  std::fclose(f);
  auto t0 = Clock::now();
  const std::string cmd = "sqlite3 -batch '" + db.string() + "' < '" + script.string() + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "sqlite3 failed: %s\n", commands.c_str());
  return Seconds(t0);
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  velmo::DropPlatformPluginWarnings();
  QApplication app(argc, argv);
  constexpr int kRows = 100000, kCols = 20;
  if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) {
    std::printf("the sqlite3 shell is not installed\n");
    return 1;
  }
  const fs::path dir = fs::temp_directory_path() / ("bench_export_" + std::to_string(::getpid()));
  fs::create_directories(dir);

  // The grid, filled in one go (not timed).
  std::vector<std::vector<std::string>> data;
  data.reserve(kRows + 1);
  data.emplace_back(kCols + 1);
  for (int c = 1; c <= kCols; ++c) data[0][c] = "Column " + std::to_string(c);
  for (int r = 0; r < kRows; ++r) {
    std::vector<std::string> row(kCols + 1);
    for (int c = 1; c <= kCols; ++c) row[c] = CellText(r, c);
    data.push_back(std::move(row));
  }
  velmo::FlexGrid grid;
  grid.SetData(data);

  // The same rows in a database file for the shell (not timed).
  const fs::path src = dir / "source.db";
  {
    sqlite3* h = nullptr;
    sqlite3_open(src.c_str(), &h);
    std::string create = "create table src(", insert = "insert into src values(";
    for (int c = 1; c <= kCols; ++c) {
      create += std::string(c > 1 ? "," : "") + "\"Column " + std::to_string(c) + "\" text";
      insert += c > 1 ? ",?" : "?";
    }
    sqlite3_exec(h, (create + ")").c_str(), nullptr, nullptr, nullptr);
    sqlite3_exec(h, "begin", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, (insert + ")").c_str(), -1, &st, nullptr);
    for (int r = 1; r <= kRows; ++r) {
      for (int c = 1; c <= kCols; ++c)
        sqlite3_bind_text(st, c, data[r][c].data(), static_cast<int>(data[r][c].size()), SQLITE_STATIC);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(h, "commit", nullptr, nullptr, nullptr);
    sqlite3_close(h);
  }
  data.clear();

  std::string reason;
  const std::string title = "Mailboxes General - 'EX1'";
  bool met = true;  // every output written, and each within its target
  auto t0 = Clock::now();
  if (!velmo::exporting::WriteGridCsv(grid, title, dir / "grid.csv", reason)) {
    std::printf("CSV failed: %s\n", reason.c_str());
    met = false;
  }
  const double csv = Seconds(t0);
  t0 = Clock::now();
  if (!velmo::exporting::WriteGridHtml(grid, title, dir / "grid.html", reason)) {
    std::printf("HTML failed: %s\n", reason.c_str());
    met = false;
  }
  const double html = Seconds(t0);
  t0 = Clock::now();
  if (velmo::exporting::WriteGridTable(grid, dir / "grid.mdb", "Mailboxes", velmo::exporting::ColumnRule::Interactive,
                                       false, reason) != velmo::exporting::TableWrite::Written) {
    std::printf("table failed: %s\n", reason.c_str());
    met = false;
  }
  const double table = Seconds(t0);

  const double shellCsv = Shell(src, ".mode csv\n.headers on\n.once '" + (dir / "shell.csv").string() + "'\nselect * from src;\n");
  const double shellHtml =
      Shell(src, ".mode html\n.headers on\n.once '" + (dir / "shell.html").string() + "'\nselect * from src;\n");
  const double shellTable = Shell(dir / "shell_new.db", ".import --csv '" + (dir / "shell.csv").string() + "' src\n");
  const double backup = Shell(src, ".backup '" + (dir / "backup.db").string() + "'\n");

  auto size = [&](const char* name) {
    std::error_code missing;
    const auto bytes = fs::file_size(dir / name, missing);
    return missing ? 0.0 : static_cast<double>(bytes) / (1 << 20);
  };
  std::printf("export of a filled grid of %d rows x %d columns (target: at most 2x the sqlite3 shell)\n", kRows, kCols);
  std::printf("%-22s %9s %9s %7s %9s\n", "output", "ours s", "shell s", "ratio", "ours MB");
  auto line = [&](const char* what, double ours, double shell, const char* file) {
    const bool within = ours <= 2 * shell;
    met = met && within;
    std::printf("%-22s %9.3f %9.3f %7.2f %9.1f  %s\n", what, ours, shell, ours / shell, size(file),
                within ? "target met" : "TARGET MISSED");
  };
  line("CSV", csv, shellCsv, "grid.csv");
  line("HTML", html, shellHtml, "grid.html");
  line("new database table", table, shellTable, "grid.mdb");
  std::printf("%-22s %9s %9.3f %7s\n", ".backup (floor)", "-", backup, "-");
  std::error_code ec;
  fs::remove_all(dir, ec);
  return met ? 0 : 1;
}
