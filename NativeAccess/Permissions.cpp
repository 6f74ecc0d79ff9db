// GetPermissions: one permission row per access-control entry of a DACL.
#include <filesystem>

#include "AccountNames.h"
#include "AppFolder.h"
#include "Database.h"
#include "Exch55.h"
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

  // One connection per database file and thread serves every call: the
  // permissions page calls once per directory object, and an open per call
  // cost more than the rows. The rows of each call are handed over when the
  // recordset closes: to the page of rows the caller holds open on this
  // thread (the collector's container page, written whole at its end), or
  // else written in a transaction of their own.
  velmo::db::Connection* conn = nullptr;
  velmo::db::Recordset rs;
  auto addRow = [&](const std::string& account, const std::string& roles) {
    rs.AddNew();
    rs["ServerName"] = Value(bstrServDisplayAliasName);
    if (hasLevel) rs["Level"] = Value(bstrLevel);
    rs["Object Path"] = Value(bstrObjectADsPath);
    rs["Display Name"] = Value(bstrDisplayName);
    rs[directoryName ? "Directory Name" : "Alias Name"] = Value(bstrAliasName);
    rs["Windows NT Accounts With Permissions"] = Value(account);
    rs["Roles"] = Value(roles);
    if (homeServer) rs["Home Server"] = Value(bstrHomeServer);
    rs.Update();
  };

  try {
    if (!IsPlainName(bstrTableName))
      throw velmo::ComError(velmo::db::kDbNoSuchTable, "The table name '" + bstrTableName + "' is not valid.");
    conn = &velmo::db::ThreadConnection(bstrDatabaseName);
    rs.Open("select * from " + bstrTableName, *conn, velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);

    if (lAceCount <= 0) {
      addRow("", "");
    } else {
      for (int32_t i = 0; i < lAceCount; ++i) {
        velmo::sec::Ace ace;
        // Entries are found by walking from the first, so once one cannot
        // be read none after it can: stop there.
        if (!velmo::sec::GetAce(lpDACL, static_cast<uint32_t>(i), ace)) break;
        uint32_t mask = 0;
        std::span<const uint8_t> sid;
        if (!velmo::sec::AceAccessMask(ace, mask) || !velmo::sec::AceSid(ace, sid)) continue;
        velmo::accounts::AccountName account;
        if (velmo::accounts::LookupAccountSid(sid, account) != velmo::accounts::ERROR_SUCCESS) continue;
        const std::string text = account.domain.empty() ? account.name : account.domain + "\\" + account.name;
        addRow(text, RoleNameFromMask(mask));
      }
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
