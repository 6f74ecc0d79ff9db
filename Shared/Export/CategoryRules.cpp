// The category query rules.
#include "CategoryRules.h"

#include <cctype>
#include <initializer_list>
#include <vector>

#include "Database.h"
#include "TextParts.h"

namespace velmo::exporting {

namespace {

using text::LowerAscii;

bool Has(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (size_t i = 0; i + word.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < word.size() && LowerAscii(text[i + k]) == LowerAscii(word[k])) ++k;
    if (k == word.size()) return true;
  }
  return false;
}

bool HasAny(std::string_view text, std::initializer_list<std::string_view> words) {
  for (auto w : words)
    if (Has(text, w)) return true;
  return false;
}

std::string Prefix(std::string_view t) {
  if (Has(t, "Mailboxes")) return "Mailbox";
  if (Has(t, "Public Folders")) return "PF";
  if (Has(t, "Custom Recipients")) return "CR";
  if (Has(t, "Distribution Lists")) return "DL";
  if (HasAny(t, {"IMAP4", "HTTP", "LDAP", "NNTP", "POP3"})) return "Protocol";
  if (Has(t, "Private Information Store")) return "ServerPrivateIS";
  if (Has(t, "Public Information Store")) return "ServerPublicIS";
  if (HasAny(t, {"Internet Mail Connector", "Connector for cc:Mail", "MS Mail Connector", "Site Connector"}))
    return "Connector";
  if (Has(t, "Newsfeed")) return "ConnectorNewsfeed";
  return "";
}

std::string Suffix(std::string_view t) {
  if (HasAny(t, {"General", "Summary"})) return "General";
  if (HasAny(t, {"Organization", "Phone/Notes"})) return "OrgnPhoneNotes";
  if (Has(t, "Permissions")) return "Perm";
  if (Has(t, "Protocols")) return "Protocols";
  if (Has(t, "Custom Attributes")) return "CustomAttr";
  if (HasAny(t, {"Advanced", "Limits"})) {
    if (HasAny(t, {"Mailboxes", "Distribution Lists", "Public Folders", "Custom Recipients"})) return "Advanced";
    if (Has(t, "Public Information Store")) return "MiscInfo";
    return "General";
  }
  if (HasAny(t, {"Delivery Restrictions", "Delivery Options"})) return "DelivRestr";
  if (HasAny(t, {"E-Mail Addresses", "Distribution Lists"}))
    return Has(t, "Public Information Store") ? "MiscInfo" : "DLEMailAddr";
  if (HasAny(t, {"Search", "Folder Shortcuts", "Referrals", "Newsfeeds", "Control Messages"})) return "MiscInfo";
  if (HasAny(t, {"Authentication", "Message Format"})) return "AuthFormat";
  if (HasAny(t, {"Anonymous", "Idle Time-out"})) return "General";
  if (HasAny(t, {"Logons", "Mailbox Resources", "Public Folder Resources"})) return "Resources";
  if (HasAny(t, {"Instances", "Age Limits"})) return "MiscInfo";
  if (HasAny(t, {"Address Space", "Connected Sites", "Target Servers", "Override", "Internet Mail", "Routing",
                 "Security", "Local Postoffice", "Connections", "Connector MTAs"}))
    return "MiscInfo";
  if (Has(t, "Interchange")) return "General";
  return "";
}

// ContainerInfo for a general page, ServerObjectsPerm for permissions.
std::string ContainerOverride(std::string_view t, std::string current) {
  if (Has(t, "General")) return "ContainerInfo";
  if (Has(t, "Permissions")) return "ServerObjectsPerm";
  return current;
}

std::vector<std::string> Split(std::string_view text, char sep) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (true) {
    size_t next = text.find(sep, at);
    parts.emplace_back(text.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
    if (next == std::string_view::npos) break;
    at = next + 1;
  }
  return parts;
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  size_t at = 0;
  while ((at = text.find(from, at)) != std::string::npos) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

}  // namespace

bool TableStartsWith(std::string_view table, std::string_view word) {
  if (table.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (LowerAscii(table[i]) != LowerAscii(word[i])) return false;
  return true;
}

std::string CategoryTableName(std::string_view t) {
  std::string result = Prefix(t);
  if (result != "ConnectorNewsfeed") result += Suffix(t);
  if (Has(t, "Diagnostics Logging")) result = "DiagLogging";
  if (HasAny(t, {"Message Transfer Agent", "System Attendant"})) {
    if (Has(t, "Diagnostics Logging"))
      result = "DiagLogging";
    else if (Has(t, "Permissions"))
      result = "ServerObjectsPerm";
    else
      result = "ServerObjectsInfo";
  }
  if (HasAny(t, {"ServerPermissions", "ServerGeneral", "Container"})) result = ContainerOverride(t, result);
  if (Has(t, "Protocols")) result = ContainerOverride(t, result);
  return result;
}

std::string CategoryColumnList(std::string_view columnSet, std::string_view reportName) {
  const std::string value = velmo::text::Trim(columnSet);
  std::vector<std::string> names;
  if (reportName == "Default") {
    std::vector<std::string> pieces = Split(value, ';');
    if (pieces.size() < 2 || pieces[1].empty()) return "";
    names = Split(pieces[1], ',');
  } else {
    names.push_back("Display Name");
    if (!value.empty())
      for (auto& n : Split(value, ',')) names.push_back(n);
  }
  std::string list;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) list += ',';
    list += velmo::db::QuoteIdent(names[i]);
  }
  return list;
}

std::string CategoryBaseStatement(std::string_view columnList, std::string_view table, std::string_view serverName) {
  return "select distinct " + std::string(columnList) + " from " + velmo::db::QuoteIdent(table) +
         " where ServerName=" + velmo::db::SqlQuote(serverName);
}

std::string CategoryRestriction(std::string_view table, std::string_view t) {
  if (!TableStartsWith(table, "Protocol") && !TableStartsWith(table, "Connector")) return "";
  std::string out;
  if (HasAny(t, {"HTTP", "IMAP4", "LDAP", "NNTP", "POP3"}))
    out += HasAny(t, {"ServerHTTP", "ServerIMAP4", "ServerLDAP", "ServerNNTP", "ServerPOP3"}) ? " and Level='Server'"
                                                                                            : " and Level='Site'";
  for (const char* name : {"HTTP", "IMAP4", "LDAP", "NNTP", "POP3", "Internet Mail Connector", "MS Mail Connector",
                           "Site Connector", "Newsfeed"}) {
    if (Has(t, name)) {
      out += " and [Directory Name] like '" + std::string(name) + "%'";
      break;
    }
  }
  return out;
}

std::string DiagnosticsPrefix(std::string_view tabName, std::string_view serverName) {
  std::string p(tabName);
  p = ReplaceAll(std::move(p), "Diagnostics Logging", "");
  p = ReplaceAll(std::move(p), "Server", serverName);
  p = ReplaceAll(std::move(p), "Message Transfer Agent", "Microsoft MTA");
  p = ReplaceAll(std::move(p), "Private Information Store", "Microsoft Private MDB");
  p = ReplaceAll(std::move(p), "Public Information Store", "Microsoft Public MDB");
  return p;
}

std::string DiagnosticsTerm(std::string_view prefix) {
  std::string pattern;
  for (char c : prefix) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  pattern += '%';
  return " and [Directory Name] like " + velmo::db::SqlQuote(pattern) + " escape '\\'";
}

}  // namespace velmo::exporting
