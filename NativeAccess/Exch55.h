#pragma once
// The class Exch55 of VELMORCCom and the helpers its members share.
// Callers use the interface (IExch55.h) through the object factory; this
// header is for the library itself and its tests.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "ComFactory.h"
#include "Database.h"
#include "IExch55.h"

namespace velmorccom {

class Exch55 : public velmo::com::ComObject, public IExch55 {
 public:
  void* QueryInterface(std::string_view iid) override;

  int32_t GetDomains(int32_t& varNumDomains, std::vector<std::string>& varDomains) override;
  int32_t GetExchangeServers(const std::string& bstrDomainName, int32_t& varNumServers,
                             std::vector<std::string>& varServers) override;
  int32_t IsExchServer(const std::string& bstrServerName, int32_t& blnRetVal) override;
  int32_t GetPermissions(const std::string& bstrServDisplayAliasName, const std::string& bstrLevel,
                         const std::string& bstrDisplayName, const std::string& bstrAliasName,
                         const std::string& bstrDatabaseName, const std::string& bstrTableName, int32_t lAceCount,
                         std::span<const uint8_t> lpDACL, const std::string& bstrHomeServer,
                         const std::string& bstrObjectADsPath) override;
  int32_t GetISResources(int32_t lMode, const std::string& bstrServerName, const std::string& bstrOrgName,
                         const std::string& bstrSiteName, const std::string& bstrDatabaseName,
                         long lWinHwnd) override;
  int32_t ApplicationPath(const std::string& path) override;
  int32_t GetISResourcesUsingProfile(int32_t lMode, const std::string& bstrServerName,
                                     const std::string& bstrOrgName, const std::string& bstrSiteName,
                                     const std::string& bstrDatabaseName,
                                     const std::string& bstrProfileName) override;
  ErrorInfo GetErrorInfo() const override { return error_; }
  int32_t InterfaceSupportsErrorInfo(std::string_view iid) const override;

 private:
  // Records error information for code (text from FormatSystemError) and
  // returns code | 0x80040000.
  int32_t ReportSystemError(uint32_t code);
  // Records a description as it is and returns the failure number.
  int32_t ReportFailure(int32_t number, const std::string& description);
  void ClearError() { error_ = {}; }

  int32_t CollectStoreResources(int32_t lMode, const std::string& server, const std::string& org,
                                const std::string& site, const std::string& database, long window,
                                const std::string& profile, bool interactive);

  std::string applicationPath_;
  ErrorInfo error_;
};

// The text of a system, network or messaging code: 2351 gives "This
// Computer Name is Invalid"; the codes the platform services produce give
// their message; any other code gives "".
std::string FormatSystemError(uint32_t code);

// Role text of an access mask, compared whole: 0x8 "Send As", 0x1A "User",
// 0x100 "Search", 0x10027 "Admin.", 0x100A7 "Permissions Admin.", any
// other "Custom".
std::string RoleNameFromMask(uint32_t mask);

// Store-resource column texts.
// Bytes as whole kilobytes, rounded up ("0", "1" for 1..1024, "2" for 1025).
std::string KilobytesText(uint64_t bytes);
// 1 "Below Limit", 2 "Issue Warning", 4 "Prohibit Send", 8 "No Checking",
// any other value "".
std::string StorageLimitText(int32_t state);
// A file time (100 ns units since 1601, UTC) as local "M/d/yyyy h:mm:ss AP".
std::string FileTimeText(uint64_t fileTime);

// The log line's date and time: "M/d/yyyy h:mm:ss AP" of now.
std::string LogStamp();
// A failure number as the log lines write it: lower-case hexadecimal
// without prefix or leading zeros.
std::string LogHex(int32_t number);

// A database write that failed part-way: drops the row being built (rows
// already added stay), closes the recordset and the connection, and gives
// the failure's number (E_FAIL for anything that carries none) and text.
struct DbWriteFailure {
  int32_t number;
  std::string description;
};
DbWriteFailure AbandonDatabaseWrite(const std::exception& e, velmo::db::Recordset& rs, velmo::db::Connection& conn);

}  // namespace velmorccom
