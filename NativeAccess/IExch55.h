#pragma once
// IExch55: the native access class of VELMORCCom (class Exch55).
//
// Created through the object factory:
//   auto exch = velmo::com::CreateObject<IExch55>("VELMORCCom.Exch55");
// ("VELMORCCom.Exch55.1" and any letter case work too). One object per
// operation; it is apartment-threaded: call it from one thread at a time.
//
// Every member returns an HRESULT (0 = S_OK; negative = failure). A failing
// member leaves its out-parameters as they were and, except where noted,
// records error information (description, source "VELMORCCom.Exch55.1",
// interface "IExch55") that GetErrorInfo() returns until the next call on
// the object. ThrowIfFailed() turns a failure into a velmo::ComError the
// way a caller that lets the error "raise" wants it.
//
// Failure numbers:
//  - Win32 and network codes come back as code | 0x80040000
//    (access denied 5 -> 0x80040005; 2351 -> 0x8004092F);
//  - MAPI codes are already HRESULTs and keep their value (0x80040111 an
//    unknown profile, 0x800B0001 | 0x80040000 a store the profile lacks);
//  - 0x80040113: the user cancelled the profile chooser; no error
//    information is recorded;
//  - database failures of GetPermissions and of the store-resource readers
//    come back with the database layer's own number and description, after
//    one line in "VelmorcastErrorLog.log". Nothing shows a message box.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ComError.h"

struct IExch55 {
  static constexpr const char* IID = "IExch55";
  static constexpr const char* IidText = "{5805C04D-3341-11D7-884F-008048DD5315}";
  static constexpr const char* ClsidText = "{5805C04E-3341-11D7-884F-008048DD5315}";
  static constexpr const char* LibidText = "{5805C041-3341-11D7-884F-008048DD5315}";
  static constexpr const char* ProgId = "VELMORCCom.Exch55.1";
  static constexpr const char* VersionIndependentProgId = "VELMORCCom.Exch55";

  // What a failing member recorded (all empty after a success).
  struct ErrorInfo {
    std::string description;
    std::string source;     // "VELMORCCom.Exch55.1"
    std::string interfaceId;  // "IExch55"
  };

  virtual ~IExch55() = default;

  // The domains of the network, in enumeration order.
  // varNumDomains receives the count, varDomains the names. When the
  // network lists no domain at all both stay untouched.
  virtual int32_t GetDomains(int32_t& varNumDomains, std::vector<std::string>& varDomains) = 0;

  // The servers of a domain ("" = this machine's domain) that run one of
  // the Exchange services, without leading backslashes, in enumeration
  // order. Servers that cannot be probed are left out silently.
  virtual int32_t GetExchangeServers(const std::string& bstrDomainName, int32_t& varNumServers,
                                     std::vector<std::string>& varServers) = 0;

  // blnRetVal = 1 when the machine (named exactly as passed) runs one of
  // the Exchange services, else 0. A service manager that cannot be opened
  // is a failure (blnRetVal = 0).
  virtual int32_t IsExchServer(const std::string& bstrServerName, int32_t& blnRetVal) = 0;

  // Appends one row per access-control entry of a DACL to a permission
  // table of the database at bstrDatabaseName (a path or a connection
  // string). lpDACL holds the ACL's bytes (as found by
  // velmo::sec::GetSecurityDescriptorDacl) and must stay valid for the
  // call; it is ignored when lAceCount is 0 or less, which writes the one
  // row with empty account and role texts. Entries that cannot be read or
  // whose account cannot be resolved give no row.
  // Result: S_OK, or the database error (rows already written stay).
  virtual int32_t GetPermissions(const std::string& bstrServDisplayAliasName, const std::string& bstrLevel,
                                 const std::string& bstrDisplayName, const std::string& bstrAliasName,
                                 const std::string& bstrDatabaseName, const std::string& bstrTableName,
                                 int32_t lAceCount, std::span<const uint8_t> lpDACL,
                                 const std::string& bstrHomeServer = "",
                                 const std::string& bstrObjectADsPath = "") = 0;

  // Mailbox (lMode 0) or public-folder (any other lMode) resources of a
  // server's information store, appended to ServerPrivateISResources or
  // ServerPublicISResources. The logon lets the user choose a profile
  // (owner window lWinHwnd, an id from velmo::ui::RegisterWindow, 0 for
  // none). Set ApplicationPath first: failures are logged in that folder.
  virtual int32_t GetISResources(int32_t lMode, const std::string& bstrServerName,
                                 const std::string& bstrOrgName, const std::string& bstrSiteName,
                                 const std::string& bstrDatabaseName, long lWinHwnd) = 0;

  // The folder of the store readers' error log (write-only property).
  virtual int32_t ApplicationPath(const std::string& path) = 0;

  // As GetISResources, logging on silently with the named profile.
  virtual int32_t GetISResourcesUsingProfile(int32_t lMode, const std::string& bstrServerName,
                                             const std::string& bstrOrgName, const std::string& bstrSiteName,
                                             const std::string& bstrDatabaseName,
                                             const std::string& bstrProfileName) = 0;

  // Error information of the last failed call on this object.
  virtual ErrorInfo GetErrorInfo() const = 0;
  // S_OK (0) for "IExch55", S_FALSE (1) for any other interface.
  virtual int32_t InterfaceSupportsErrorInfo(std::string_view iid) const = 0;
};

// Throws velmo::ComError(hr, description) when hr is a failure.
inline void ThrowIfFailed(const IExch55& object, int32_t hr) {
  if (hr < 0) throw velmo::ComError(hr, object.GetErrorInfo().description);
}
