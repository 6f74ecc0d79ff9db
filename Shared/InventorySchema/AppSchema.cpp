// The inventory database's tables and their creation.
#include "AppSchema.h"

#include <cctype>

#include "Database.h"
#include "DateText.h"
#include "ErrorLog.h"
#include "TextParts.h"

namespace {

// Column order is binding: the collector writes data rows by position. In
// the data tables every Object Path is typed "Memo" and some columns
// "Char"; the engine takes type words in any case.
const std::vector<AppTable> kTables = {
    {"VELMORCFavourites",
     {{"ServerName", "text(255)"}, {"IsDefaultSrv", "char(3)"}, {"IsFavouriteSrv", "char(3)"}}},
    {"VELMORCCustomReports",
     {{"TabName", "text(255)"}, {"CustomReportName", "char(255)"}, {"CustomReportValue", "char(255)"}}},
    {"VELMORCFilterCustomize",
     {{"ServerName", "char(255)"}, {"TabName", "text(50)"}, {"QueryType", "char(1)"},
      {"FilterValue", "memo"}, {"CustomizeValue", "memo"}}},
    {"MailboxGeneral",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(100)"}, {"Primary Windows NT Account Name", "char(100)"},
      {"First Name", "char(50)"}, {"Initials", "char(10)"}, {"Last Name", "char(50)"},
      {"Address", "char(255)"}, {"City", "char(50)"}, {"State", "char(50)"}, {"Zip Code", "char(40)"},
      {"Country", "char(50)"}, {"Title", "char(50)"}, {"Company", "char(50)"}, {"Department", "char(50)"},
      {"Office", "char(50)"}, {"Assistant", "char(50)"}, {"Phone", "char(40)"}, {"Created", "char(25)"},
      {"Home Server", "char(50)"}}},
    {"MailboxOrgnPhoneNotes",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(100)"}, {"Manager", "char(50)"}, {"DirectReportsDN", "char(255)"},
      {"DirectReportsRDN", "char(50)"}, {"Direct Reports", "char(50)"}, {"Business", "char(50)"},
      {"Business 2", "char(50)"}, {"Fax", "char(50)"}, {"Assistant", "char(50)"}, {"Home", "char(50)"},
      {"Home 2", "char(50)"}, {"Mobile", "char(40)"}, {"Pager", "char(50)"}, {"Notes", "char(255)"},
      {"Home Server", "char(50)"}}},
    {"MailboxCustomAttr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(100)"}, {"Custom Attribute 1 (1)", "char(50)"},
      {"Custom Attribute 2 (2)", "char(50)"}, {"Custom Attribute 3 (3)", "char(50)"},
      {"Custom Attribute 4 (4)", "char(50)"}, {"Custom Attribute 5 (5)", "char(50)"},
      {"Custom Attribute 6 (6)", "char(50)"}, {"Custom Attribute 7 (7)", "char(50)"},
      {"Custom Attribute 8 (8)", "char(50)"}, {"Custom Attribute 9 (9)", "char(50)"},
      {"Custom Attribute 10 (10)", "char(50)"}, {"Home Server", "char(50)"}}},
    {"MailboxDLEmailAddr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Distribution list membership", "char(255)"},
      {"DLDisplayNameDN", "char(255)"}, {"DLDisplayNameRDN", "char(100)"},
      {"Email Address Type", "char(10)"}, {"Email Address", "char(255)"}, {"Home Server", "char(50)"}}},
    {"MailboxPerm",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Windows NT Accounts With Permissions", "char(255)"},
      {"Roles", "char(255)"}, {"Home Server", "char(50)"}}},
    {"MailboxDelivRestr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Accept Messages From", "char(255)"},
      {"Reject Messages From", "char(255)"}, {"Give Send on behalf of permission to", "char(100)"},
      {"Alternate Recipient", "char(100)"}, {"AltRecipientDN", "char(255)"},
      {"AltRecipientRDN", "char(100)"}, {"Deliver to both recipients", "char(5)"},
      {"Home Server", "char(50)"}}},
    {"MailboxAdvanced",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Deleted Item Retention Time (days)", "char(30)"},
      {"Dont permanently destroy items until backup", "char(30)"}, {"Issue Warning (K)", "char(30)"},
      {"Prohibit Send (K)", "char(30)"}, {"Prohibit Send And Receive (K)", "char(30)"},
      {"Outgoing Message Size (K)", "char(10)"}, {"Incoming Message Size (K)", "char(10)"},
      {"Simple Display Name", "char(255)"}, {"Directory Name", "char(50)"}, {"Trust Level", "char(10)"},
      {"ILS Server", "char(50)"}, {"ILS Account", "char(50)"}, {"Home Server", "char(50)"},
      {"Hide From Address Book", "char(5)"}, {"Outlook Web Access Server Name", "char(100)"},
      {"Downgrade High Priority X400 Mail", "char(5)"}, {"Container Name", "char(50)"},
      {"Administrative Note", "char(100)"}}},
    {"MailboxProtocols",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Protocols", "char(5)"}, {"Recipient Enabled", "char(3)"},
      {"Server Enabled", "char(3)"}, {"Settings", "char(8)"}, {"Home Server", "char(50)"}}},
    {"DLGeneral",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"OwnerDN", "char(255)"}, {"OwnerRDN", "char(50)"},
      {"Owner", "char(50)"}, {"Expansion Server", "char(100)"}, {"Notes", "char(100)"},
      {"MembersDN", "char(255)"}, {"MembersRDN", "char(100)"}, {"Members", "char(100)"},
      {"Created", "char(25)"}}},
    {"DLDLEmailAddr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Distribution list membership", "char(100)"},
      {"DLDisplayNameDN", "char(255)"}, {"DLDisplayNameRDN", "char(100)"},
      {"Email Address Type", "char(10)"}, {"Email Address", "char(255)"}}},
    {"DLPerm",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Windows NT Accounts With Permissions", "char(255)"},
      {"Roles", "char(255)"}}},
    {"DLDelivRestr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Accept Messages From", "char(255)"},
      {"Reject Messages From", "char(255)"}}},
    {"DLCustomAttr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(100)"}, {"Custom Attribute 1 (1)", "char(50)"},
      {"Custom Attribute 2 (2)", "char(50)"}, {"Custom Attribute 3 (3)", "char(50)"},
      {"Custom Attribute 4 (4)", "char(50)"}, {"Custom Attribute 5 (5)", "char(50)"},
      {"Custom Attribute 6 (6)", "char(50)"}, {"Custom Attribute 7 (7)", "char(50)"},
      {"Custom Attribute 8 (8)", "char(50)"}, {"Custom Attribute 9 (9)", "char(50)"},
      {"Custom Attribute 10 (10)", "char(50)"}}},
    {"DLAdvanced",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Simple Display Name", "char(255)"}, {"Directory Name", "char(50)"},
      {"Trust Level", "char(10)"}, {"Message Size", "char(10)"}, {"Container Name", "char(50)"},
      {"Distribution list options", "char(100)"}, {"Distribution list options enabled", "char(3)"},
      {"Administrative Note", "char(255)"}}},
    {"PFGeneral",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Folder Name", "char(255)"},
      {"Display Name", "char(255)"}, {"Alias Name", "char(255)"},
      {"Limit administrative access to home site", "char(5)"}, {"Client Permissions", "char(255)"},
      {"Propagate these properties to all subfolders", "char(5)"}, {"Notes", "char(100)"},
      {"Folder Path", "char(255)"}, {"Created", "char(25)"}}},
    {"PFPerm",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Windows NT Accounts With Permissions", "char(255)"},
      {"Roles", "char(255)"}}},
    {"PFDLEmailAddr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Distribution list membership", "char(100)"},
      {"DLDisplayNameDN", "char(255)"}, {"DLDisplayNameRDN", "char(100)"},
      {"Email Address Type", "char(10)"}, {"Email Address", "char(255)"}}},
    {"PFCustomAttr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(100)"}, {"Custom Attribute 1 (1)", "char(50)"},
      {"Custom Attribute 2 (2)", "char(50)"}, {"Custom Attribute 3 (3)", "char(50)"},
      {"Custom Attribute 4 (4)", "char(50)"}, {"Custom Attribute 5 (5)", "char(50)"},
      {"Custom Attribute 6 (6)", "char(50)"}, {"Custom Attribute 7 (7)", "char(50)"},
      {"Custom Attribute 8 (8)", "char(50)"}, {"Custom Attribute 9 (9)", "char(50)"},
      {"Custom Attribute 10 (10)", "char(50)"}}},
    {"PFAdvanced",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Deleted Item Retention Time (days)", "char(30)"},
      {"Issue Warning (K)", "char(30)"}, {"Age Limit for Replicas (days)", "char(5)"},
      {"Simple Display Name", "char(100)"}, {"Directory Name", "char(255)"}, {"Trust Level", "char(10)"},
      {"Replication Msg Importance", "char(5)"}, {"Home Server", "char(255)"},
      {"Hide From Address Book", "char(5)"}, {"Container Name", "char(50)"},
      {"Administrative Note", "char(255)"}}},
    {"CRGeneral",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(100)"}, {"E-mail", "char(100)"}, {"First Name", "char(50)"},
      {"Initials", "char(10)"}, {"Last Name", "char(50)"}, {"Address", "char(255)"}, {"City", "char(50)"},
      {"State", "char(50)"}, {"Zip Code", "char(40)"}, {"Country", "char(50)"}, {"Title", "char(50)"},
      {"Company", "char(50)"}, {"Department", "char(50)"}, {"Office", "char(50)"},
      {"Assistant", "char(50)"}, {"Phone", "char(40)"}, {"Created", "char(25)"}}},
    {"CROrgnPhoneNotes",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(100)"}, {"Manager", "char(50)"}, {"DirectReportsDN", "char(255)"},
      {"DirectReportsRDN", "char(50)"}, {"Direct Reports", "char(50)"}, {"Business", "char(50)"},
      {"Business 2", "char(50)"}, {"Fax", "char(50)"}, {"Assistant", "char(50)"}, {"Home", "char(50)"},
      {"Home 2", "char(50)"}, {"Mobile", "char(40)"}, {"Pager", "char(50)"}, {"Notes", "char(255)"}}},
    {"CRDLEmailAddr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Distribution list membership", "char(100)"},
      {"DLDisplayNameDN", "char(255)"}, {"DLDisplayNameRDN", "char(100)"},
      {"Email Address Type", "char(10)"}, {"Email Address", "char(255)"}}},
    {"CRPerm",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Windows NT Accounts With Permissions", "char(255)"},
      {"Roles", "char(255)"}}},
    {"CRDelivRestr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Accept Messages From", "char(255)"},
      {"Reject Messages From", "char(255)"}}},
    {"CRCustomAttr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(100)"}, {"Custom Attribute 1 (1)", "char(50)"},
      {"Custom Attribute 2 (2)", "char(50)"}, {"Custom Attribute 3 (3)", "char(50)"},
      {"Custom Attribute 4 (4)", "char(50)"}, {"Custom Attribute 5 (5)", "char(50)"},
      {"Custom Attribute 6 (6)", "char(50)"}, {"Custom Attribute 7 (7)", "char(50)"},
      {"Custom Attribute 8 (8)", "char(50)"}, {"Custom Attribute 9 (9)", "char(50)"},
      {"Custom Attribute 10 (10)", "char(50)"}}},
    {"CRProtocols",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Protocols", "char(5)"}, {"Recipient Enabled", "char(3)"},
      {"Server Enabled", "char(3)"}, {"Settings", "char(8)"}}},
    {"CRAdvanced",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Alias Name", "char(255)"}, {"Simple Display Name", "char(255)"}, {"Directory Name", "char(100)"},
      {"Trust Level", "char(10)"}, {"ILS Server", "char(255)"}, {"ILS Account", "char(255)"},
      {"Container Name", "char(100)"}, {"Allow rich text in messages", "char(5)"},
      {"Hide From Address Book", "char(5)"}, {"Message size", "char(8)"},
      {"Primary Windows NT Account", "char(100)"}, {"Administrative Note", "char(100)"}}},
    {"ProtocolGeneral",
     {{"ServerName", "char(255)"}, {"Level", "char(6)"}, {"Object Path", "Memo"},
      {"Display Name", "char(255)"}, {"Directory Name", "char(255)"},
      {"Use site defaults for all properties", "char(3)"}, {"Enable Protocol", "char(5)"},
      {"Administrative Note", "char(255)"},
      {"Allow anonymous users to access the anonymous public folders", "char(5)"},
      {"Allow anonymous users to browse the global address list", "char(5)"},
      {"Number of address book entries", "char(8)"},
      {"Include all public folders when a folder list is requested", "char(5)"},
      {"Enable fast message retrieval", "char(5)"}, {"Port Number", "char(10)"},
      {"Allow Anonymous Access", "char(5)"}, {"Anonymous Account", "char(255)"},
      {"Enable client access", "char(5)"}, {"Idle Time-out (minutes)", "char(30)"}}},
    {"ProtocolPerm",
     {{"ServerName", "char(255)"}, {"Level", "char(6)"}, {"Object Path", "Memo"},
      {"Display Name", "char(255)"}, {"Directory Name", "char(255)"},
      {"Windows NT Accounts With Permissions", "char(255)"}, {"Roles", "char(255)"}}},
    {"ProtocolAuthFormat",
     {{"ServerName", "char(255)"}, {"Level", "char(6)"}, {"Object Path", "Memo"},
      {"Display Name", "char(255)"}, {"Directory Name", "char(255)"},
      {"Use site defaults for all properties", "char(3)"}, {"Authentication Method", "char(255)"},
      {"Enabled", "char(3)"}, {"MIME Encoding", "char(255)"}, {"Character set", "char(100)"},
      {"Use Microsoft Exchange rich-text format", "char(5)"},
      {"Clients support S/MIME signatures", "char(5)"}}},
    {"ProtocolMiscInfo",
     {{"ServerName", "char(255)"}, {"Level", "char(6)"}, {"Object Path", "Memo"},
      {"Display Name", "char(255)"}, {"Directory Name", "char(255)"},
      {"Use site defaults for all properties", "char(3)"}, {"Public folder shortcuts", "char(255)"},
      {"Substring searches", "char(100)"}, {"Maximum number of search results returned", "char(10)"},
      {"Referrals", "char(255)"}, {"Newsfeeds", "char(255)"}, {"Control Messages", "char(255)"}}},
    {"ContainerInfo",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Level", "char(6)"},
      {"Display Name", "char(255)"}, {"Directory Name", "char(255)"}, {"Administrative Note", "char(255)"},
      {"Created", "char(30)"}, {"Use site defaults for all properties", "char(3)"},
      {"Outlook Web Access Server Name", "char(100)"}, {"Server Location", "char(100)"},
      {"Version", "char(100)"}}},
    {"ServerPrivateISGeneral",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Deleted Item Retention Time (days)", "char(10)"},
      {"Dont permanently destroy items until backup", "char(5)"}, {"Issue Warning (K)", "char(10)"},
      {"Prohibit Send (K)", "char(10)"}, {"Prohibit Send And Receive (K)", "char(10)"},
      {"Public Folder Server", "char(255)"}, {"Created", "char(25)"}}},
    {"ServerPrivateISPerm",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Windows NT Accounts With Permissions", "char(255)"},
      {"Roles", "char(255)"}}},
    {"ServerPrivateISResources",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Mailbox", "char(255)"}, {"Windows NT Account", "char(255)"},
      {"Total K", "char(10)"}, {"Total no of Items", "char(10)"}, {"Last Logon Time", "char(30)"},
      {"Last Logoff Time", "char(30)"}, {"Deleted Items K", "char(10)"},
      {"Full Mailbox Directory Name", "char(255)"}, {"Storage Limits", "char(50)"},
      {"Total no of Associated Messages", "char(10)"}}},
    {"ServerPublicISGeneral",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Deleted Item Retention Time (days)", "char(10)"},
      {"Dont permanently destroy items until backup", "char(5)"}, {"Issue Warning (K)", "char(10)"},
      {"Created", "char(25)"}}},
    {"ServerPublicISPerm",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Windows NT Accounts With Permissions", "char(255)"},
      {"Roles", "char(255)"}}},
    {"ServerPublicISMiscInfo",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Folders On This Information Store", "char(255)"},
      {"Age Limit For All Folders On This Information Store", "char(255)"},
      {"Email Address Type", "char(10)"}, {"Email Address", "char(255)"},
      {"Replicate Always Interval", "char(20)"}, {"Replication Message Size Limit", "char(20)"}}},
    {"ServerPublicISResources",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Total K", "char(10)"}, {"Total no Items", "char(10)"},
      {"Created", "char(30)"}, {"Last Access Time", "char(30)"}, {"No of Owners", "char(10)"},
      {"No of Contacts", "char(10)"}, {"Folder", "char(255)"}, {"Folder Path", "char(255)"},
      {"Total no Associated Messages", "char(10)"}, {"Deleted Items K", "char(10)"}}},
    {"ServerObjectsInfo",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Alias Name", "char(255)"}, {"Local MTA Name", "Char(100)"},
      {"Message Size", "Char(10)"}, {"Expand Remote Distribution Lists Locally", "Char(5)"},
      {"Convert Incoming Messages To MS Exchange Contents", "Char(5)"},
      {"Only Use Least Cost Routes", "Char(5)"}, {"Administrative Note", "char(255)"},
      {"Created", "char(25)"}, {"Message tracking log files maintenance", "char(100)"},
      {"Email Address Type", "char(50)"}, {"Email Address", "char(255)"}}},
    {"ServerObjectsPerm",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Level", "char(7)"},
      {"Display Name", "char(255)"}, {"Directory Name", "char(255)"},
      {"Windows NT Accounts With Permissions", "char(255)"}, {"Roles", "char(255)"}}},
    {"ConnectorGeneral",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Computer Name", "Char(255)"}, {"Message Size", "Char(10)"},
      {"Target Site", "Char(255)"}, {"Cost", "Char(10)"},
      {"Messaging Bridgehead in the Local Site", "Char(50)"}, {"Administrators Mailbox", "Char(255)"},
      {"Primary Language For Clients", "Char(30)"}, {"Maximize MS Mail 3x Compatibility", "Char(3)"},
      {"Enable Message Tracking", "Char(3)"}, {"Administrative Note", "char(255)"},
      {"Created", "char(25)"}}},
    {"ConnectorPerm",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Windows NT Accounts With Permissions", "char(255)"},
      {"Roles", "char(255)"}}},
    {"ConnectorDelivRestr",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Accept Messages From", "char(255)"},
      {"Reject Messages From", "char(255)"}}},
    {"ConnectorMiscInfo",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Organization", "Char(255)"}, {"Site", "Char(10)"},
      {"Routing Address", "Char(100)"}, {"Cost", "Char(10)"}, {"Type", "Char(10)"},
      {"Address", "Char(100)"}, {"Cost2", "char(10)"}, {"Scope", "char(20)"},
      {"Site Servers", "char(255)"}, {"Target Servers", "char(255)"}, {"Target Server Cost", "char(5)"},
      {"Windows NT Username", "char(25)"}, {"Windows NT Domain Name", "char(25)"}}},
    {"ConnectorNewsfeed",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Newsfeed type", "char(20)"}, {"Enable Newsfeed", "char(5)"},
      {"Administrator mailbox", "char(255)"}, {"Administrative Note", "char(255)"},
      {"Created", "char(25)"}, {"Outgoing message size (K)", "Char(10)"},
      {"Incoming message size (K)", "Char(10)"}, {"Remote USENET site name", "Char(255)"},
      {"Remote USENET host name", "Char(50)"}, {"Additional inbound hosts", "Char(20)"},
      {"Connection Type", "Char(50)"}, {"Connection", "char(50)"}, {"Account", "char(50)"},
      {"Require secure connection (SSL)", "char(20)"}, {"Outbound connections Remote Login", "char(50)"},
      {"Inbound connections Remote Login", "char(50)"}}},
    {"DiagLogging",
     {{"ServerName", "char(255)"}, {"Object Path", "Memo"}, {"Display Name", "char(255)"},
      {"Directory Name", "char(255)"}, {"Services", "char(255)"}, {"Category", "char(255)"},
      {"Logging level", "char(255)"}}}};

