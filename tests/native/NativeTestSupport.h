#pragma once
// Shared pieces of the native-access tests: a temporary application folder
// with its own providers folder, an inventory database holding the tables
// the native class writes, and readers for rows and log lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "ComFactory.h"
#include "Database.h"
#include "IExch55.h"
#include "SecurityDescriptor.h"
#include "TestHome.h"
#include "TextFile.h"

namespace native_test {

// The permission and resource tables, as the inventory schema creates them.
inline const std::vector<std::string>& NativeTableStatements() {
  static const std::vector<std::string> s = {
      "create table MailboxPerm(ServerName char(255),[Object Path] Memo,[Display Name] char(255),[Alias Name] "
      "char(255),[Windows NT Accounts With Permissions] char(255),[Roles] char(255),[Home Server] char(50))",
      "create table DLPerm(ServerName char(255),[Object Path] Memo,[Display Name] char(255),[Alias Name] "
      "char(255),[Windows NT Accounts With Permissions] char(255),[Roles] char(255))",
      "create table PFPerm(ServerName char(255),[Object Path] Memo,[Display Name] char(255),[Alias Name] "
      "char(255),[Windows NT Accounts With Permissions] char(255),[Roles] char(255))",
      "create table CRPerm(ServerName char(255),[Object Path] Memo,[Display Name] char(255),[Alias Name] "
      "char(255),[Windows NT Accounts With Permissions] char(255),[Roles] char(255))",
      "create table ProtocolPerm(ServerName char(255),[Level] char(6),[Object Path] Memo,[Display Name] "
      "char(255),[Directory Name] char(255),[Windows NT Accounts With Permissions] char(255),[Roles] char(255))",
      "create table ServerPrivateISPerm(ServerName char(255),[Object Path] Memo,[Display Name] char(255),"
      "[Directory Name] char(255),[Windows NT Accounts With Permissions] char(255),[Roles] char(255))",
      "create table ServerPrivateISResources(ServerName char(255),[Object Path] Memo,[Display Name] char(255),"
      "[Directory Name] char(255),[Mailbox] char(255),[Windows NT Account] char(255),[Total K] char(10),"
      "[Total no of Items] char(10),[Last Logon Time] char(30),[Last Logoff Time] char(30),[Deleted Items K] "
      "char(10),[Full Mailbox Directory Name] char(255),[Storage Limits] char(50),[Total no of Associated "
      "Messages] char(10))",
      "create table ServerPublicISPerm(ServerName char(255),[Object Path] Memo,[Display Name] char(255),"
      "[Directory Name] char(255),[Windows NT Accounts With Permissions] char(255),[Roles] char(255))",
      "create table ServerPublicISResources(ServerName char(255),[Object Path] Memo,[Display Name] char(255),"
      "[Directory Name] char(255),[Total K] char(10),[Total no Items] char(10),[Created] char(30),[Last Access "
      "Time] char(30),[No of Owners] char(10),[No of Contacts] char(10),[Folder] char(255),[Folder Path] "
      "char(255),[Total no Associated Messages] char(10),[Deleted Items K] char(10))",
      "create table ServerObjectsPerm(ServerName char(255),[Object Path] Memo,[Level] char(7),[Display Name] "
      "char(255),[Directory Name] char(255),[Windows NT Accounts With Permissions] char(255),[Roles] char(255))",
      "create table ConnectorPerm(ServerName char(255),[Object Path] Memo,[Display Name] char(255),[Directory "
      "Name] char(255),[Windows NT Accounts With Permissions] char(255),[Roles] char(255))",
  };
  return s;
}

using Row = std::map<std::string, std::string>;  // column -> text ("<null>" for Null)

// A test's world: application folder, providers folder, database, and the
// native class created by its ProgID. Times are shown in UTC.
class NativeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    providers_ = home_.dir() / "providers";
    std::filesystem::create_directories(providers_);
    ::setenv("VELMORCAST_PROVIDERS", providers_.c_str(), 1);
    db_ = (home_.dir() / "velmo.mdb").string();
    velmo::db::CreateDatabaseFile(db_);
    velmo::db::Connection conn;
    conn.Open(db_);
    for (const auto& s : NativeTableStatements()) conn.Execute(s);
    conn.Close();
    exch_ = velmo::com::CreateObject<IExch55>("VELMORCCom.Exch55");
  }
  void TearDown() override { ::unsetenv("VELMORCAST_PROVIDERS"); }

  // Writes a provider file (relative to the providers folder).
  void WriteProvider(const std::string& relative, const std::string& text) {
    auto p = providers_ / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }

  std::vector<Row> Rows(const std::string& table) {
    std::vector<Row> out;
    velmo::db::Connection conn;
    conn.Open(db_);
    velmo::db::Recordset rs;
    rs.Open("select * from " + table, conn, velmo::db::adOpenKeyset, velmo::db::adLockReadOnly);
    while (!rs.Eof()) {
      Row r;
      auto& f = rs.GetFields();
      for (long i = 0; i < f.Count(); ++i) r[f[i].Name()] = f[i].IsNull() ? "<null>" : f[i].Text();
      out.push_back(r);
      rs.MoveNext();
    }
    rs.Close();
    conn.Close();
    return out;
  }

  std::vector<std::string> LogLines(const std::filesystem::path& folder) {
    std::vector<std::string> lines;
    velmo::ReadLines(folder / "VelmorcastErrorLog.log", lines);
    return lines;
  }

  velmo::test::TestHome home_;
  std::filesystem::path providers_;
  std::string db_;
  std::shared_ptr<IExch55> exch_;
};

// SIDs and descriptors.
inline std::vector<uint8_t> Sid(const std::string& text) { return *velmo::sec::SidFromString(text); }
inline std::string DomainSid(int rid) { return "S-1-5-21-1004336348-1177238915-682003330-" + std::to_string(rid); }
inline std::vector<uint8_t> Ace(uint32_t mask, const std::string& sid, uint8_t type = 0) {
  auto s = Sid(sid);
  return velmo::sec::BuildAce(type, 0, mask, s);
}

// Where the account map of the tests says who is who.
inline const char* kAccounts =
    "# SID\tdomain\tname\n"
    "S-1-5-21-1004336348-1177238915-682003330-500\tCORP\tAdministrator\n"
    "S-1-5-21-1004336348-1177238915-682003330-1105\tCORP\tsvc-exchange\n"
    "S-1-5-21-1004336348-1177238915-682003330-1106\tCORP\tjsmith\n"
    "s-1-5-21-1004336348-1177238915-682003330-1107\tCORP\tsoneil\n";

}  // namespace native_test
