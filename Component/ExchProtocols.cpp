// Protocols: the site's protocol defaults (the site's Protocols container)
// and a server's protocol settings (the server's Protocols container), one
// reader per protocol object writing ProtocolGeneral, ProtocolAuthFormat,
// ProtocolMiscInfo and, through the permissions bridge, ProtocolPerm.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "ComError.h"
#include "Exch55Info.h"
#include "ExchConfigText.h"

using velmo::collector::Piece;
using velmo::collector::Split;

namespace {

const char* MimeEncoding(long contentType) {
  switch (contentType) {
    case 0:
      return "MIME - Provide message body as plain text;Provide message body as HTML";
    case 1:
      return "MIME - Provide message body as plain text";
    case 2:
      return "UUENCODE - Use Binhex for Macintosh";
    case 3:
      return "UUENCODE Default";
    case 4:
      return "MIME - Provide message body as HTML";
    default:
      return "";
  }
}

const char* SubstringSearches(long setting) {
  switch (setting) {
    case 0:
      return "Treat any substring searches as initial substring searches (fast)";
    case 1:
      return "Allow only initial substring searches (fast)";
    case 2:
      return "Allow all substring searches (slow)";
    default:
      return "";
  }
}

const char* MethodOf(const std::string& package) {
  static const std::pair<const char*, const char*> kMethods[] = {
      {"CLEARTEXT", "Basic (Clear Text)"},
      {"CLEARTEXTSSL", "Basic (Clear Text) using SSL"},
      {"NTLM", "Windows NT Challenge/Response"},
      {"NTLMSSL", "Windows NT Challenge/Response using SSL"},
      {"DPA", "MCIS Membership System"},
      {"DPASSL", "MCIS Membership System using SSL"}};
  for (const auto& [name, method] : kMethods)
    if (package == name) return method;
  return nullptr;
}

// The flag of a package entry as a Boolean: a number is true when not 0,
// "True"/"False" read as such; anything else counts as not enabled.
bool FlagOn(const std::string& flag) {
  std::string f = velmo::collector::Trim(flag);
  if (f == "True" || f == "true" || f == "TRUE") return true;
  if (f.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(f.c_str(), &end);
  return end != f.c_str() && *end == '\0' && v != 0;
}

struct AuthEntry {
  std::string method, enabled;
};

// Entries numbered in the list's order; a value whose package is unknown
// keeps its number with empty texts; the entries end at the last known
// package; no known package at all gives one empty entry.
std::vector<AuthEntry> AuthEntries(const std::vector<std::string>& packages) {
  std::vector<AuthEntry> out;
  size_t used = 0;
  for (size_t i = 0; i < packages.size(); ++i) {
    auto pieces = Split(packages[i], velmo::collector::kSectionSign);
    if (pieces.size() < 2) continue;
    const char* method = MethodOf(pieces[1]);
    if (!method) continue;
    out.resize(i + 1);
    out[i] = {method, FlagOn(pieces[0]) ? "Yes" : "No"};
    used = i + 1;
  }
  out.resize(std::max<size_t>(used, 1));
  return out;
}

}  // namespace

void Exch55Info::GetProtocolInfo(const std::string& strServerName, const std::string& strUserName,
                                 const std::string& strPassword, std::string* strRetErrorMsg) {
  Guarded("GetProtocolInfo", strServerName, {"Protocols container@@  ", "  @@   "}, strRetErrorMsg,
          [&](std::string& err) { CollectProtocols(false, strServerName, strUserName, strPassword, err); });
}

void Exch55Info::GetServerProtocolsInfo(const std::string& strServerName, const std::string& strUserName,
                                        const std::string& strPassword, std::string* strRetErrorMsg) {
  Guarded("GetServerProtocolsInfo", strServerName, {"Servers-Protocols container@@  ", "  @@   "}, strRetErrorMsg,
          [&](std::string& err) { CollectProtocols(true, strServerName, strUserName, strPassword, err); });
}

void Exch55Info::CollectProtocols(bool serverLevel, const std::string& strServerName, const std::string& strUserName,
                                  const std::string& strPassword, std::string& strRetErrorMsg) {
  const std::string procedure = serverLevel ? "GetServerProtocolsInfo" : "GetProtocolInfo";
  if (!StartCall(procedure, strServerName + "-" + strUserName + "-", strServerName, strUserName, strPassword,
                 strRetErrorMsg))
    return;

  const std::string path =
      serverLevel ? "LDAP://" + strServerName + "/CN=Protocols,CN=" + strServerName + ",CN=Servers,CN=Configuration," +
                        SiteRdn + "," + OrgRdn
                  : "LDAP://" + strServerName + "/CN=Protocols,CN=Configuration," + SiteRdn + "," + OrgRdn;
  const std::string user = AdminUser(strUserName);
  const std::string params = strServerName + "-" + user + "-";
  BeginCall(user, strPassword);
  const BindFailureText failure =
      serverLevel ? BindFailureText{"Servers-Protocols container@@  ", "  @@   ",
                                    "Listing objects under Servers-Protocols Container '"}
                  : BindFailureText{"Protocols container@@  ", "  @@   ",
                                    "Listing objects under Protocols Container '"};
  DirObjectPtr container;
  if (!BindOrReport(path, user, strPassword, failure, procedure, params, strRetErrorMsg, container)) return;

  // Every child is a protocol to read, whatever its class. A listing cut
  // short, a server lost or a refused write stops the call and takes back
  // the rows of the protocols read before.
  velmo::db::WriteJournal journal;
  velmo::db::PageWrite page(DatabasePath);
  const std::vector<std::string> names = ChildNames(*container);
  container.reset();
  for (const auto& name : names) {
    if (Stopped()) break;
    std::string result;
    GetProtocolProp(serverLevel ? "Server" : "Site", name, strServerName, user, strPassword, result);
    strRetErrorMsg += "_" + result;
  }
  WritePage(page);
  if (Stopped())
    EndStoppedCall(journal, failure.kind, failure.separator,
                   failure.logBefore + path + failure.logAfter + " using credential '" + user + "'", strRetErrorMsg,
                   true);
  LogTrace(procedure + " End", params);
}

void Exch55Info::GetProtocolProp(const std::string& strLevel, const std::string& strObjectName,
                                 const std::string& strServerName, const std::string& strUserName,
                                 const std::string& strPassword, std::string& result) {
  const std::string params = strLevel + "-" + strObjectName + "-" + strServerName + "-" + strUserName + "-";
  if (!StartCall("GetProtocolProp", params, strServerName, strUserName, strPassword, result)) return;

  const bool site = strLevel == "Site";
  const bool server = strLevel == "Server";
  ObjectPath = OrgRdn + "/" + SiteRdn +
               (server ? "/cn=Configuration/cn=Servers/cn=" + strServerName + "/cn=Protocols"
                       : std::string("/cn=Configuration/cn=Protocols"));
  DirObjectPtr obj;
  if (!BindOrReport("LDAP://" + strServerName + "/" + ObjectPath + "/" + strObjectName, strUserName, strPassword,
                    {velmo::collector::WithoutCn(strObjectName) + " Protocol object@@  ", "  @@   ",
                     "Binding to the Protocol object  '", "''"},
                    "GetProtocolProp", params, result, obj))
    return;

  const std::string levelText = site || server ? strLevel : "";
  const bool http = strObjectName == "cn=HTTP", imap = strObjectName == "cn=IMAP4",
             ldap = strObjectName == "cn=LDAP", nntp = strObjectName == "cn=NNTP", pop = strObjectName == "cn=POP3";

  LoadInfo(*obj, {"Admin-Display-Name", "rdn", "Admin-Description"});
  std::string displayName, directoryName, note;
  ReadText(*obj, "Admin-Display-Name", displayName);
  ReadText(*obj, "rdn", directoryName);
  ReadText(*obj, "Admin-Description", note);

  GetObjectPermissions(*obj, levelText, displayName, directoryName, "ProtocolPerm", "", "", ObjectPath);

  // A server's protocol that follows the site keeps no settings of its
  // own; an unreadable flag counts as following the site.
  std::string useSite;
  if (server) {
    LoadInfo(*obj, {"Use-Site-Values"});
    bool flag = true;
    useSite = !ReadBool(*obj, "Use-Site-Values", flag) || flag ? "Yes" : "No";
  }

  std::string enabled, anonymous, idle, mime, anonymousPF, gal, galLimit, listPF, port, anonymousAccount,
      clientAccess, charset, tnef, smime, substring, maxResults;
  std::vector<std::string> packages, referrals, newsfeeds;
  if (site || (server && useSite == "No")) {
    LoadInfo(*obj, {"Enabled-Protocol-Cfg", "Anonymous-Access", "Association-Lifetime",
                    "Enabled-Authorization-Packages", "Content-Type"});
    bool flag = true;
    enabled = !ReadBool(*obj, "Enabled-Protocol-Cfg", flag) || flag ? "True" : "False";
    if (!pop) {
      flag = true;
      anonymous = !ReadBool(*obj, "Anonymous-Access", flag) || flag ? "True" : "False";
    }
    if (!http) {
      double minutes = 0;
      if (!ReadNumber(*obj, "Association-Lifetime", minutes)) minutes = 0;
      const long whole = std::lround(minutes);
      idle = whole != 0 ? std::to_string(whole) : "Do not close idle connections";
      ReadList(*obj, "Enabled-Authorization-Packages", packages);
    }
    if (!http && !ldap) {
      double contentType = 0;
      if (!ReadNumber(*obj, "Content-Type", contentType)) contentType = 0;
      mime = contentType == std::floor(contentType) ? MimeEncoding(static_cast<long>(contentType)) : "";
    }
    if (http) {
      LoadInfo(*obj, {"HTTP-Pub-GAL-Limit", "HTTP-Pub-GAL"});
      std::string limit;
      galLimit = ReadText(*obj, "HTTP-Pub-GAL-Limit", limit) && !limit.empty() ? limit : "No limit";
      anonymousPF = anonymous;
      ReadText(*obj, "HTTP-Pub-GAL", gal);
    } else if (imap) {
      LoadInfo(*obj, {"Anonymous-Account", "List-Public-Folders", "Character-Set", "Send-TNEF"});
      ReadText(*obj, "Anonymous-Account", anonymousAccount);
      ReadText(*obj, "List-Public-Folders", listPF);
      ReadText(*obj, "Character-Set", charset);
      ReadText(*obj, "Send-TNEF", tnef);
    } else if (ldap) {
      LoadInfo(*obj, {"Port-Number", "LDAP-Search-Cfg", "Outgoing-msg-size-limit", "Referral-List"});
      ReadText(*obj, "Port-Number", port);
      double setting = 0;
      if (!ReadNumber(*obj, "LDAP-Search-Cfg", setting)) setting = 0;
      substring = setting == std::floor(setting) ? SubstringSearches(static_cast<long>(setting)) : "";
      ReadText(*obj, "Outgoing-msg-size-limit", maxResults);
      ReadList(*obj, "Referral-List", referrals);
    } else if (nntp) {
      LoadInfo(*obj, {"Client-Access-Enabled", "Support-SMIME-Signatures", "NNTP-Newsfeeds"});
      ReadText(*obj, "Client-Access-Enabled", clientAccess);
      ReadText(*obj, "Support-SMIME-Signatures", smime);
      ReadList(*obj, "NNTP-Newsfeeds", newsfeeds);
    } else if (pop) {
      LoadInfo(*obj, {"Character-Set", "Send-TNEF"});
      ReadText(*obj, "Character-Set", charset);
      ReadText(*obj, "Send-TNEF", tnef);
    }
  }
  obj.reset();

  const Row lead{strServerName, levelText, ObjectPath, displayName, directoryName, useSite};
  auto withLead = [&](std::initializer_list<Value> rest) {
    Row row = lead;
    row.insert(row.end(), rest);
    return row;
  };

  OpenDBConnection();
  OpenRecordset("select * from ProtocolGeneral");
  if (DbRecordset)
    AddRow(*DbRecordset, withLead({enabled, note, anonymousPF, gal, galLimit, listPF, "", port, anonymous,
                                   anonymousAccount, clientAccess, idle}));

  OpenRecordset("select * from ProtocolAuthFormat");
  if (DbRecordset)
    for (const auto& entry : AuthEntries(packages))
      AddRow(*DbRecordset, withLead({entry.method, entry.enabled, mime, charset, tnef, smime}));

  OpenRecordset("select * from ProtocolMiscInfo");
  if (DbRecordset) {
    const size_t rows = std::max<size_t>({referrals.size(), newsfeeds.size(), 1});
    for (size_t i = 0; i < rows; ++i)
      AddRow(*DbRecordset, withLead({"", substring, maxResults, Piece(referrals, i), Piece(newsfeeds, i), ""}));
  }
  CloseRecordset();
  CloseDBConnection();
  LogTrace("GetProtocolProp End", params);
}