// The statements that create the application tables.
const char* const kAppStatements[] = {
    "create table VELMORCFavourites(ServerName text(255),IsDefaultSrv char(3),IsFavouriteSrv char(3))",
    "create table VELMORCCustomReports(TabName text(255), CustomReportName char(255), CustomReportValue char(255))",
    "create table VELMORCFilterCustomize(ServerName char(255), TabName text(50), QueryType char(1), FilterValue "
    "memo, CustomizeValue memo)",
};

// Plain identifiers are written bare; names with blanks or punctuation, and
// Level and Roles, in brackets.
std::string ColumnDefinition(const AppColumn& col) {
  bool plain = !col.name.empty() && !std::isdigit(static_cast<unsigned char>(col.name[0]));
  for (char ch : col.name)
    if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_') plain = false;
  if (col.name == "Level" || col.name == "Roles") plain = false;
  return (plain ? col.name : "[" + col.name + "]") + " " + col.type;
}

std::vector<std::string> BuildStatements() {
  std::vector<std::string> list(std::begin(kAppStatements), std::end(kAppStatements));
  for (size_t t = list.size(); t < kTables.size(); ++t) {
    std::string sql = "create table " + kTables[t].name + "(";
    for (size_t c = 0; c < kTables[t].columns.size(); ++c) {
      if (c) sql += ",";
      sql += ColumnDefinition(kTables[t].columns[c]);
    }
    list.push_back(sql + ")");
  }
  return list;
}

}  // namespace

