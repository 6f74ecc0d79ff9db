// GetPermissions: one permission row per access-control entry of a DACL.
#include <filesystem>

#include "AccountNames.h"
#include "AppFolder.h"
#include "Database.h"
#include "Exch55.h"
#include "PageWrite.h"
#include "ProviderFolder.h"
#include "SecurityDescriptor.h"
#include "TextFile.h"
#include "TextParts.h"

namespace velmorccom {

namespace {

using velmo::db::Value;

bool IsOneOf(const std::string& table, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (velmo::text::EqualNoCase(table, n)) return true;
  return false;
}

// A table name goes into the statement text, so only a plain name is let
// through.
bool IsPlainName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (!std::isalnum(c) && c != '_') return false;
  return true;
}

// The account and role texts of each entry of a DACL in order, or one
// pair of empty texts when there is no entry to read.
template <typename Row>
void ForEachEntry(int32_t aceCount, std::span<const uint8_t> dacl, Row&& row) {
  if (aceCount <= 0) {
    row("", "");
    return;
  }
  for (int32_t i = 0; i < aceCount; ++i) {
    velmo::sec::Ace ace;
    // Entries are found by walking from the first, so once one cannot be
    // read none after it can: stop there.
    if (!velmo::sec::GetAce(dacl, static_cast<uint32_t>(i), ace)) break;
    uint32_t mask = 0;
    std::span<const uint8_t> sid;
    if (!velmo::sec::AceAccessMask(ace, mask) || !velmo::sec::AceSid(ace, sid)) continue;
    velmo::accounts::AccountName account;
    if (velmo::accounts::LookupAccountSid(sid, account) != velmo::accounts::ERROR_SUCCESS) continue;
    const std::string text = account.domain.empty() ? account.name : account.domain + "\\" + account.name;
    row(text, RoleNameFromMask(mask));
  }
}

}  // namespace

std::string RoleNameFromMask(uint32_t mask) {
  switch (mask) {
    case 0x8: return "Send As";
    case 0x1A: return "User";
    case 0x100: return "Search";
    case 0x10027: return "Admin.";
    case 0x100A7: return "Permissions Admin.";
    default: return "Custom";
  }
}

int32_t Exch55::GetPermissions(const std::string& bstrServDisplayAliasName, const std::string& bstrLevel,
                               const std::string& bstrDisplayName, const std::string& bstrAliasName,
                               const std::string& bstrDatabaseName, const std::string& bstrTableName,
                               int32_t lAceCount, std::span<const uint8_t> lpDACL,
                               const std::string& bstrHomeServer, const std::string& bstrObjectADsPath) {
  ClearError();
  // The account names file is looked at once for the call's entries.
  velmo::providers::LookupRound round;
  const bool hasLevel = IsOneOf(bstrTableName, {"ProtocolPerm", "ServerObjectsPerm"});
  const bool directoryName = IsOneOf(bstrTableName, {"ProtocolPerm", "ConnectorPerm", "ServerPrivateISPerm",
                                                     "ServerPublicISPerm", "ServerObjectsPerm"});
  const bool homeServer = IsOneOf(bstrTableName, {"MailboxPerm"});

  velmo::db::Connection* conn = nullptr;
  velmo::db::Recordset rs;
  try {
    if (!IsPlainName(bstrTableName))
      throw velmo::ComError(velmo::db::kDbNoSuchTable, "The table name '" + bstrTableName + "' is not valid.");
    // The call's rows, their columns in the order of assignment.
    std::vector<std::string> columns = {"ServerName"};
    if (hasLevel) columns.push_back("Level");
    columns.insert(columns.end(), {"Object Path", "Display Name", directoryName ? "Directory Name" : "Alias Name",
                                   "Windows NT Accounts With Permissions", "Roles"});
    if (homeServer) columns.push_back("Home Server");
    std::vector<std::vector<Value>> held;
    auto addRow = [&](const std::string& account, const std::string& roles) {
      std::vector<Value> row = {Value(bstrServDisplayAliasName)};
      if (hasLevel) row.emplace_back(bstrLevel);
      row.insert(row.end(), {Value(bstrObjectADsPath), Value(bstrDisplayName), Value(bstrAliasName),
                             Value(account), Value(roles)});
      if (homeServer) row.emplace_back(bstrHomeServer);
      held.push_back(std::move(row));
    };
    ForEachEntry(lAceCount, lpDACL, addRow);
    // Inside a page of rows the caller holds open on this thread (the
    // collector's container page, written whole at its end) the rows join
    // it as they are: no recordset per call.
    if (velmo::db::HoldRows(bstrDatabaseName, bstrTableName, columns, held)) return 0;
    // Otherwise one connection per database file and thread serves every
    // call (an open per call cost more than the rows), and the rows are
    // written in a transaction of their own when the recordset closes.
    conn = &velmo::db::ThreadConnection(bstrDatabaseName);
    rs.Open("select * from " + bstrTableName, *conn, velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);

    for (const auto& row : held) {
      rs.AddNew();
      for (size_t c = 0; c < columns.size(); ++c) rs[columns[c]] = row[c];
      rs.Update();
    }
    rs.Close();
    return 0;
  } catch (const std::exception& e) {
    // The kept connection is closed too: the next call opens the file
    // afresh.
    velmo::db::Connection none;
    const auto [number, description] = AbandonDatabaseWrite(e, rs, conn ? *conn : none);
    std::filesystem::path folder = velmo::db::PathFromConnectionString(bstrDatabaseName).parent_path();
    if (folder.empty()) folder = ".";
    velmo::AppendLine(folder / "VelmorcastErrorLog.log",
                      LogStamp() + " GetPermissions Database Error: " + LogHex(number) + " " + bstrTableName);
    return ReportFailure(number, description);
  }
}

}  // namespace velmorccom
