// bench_collector_config [ROUNDS]
//
// Starts a private sample directory, then for each round (default 5) and
// each sample server (EX1, EX2, EX10) runs the configuration calls of the
// collector into a fresh inventory database, as the browse window and the
// scheduled collector do: GetServerInfo, GetProtocolInfo,
// GetServerProtocolsInfo, GetPrivateISInfo, GetPublicISInfo and
// GetConnectorInfo, without credentials and with the sample's Connect As
// account. Prints, per call and server, the best time over the rounds, the
// LDAP round trips the call made (connections, searches, search requests)
// and the rows it wrote, then the totals. Exits 1 when a call wrote no row
// where the sample organisation has some.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "AppSchema.h"
#include "ComFactory.h"
#include "Database.h"
#include "Directory.h"
#include "IExch55Info.h"
#include "TestHome.h"

namespace fs = std::filesystem;

// The shell's log writer, which the schema procedure calls only without a
// connection; this program always gives it one.
void WriteErrorLog(const std::string&, const std::string&, const std::string&, const std::string&) {}

namespace {

using Method = void (_Exch55Info::*)(const std::string&, const std::string&, const std::string&, std::string*);

const std::vector<std::pair<std::string, Method>> kCalls = {
    {"GetServerInfo", &_Exch55Info::GetServerInfo},
    {"GetProtocolInfo", &_Exch55Info::GetProtocolInfo},
    {"GetServerProtocolsInfo", &_Exch55Info::GetServerProtocolsInfo},
    {"GetPrivateISInfo", &_Exch55Info::GetPrivateISInfo},
    {"GetPublicISInfo", &_Exch55Info::GetPublicISInfo},
    {"GetConnectorInfo", &_Exch55Info::GetConnectorInfo}};
const std::vector<std::string> kServers = {"EX1", "EX2", "EX10"};
const std::vector<std::string> kTables = {
    "ServerObjectsInfo", "ServerObjectsPerm",   "ContainerInfo",         "DiagLogging",
    "ProtocolGeneral",   "ProtocolAuthFormat",  "ProtocolMiscInfo",      "ProtocolPerm",
    "ServerPrivateISGeneral", "ServerPrivateISPerm", "ServerPublicISGeneral", "ServerPublicISPerm",
    "ServerPublicISMiscInfo", "ConnectorGeneral", "ConnectorPerm",        "ConnectorMiscInfo",
    "ConnectorDelivRestr", "ConnectorNewsfeed"};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string Script() { return std::string(VELMO_SOURCE_DIR) + "/scripts/sample-slapd.sh"; }

long RowCount(const fs::path& db) {
  velmo::db::Connection conn;
  conn.Open(db.string());
  long rows = 0;
  for (const auto& table : kTables) {
    velmo::db::Recordset rs;
    rs.Open("select * from " + table, conn, velmo::db::adOpenKeyset, velmo::db::adLockReadOnly);
    rows += rs.RecordCount();
    rs.Close();
  }
  conn.Close();
  return rows;
}

struct Figures {
  double best = 1e9;
  long long connects = 0, searches = 0, requests = 0;
  long rows = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  fs::path dir = fs::temp_directory_path() / ("velmo-bench-config-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::cout << "Starting the sample directory...\n";
  if (std::system(("bash '" + Script() + "' start '" + dir.string() + "' > /dev/null").c_str()) != 0) {
    std::cerr << "the sample directory did not start\n";
    return 2;
  }
  ::setenv("VELMORCAST_LDAP_HOSTS", (dir / "ldaphosts.conf").c_str(), 1);
  ::setenv("VELMORCAST_PROVIDERS", (fs::path(VELMO_SOURCE_DIR) / "sample" / "providers").c_str(), 1);

  const std::vector<std::pair<std::string, std::string>> identities = {{"", ""},
                                                                       {"dc=CORP,cn=Administrator", "secret"}};
  std::map<std::string, Figures> figures;  // by "call server identity"
  std::vector<std::string> order;
  double bestRound = 1e9;
  for (int r = 0; r < rounds; ++r) {
    double roundSeconds = 0;
    for (size_t who = 0; who < identities.size(); ++who) {
      const auto& [user, password] = identities[who];
      velmo::test::TestHome home;  // a fresh application folder and database for each pass
      velmo::db::CreateDatabaseFile(home.dir() / "velmo.mdb");
      {
        velmo::db::Connection conn;
        conn.Open((home.dir() / "velmo.mdb").string());
        CreateAppTables(&conn);
        conn.Close();
      }
      velmo::ads::ResetSessions();
      for (const auto& server : kServers) {
        for (const auto& [name, method] : kCalls) {
          const std::string key = name + " " + server + (who ? " (Connect As)" : "");
          if (r == 0) order.push_back(key);
          const long before = RowCount(home.dir() / "velmo.mdb");
          auto collector = velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info");
          collector->ErrorLogFileName("VelmorcastErrorLog.log");
          std::string err;
          velmo::ads::ResetStats();
          auto t = std::chrono::steady_clock::now();
          ((*collector).*method)(server, user, password, &err);
          const double s = Seconds(t);
          const auto stats = velmo::ads::Stats();
          roundSeconds += s;
          auto& f = figures[key];
          f.best = std::min(f.best, s);
          f.connects = stats.connects;
          f.searches = stats.searches;
          f.requests = stats.pages;
          f.rows = RowCount(home.dir() / "velmo.mdb") - before;
        }
      }
    }
    bestRound = std::min(bestRound, roundSeconds);
  }
  std::system(("bash '" + Script() + "' stop '" + dir.string() + "'").c_str());
  std::error_code ec;
  fs::remove_all(dir, ec);

  std::printf("%-48s %10s %9s %9s %9s %7s\n", "call", "best ms", "connects", "searches", "requests", "rows");
  long long searches = 0, requests = 0, connects = 0;
  long rows = 0;
  bool ok = true;
  for (const auto& key : order) {
    const auto& f = figures[key];
    std::printf("%-48s %10.1f %9lld %9lld %9lld %7ld\n", key.c_str(), f.best * 1000, f.connects, f.searches,
                f.requests, f.rows);
    connects += f.connects;
    searches += f.searches;
    requests += f.requests;
    rows += f.rows;
    // EX2 has no public store; every other call writes rows.
    if (f.rows == 0 && key.rfind("GetPublicISInfo EX2", 0) != 0) ok = false;
  }
  std::printf("all calls, both identities: best round %.3f s of %d; %lld connects, %lld searches, %lld requests, "
              "%ld rows\n",
              bestRound, rounds, connects, searches, requests, rows);
  std::printf("%s\n", ok ? "OK" : "A CALL WROTE NO ROWS");
  return ok ? 0 : 1;
}
