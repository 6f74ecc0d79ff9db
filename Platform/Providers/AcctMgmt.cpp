// "MSExchange.AcctMgmt" over the SID-to-account provider.
#include "AcctMgmt.h"

#include <span>

#include "AccountNames.h"
#include "ComError.h"
#include "ComFactory.h"

namespace velmo::acct {
namespace {

constexpr int32_t HresultFromWin32(uint32_t code) { return code == 0 ? 0 : Hr(0x80070000u | (code & 0xFFFFu)); }

class AcctMgmt : public com::ComObject, public IAcctMgmt {
 public:
  void* QueryInterface(std::string_view iid) override {
    return iid == IAcctMgmt::IID ? static_cast<IAcctMgmt*>(this) : nullptr;
  }

  void GetNameFromSid(const std::string& /*domain*/, const std::vector<uint8_t>& sid, std::string& domainName,
                      std::string& login) override {
    domainName.clear();
    login.clear();
    accounts::AccountName account;
    uint32_t rc;
    // A directory may hand the SID over in binary or as its "S-1-..." text.
    if (sid.size() > 4 && sid[0] == 'S' && sid[1] == '-')
      rc = accounts::LookupAccountSidText(std::string(sid.begin(), sid.end()), account);
    else
      rc = accounts::LookupAccountSid(std::span<const uint8_t>(sid.data(), sid.size()), account);
    if (rc == accounts::ERROR_NONE_MAPPED) return;  // no such account: both names empty
    if (rc != accounts::ERROR_SUCCESS)
      throw ComError(HresultFromWin32(rc), rc == accounts::ERROR_INVALID_SID ? "The security ID structure is invalid."
                                                                             : "The account could not be looked up.");
    domainName = account.domain;
    login = account.name;
  }
};

}  // namespace

com::ComObject* NewAcctMgmt() { return new AcctMgmt(); }

void RegisterAcctMgmt() {
  com::RegisterBuiltin("MSExchange.AcctMgmt", [] { return NewAcctMgmt(); });
}
}  // namespace velmo::acct
