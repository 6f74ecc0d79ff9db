#include "CustomReportQuery.h"
#include "TextParts.h"

#include "Database.h"

namespace {

using velmo::text::Trim;
using velmo::text::Split;

using velmo::db::SqlQuote;

bool Contains(const std::string& text, const char* literal) { return text.find(literal) != std::string::npos; }

// A caption that can name a column.
bool Usable(const std::string& caption) { return !caption.empty() && caption.find(']') == std::string::npos; }

bool IsServerObjectNode(const std::string& text) {
  return text == "Private Information Store" || text == "Public Information Store" ||
         text == "Message Transfer Agent" || text == "System Attendant";
}

}  // namespace

std::vector<std::string> ReportRowEntries(const std::string& value, bool builtInForm) {
  std::string list = value;
  if (builtInForm) {
    const auto pieces = Split(value, ';');
    if (pieces.size() < 2) return {};
    list = pieces[1];
  }
  if (Trim(list).empty()) return {};
  return Split(list, ',');
}

CustomReportStatement BuildCustomReportStatement(const ReportContext& c, const std::vector<ReportDefinitionRow>& rows,
                                                 bool builtInForm,
                                                 const std::function<std::string(const std::string&)>& tableOf) {
  CustomReportStatement out;
  out.captions.push_back("Display Name");
  if (c.strType.empty() || !c.node.valid) return out;

  std::string select = "select distinct T0.[Display Name]";
  std::vector<std::string> tables;
  for (const auto& row : rows) {
    const auto entries = ReportRowEntries(row.value, builtInForm);
    if (entries.empty()) continue;
    const std::string table = tableOf(row.tabName);
    if (!Usable(table)) continue;
    const std::string alias = "T" + std::to_string(tables.size());
    for (const auto& entry : entries) {
      if (entry == "Display Name") continue;
      const std::string caption = Trim(entry);
      if (!Usable(caption)) continue;
      out.captions.push_back(caption);
      select += "," + alias + ".[" + caption + "]";
    }
    tables.push_back(table);
  }

  const std::string S = SqlQuote(c.server);
  const std::string W = c.tabVisible ? (c.tabCaption == "Summary" ? c.node.text : c.tabCaption) : c.node.text;
  const std::string like = SqlQuote(W + "%");
  std::string level;
  if (c.node.index != 1 && c.node.text == "Protocols")
    level = c.node.parentText != "Configuration" ? "Server" : "Site";
  auto levelTerm = [&](const std::string& alias) {
    return level.empty() ? std::string() : alias + ".Level='" + level + "' and ";
  };
  const bool serverObject = IsServerObjectNode(c.node.text);
  const bool recipientWord = Contains(c.strType, "Mailboxes") || Contains(c.strType, "Distribution Lists") ||
                             Contains(c.strType, "Public Folders") || Contains(c.strType, "Custom Recipients");

  // Where the object path names the object, it alone restricts T0: the
  // directory name of a container can differ from its node text. The
  // further tables then follow T0 through their join alone.
  const bool recipientsImage = c.nodeImage == "Recipients" && c.node.text != "Server Recipients";
  const bool pathTerm = c.tabVisible ? (c.tabCaption == "Summary" || recipientsImage)
                                     : c.node.text != "Server Recipients";
  const std::string pathCondition = " and T0.[Object Path]=" + SqlQuote(c.node.key);

  std::string sql = select;
  if (tables.empty()) {
    std::string table;
    const std::string& t = c.strType;
    if (t == "Mailboxes")
      table = "MailboxGeneral";
    else if (t == "Distribution Lists")
      table = "DLGeneral";
    else if (t == "Public Folders")
      table = "PFGeneral";
    else if (t == "Custom Recipients")
      table = "CRGeneral";
    else if (t == "HTTP" || t == "IMAP4" || t == "LDAP" || t == "NNTP" || t == "POP3")
      table = "ProtocolGeneral";
    else if (t != "Private Information Store" && t != "Public Information Store" && t != "Connections" &&
             (Contains(t, "Container1") || Contains(t, "Container2")))
      table = "ContainerInfo";
    if (table.empty()) return out;  // nothing to read
    tables.push_back(table);
    sql += " from " + table + " T0 where T0.ServerName = " + S;
    sql += pathTerm ? pathCondition : " and T0.[Directory Name] like " + like;
  } else {
    sql += " from " + tables[0] + " T0";
    for (size_t k = 1; k < tables.size(); ++k) {
      const std::string a = "T" + std::to_string(k);
      // Each further table pairs its rows with the same object's rows of
      // the first; an object without rows there keeps its own.
      sql += " left join " + tables[k] + " " + a + " on " + a + ".[Object Path]=T0.[Object Path] and " + a +
             ".[Directory Name]=T0.[Directory Name] and " + a + ".ServerName = " + S;
      if (pathTerm)
        continue;
      if (c.protocolsNode)
        sql += " and " + levelTerm(a) + a + ".[Directory Name] like " + like;
      else if (!recipientWord && !serverObject)
        sql += " and " + a + ".[Directory Name] like " + like;
    }
    if (pathTerm)
      sql += " where T0.ServerName=" + S + pathCondition;
    else if (c.protocolsNode)
      sql += " where T0.ServerName=" + S + " and " + levelTerm("T0") + "T0.[Directory Name] like " + like;
    else if (!recipientWord)
      sql += " where T0.ServerName=" + S + " and T0.[Directory Name] like " + like;
    else
      sql += " where T0.ServerName=" + S;
  }

  out.sql = sql;
  out.tables = std::move(tables);
  return out;
}

std::vector<RecipientBlock> BuildRecipientBlocks(const std::vector<ReportDefinitionRow>& rows, bool builtInForm,
                                                 const std::function<std::string(const std::string&)>& tableOf) {
  std::vector<RecipientBlock> blocks;
  for (const auto& row : rows) {
    if (Contains(row.tabName, "Summary")) continue;
    const auto entries = ReportRowEntries(row.value, builtInForm);
    if (entries.empty()) continue;
    RecipientBlock block;
    block.table = tableOf(row.tabName);
    if (!Usable(block.table)) continue;
    block.columns.push_back("Display Name");
    for (const auto& entry : entries) {
      if (entry == "Display Name") continue;
      const std::string caption = Trim(entry);
      if (Usable(caption)) block.columns.push_back(caption);
    }
    blocks.push_back(std::move(block));
  }
  return blocks;
}

std::string RecipientCondition(const ReportContext& c) {
  if (c.node.text == "Server Recipients") return " and [Home Server]=" + SqlQuote(c.server);
  return " and [Object Path]=" + SqlQuote(c.node.key);
}

std::string RecipientTabName(const ReportContext& c) {
  if (c.node.text == "Server Recipients") return "MailboxesGeneral";
  return c.tabCaption + "General";
}
