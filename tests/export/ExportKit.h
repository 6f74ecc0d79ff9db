#pragma once
// What the export tests share: grids built from rows, the stock sqlite3
// shell run on a file, and hex decoding of its answers.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "FlexGrid.h"

namespace velmo::test {

// A grid in the shape every grid of the program has: row 0 the captions,
// column 0 empty.
inline void FillGrid(velmo::FlexGrid& grid, const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::vector<std::string>> data;
  for (const auto& r : rows) {
    std::vector<std::string> line{""};
    line.insert(line.end(), r.begin(), r.end());
    data.push_back(std::move(line));
  }
  grid.SetData(std::move(data));
}

// Runs the stock sqlite3 shell on a database with commands on its input;
// its whole output (errors included).
inline std::string Sqlite3(const std::filesystem::path& db, const std::string& commands) {
  const std::filesystem::path script = db.parent_path() / ".shell-input.sql";
  {
    FILE* f = std::fopen(script.c_str(), "wb");
    std::fwrite(commands.data(), 1, commands.size(), f);
    std::fclose(f);
  }
  std::string out;
  if (FILE* p = ::popen(("sqlite3 -batch '" + db.string() + "' < '" + script.string() + "' 2>&1").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  std::filesystem::remove(script);
  return out;
}

inline std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// Lines of "|"-separated hex fields, decoded.
inline std::vector<std::vector<std::string>> HexRows(const std::string& output) {
  std::vector<std::vector<std::string>> rows;
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(at, end - at);
    at = end + 1;
    if (line.empty()) continue;
    std::vector<std::string> row;
    size_t f = 0;
    while (true) {
      size_t bar = line.find('|', f);
      row.push_back(Unhex(line.substr(f, bar == std::string::npos ? std::string::npos : bar - f)));
      if (bar == std::string::npos) break;
      f = bar + 1;
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace velmo::test