const std::vector<AppTable>& AppTables() { return kTables; }

const AppTable* FindAppTable(const std::string& name) {
  for (const auto& t : kTables)
    if (velmo::text::EqualNoCase(t.name, name)) return &t;
  return nullptr;
}

const std::vector<std::string>& AppTableStatements() {
  static const std::vector<std::string> statements = BuildStatements();
  return statements;
}

void CreateAppTables(velmo::db::Connection* conn) {
  if (!conn || conn->State() == velmo::db::adStateClosed) {
    WriteErrorLog(velmo::NowText(), "CreateAppTables ConnectionObject not opened", "0", "");
    return;
  }
  for (const auto& sql : AppTableStatements()) {
    try {
      conn->Execute(sql);
    } catch (const std::exception&) {
      // Above all "Table '...' already exists.": the table stays as it is.
    }
  }
  CreateReportIndexes(conn);
}

void CreateReportIndexes(velmo::db::Connection* conn) {
  if (!conn || conn->State() == velmo::db::adStateClosed) return;
  auto has = [](const AppTable& table, const char* name) {
    for (const auto& c : table.columns)
      if (c.name == name) return true;
    return false;
  };
  const struct {
    const char* column;
    const char* suffix;
  } keys[] = {{"Alias Name", "Alias"}, {"Object Path", "Path"}};
  for (const auto& table : kTables) {
    if (table.name.rfind("VELMORC", 0) == 0 || !has(table, "ServerName")) continue;
    for (const auto& key : keys) {
      if (!has(table, key.column)) continue;
      // A recipient table is read by alias; a path index there would
      // draw the planner away from it (a container's every row shares
      // one path).
      if (key.suffix == std::string("Path") && has(table, "Alias Name")) continue;
      const std::string name = "IX_" + table.name + "_" + key.suffix;
      try {
        // The key column leads: a read by server alone never takes the
        // index, so it keeps returning rows in stored order. No collation
        // named: the index compares as its columns do.
        conn->Execute("create index if not exists [" + name + "] on [" + table.name + "] ([" + key.column +
                      "], ServerName)");
      } catch (const std::exception& e) {
        WriteErrorLog(velmo::NowText(), "CreateReportIndexes " + name + " Failed", "0", e.what());
      }
    }
  }
}
