// The property pages every recipient kind shares: custom attributes,
// distribution-list membership with e-mail addresses, and delivery
// restrictions. The caller has bound the recipient and opened the
// recordset of the right table; each writer appends its rows there.
#include <algorithm>
#include <string>

#include "ComError.h"
#include "Exch55Info.h"

namespace {

// A directory Boolean as text the way the pages show it.
std::string BoolText(const std::string& raw) {
  if (raw == "TRUE" || raw == "true") return "True";
  if (raw == "FALSE" || raw == "false") return "False";
  return raw;
}

const std::string& At(const std::vector<std::string>& list, size_t i) {
  static const std::string empty;
  return i < list.size() ? list[i] : empty;
}

}  // namespace

void Exch55Info::WriteCustomAttributes(DirObject& obj, Recordset& rs, const std::string& displayName,
                                       const std::string& alias, const std::string& path, const std::string& kind,
                                       const std::string& homeServer) {
  Row row{BoundServer, path, displayName, alias};
  for (int n = 1; n <= 10; ++n) {
    std::string v;
    ReadText(obj, "Extension-Attribute-" + std::to_string(n), v);
    row.push_back(v);
  }
  if (kind == "Mailbox") row.push_back(homeServer);
  AddRow(rs, row);
}

void Exch55Info::WriteEmailAddresses(DirObject& obj, Recordset& rs, const std::string& displayName,
                                     const std::string& alias, const std::string& path, const std::string& kind,
                                     const std::string& homeServer) {
  // Lists the recipient belongs to: directory name, alias, display name.
  std::vector<std::string> listDn, listUid, listCn;
  std::vector<std::string> memberOf;
  if (!ReadList(obj, "memberOf", memberOf)) {
    listDn.assign(1, "");
    listUid.assign(1, "");
    listCn.assign(1, "");
  } else {
    for (const auto& dn : memberOf) {
      std::string uid, cn;
      try {
        auto list = BindReferenced(dn);
        ReadText(*list, "uid", uid);
        ReadText(*list, "cn", cn);
      } catch (const velmo::ComError&) {
        uid.clear();
        cn.clear();
      }
      listDn.push_back(dn);
      listUid.push_back(uid);
      listCn.push_back(cn);
    }
  }

  // Addresses: SMTP, X.400, then the typed others as read. An address whose
  // attribute cannot be read stays an empty entry.
  LoadInfo(obj, {"mail", "textencodedORaddress", "otherMailbox"});
  std::vector<std::string> addresses;
  std::string v;
  addresses.push_back(ReadText(obj, "mail", v) ? "SMTP$" + v : std::string());
  v.clear();
  addresses.push_back(ReadText(obj, "textencodedORaddress", v) ? "X.400$" + v : std::string());
  std::vector<std::string> others;
  if (ReadList(obj, "otherMailbox", others)) addresses.insert(addresses.end(), others.begin(), others.end());

  const size_t rows = std::max(listDn.size(), addresses.size());
  for (size_t r = 0; r < rows; ++r) {
    const std::string& entry = At(addresses, r);
    const std::string type = entry.empty() ? "" : AddressType(entry);
    const std::string address = entry.empty() ? "" : AddressOf(entry);
    Row row{BoundServer, path, displayName, alias, At(listCn, r), At(listDn, r), At(listUid, r), type, address};
    if (kind == "Mailbox") row.push_back(homeServer);
    AddRow(rs, row);
  }
}

void Exch55Info::WriteDeliveryRestrictions(const std::string& kind, DirObject& obj, Recordset& rs,
                                           const std::string& displayName, const std::string& alias,
                                           const std::string& path, const std::string& homeServer) {
  auto resolvedNames = [&](const std::string& attribute, const std::string& whenMissing) {
    std::vector<std::string> dns, names;
    if (!ReadList(obj, attribute, dns)) return std::vector<std::string>{whenMissing};
    for (const auto& dn : dns) names.push_back(ReferencedText(dn, "cn"));
    return names;
  };
  const std::vector<std::string> accept = resolvedNames("Auth-Orig", "All");
  const std::vector<std::string> reject = resolvedNames("UnAuth-Orig", "None");

  const bool mailbox = kind == "Mailbox";
  std::vector<std::string> delegates;
  std::string altName, altDn, altUid, deliverBoth;
  if (mailbox) {
    delegates = resolvedNames("Public-Delegates", "");
    LoadInfo(obj, {"Alt-Recipient"});
    if (!ReadText(obj, "Alt-Recipient", altDn)) {
      altName = altDn = altUid = "None";
    } else {
      ReferencedUidAndCn(altDn, altUid, altName);
      std::string raw;
      LoadInfo(obj, {"Deliver-And-Redirect"});
      if (!ReadText(obj, "Deliver-And-Redirect", raw)) {
        LoadInfo(obj, {"Deliver-And-Redirect"});
        if (!ReadText(obj, "Deliver-And-Redirect", raw)) raw.clear();
      }
      deliverBoth = BoolText(raw);
    }
  }

  size_t rows = std::max(accept.size(), reject.size());
  if (mailbox) rows = std::max(rows, delegates.size());
  for (size_t r = 0; r < rows; ++r) {
    Row row{BoundServer, path, displayName, alias, At(accept, r), At(reject, r)};
    if (mailbox) {
      row.insert(row.end(), {At(delegates, r), altName, altDn, altUid, deliverBoth, homeServer});
    }
    AddRow(rs, row);
  }
}
