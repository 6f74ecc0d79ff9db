#pragma once
// Account management ("MSExchange.AcctMgmt"): the names of a Windows NT
// account from its security identifier, over the SID-to-account provider.
// Created by ProgID through the object factory, once RegisterAcctMgmt ran:
//   velmo::com::CreateObject<velmo::acct::IAcctMgmt>("MSExchange.AcctMgmt")
#include <cstdint>
#include <string>
#include <vector>

#include "ComFactory.h"

namespace velmo::acct {

class IAcctMgmt {
 public:
  static constexpr const char* IID = "IAcctMgmt";
  virtual ~IAcctMgmt() = default;
  // sid holds the binary SID as a directory returns it, or its text form
  // "S-1-5-...". domain names the domain to ask ("" for the default).
  // domainName and login receive the account's domain and login name; both
  // are set on every call ("" when the SID names no account). Throws
  // velmo::ComError when the SID is malformed or no account provider is
  // configured.
  virtual void GetNameFromSid(const std::string& domain, const std::vector<uint8_t>& sid, std::string& domainName,
                              std::string& login) = 0;
};

// The class is registered in the application folder's class registry with
// the providers library (ProviderClasses.cpp). RegisterAcctMgmt registers it
// in process as well (again: harmless), for callers without the registry.
void RegisterAcctMgmt();
// A new account-management object.
com::ComObject* NewAcctMgmt();

}  // namespace velmo::acct
