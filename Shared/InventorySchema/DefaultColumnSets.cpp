// The built-in column sets of the report "Default".
#include "DefaultColumnSets.h"

#include <optional>

#include "Database.h"
#include "DateText.h"
#include "ErrorLog.h"

namespace {

// Column sets several TabNames share.
const char* const kPermissions =
    ";Display Name,Windows NT Accounts With Permissions,Roles";
const char* const kDLMembership =
    ";Display Name,Distribution List Membership";
const char* const kEmailAddresses =
    ";Display Name,Email Address Type,Email Address";
const char* const kDeliveryRestrictions =
    ";Display Name,Accept Messages From,Reject Messages From";
const char* const kDiagnosticsLogging =
    ";Display Name,Services,Category,Logging level";
const char* const kAuthentication =
    ";Display Name,Directory Name,Authentication Method,Enabled";
const char* const kAnonymous =
    ";Display Name,Directory Name,Allow Anonymous Access,Anonymous account";
const char* const kMessageFormat =
    ";Display Name,Directory Name,MIME Encoding,Character set,"
    "Use Microsoft Exchange rich-text format";
const char* const kIdleTimeout =
    ";Display Name,Directory Name,Idle Time-out (minutes)";
const char* const kCustomAttributes =
    ";Display Name,Custom Attribute 1 (1),Custom Attribute 2 (2),Custom Attribute 3 (3),"
    "Custom Attribute 4 (4),Custom Attribute 5 (5),Custom Attribute 6 (6),"
    "Custom Attribute 7 (7),Custom Attribute 8 (8),Custom Attribute 9 (9),"
    "Custom Attribute 10 (10)";

// In insertion order. Captions name columns of the table each TabName maps
// to; a few differ from the column name in case only.
const std::vector<DefaultColumnSet> kDefaults = {
    {"MailboxesSummary",
     ";Display Name,Alias Name,Primary Windows NT Account Name,Created"},
    {"MailboxesGeneral",
     ";Display Name,Alias Name,Primary Windows NT Account Name,First Name,Initials,Last Name,"
     "Address,City,State,Zip Code,Country,Title,Company,Department,Office,Assistant,Phone,"
     "Created"},
    {"MailboxesOrganization",
     ";Display Name,Manager,Direct Reports"},
    {"MailboxesPhone/Notes",
     ";Display Name,Alias Name,Business,Business 2,Fax,Assistant,Home,Home 2,Mobile,Pager,"
     "Notes"},
    {"MailboxesPermissions", kPermissions},
    {"MailboxesDistribution Lists", kDLMembership},
    {"MailboxesE-Mail Addresses", kEmailAddresses},
    {"MailboxesDelivery Restrictions", kDeliveryRestrictions},
    {"MailboxesDelivery Options",
     ";Display Name,Give Send on behalf of permission to,Alternate Recipient,"
     "Deliver to both recipients"},
    {"MailboxesProtocols",
     ";Display Name,Protocols,Recipient Enabled,Server Enabled,Settings"},
    {"MailboxesCustom Attributes", kCustomAttributes},
    {"MailboxesLimits",
     ";Display Name,Deleted Item Retention Time (days),"
     "Dont permanently destroy items until backup,Issue Warning (K),Prohibit Send (K),"
     "Prohibit Send And Receive (K),Incoming Message Size (K),Outgoing Message Size (K)"},
    {"MailboxesAdvanced",
     ";Display Name,Simple Display Name,Directory Name,Trust Level,ILS Server,ILS Account,"
     "Home Server,Hide From Address Book,Outlook Web Access Server Name,"
     "Downgrade High Priority X400 Mail,Container Name,Administrative Note"},
    {"Distribution ListsGeneral",
     ";Display Name,Alias Name,Owner,Expansion server,Notes,Members,Created"},
    {"Distribution ListsPermissions", kPermissions},
    {"Distribution ListsDistribution Lists", kDLMembership},
    {"Distribution ListsE-Mail Addresses", kEmailAddresses},
    {"Distribution ListsDelivery Restrictions", kDeliveryRestrictions},
    {"Distribution ListsCustom Attributes", kCustomAttributes},
    {"Distribution ListsAdvanced",
     ";Display Name,Simple display name,Directory name,Trust Level,Message size,"
     "Container name,Distribution list options,Distribution list options enabled,"
     "Administrative Note"},
    {"Public FoldersGeneral",
     ";Display Name,Folder Name,Alias Name,Limit administrative access to home site,"
     "Client Permissions,Propagate these properties to all subfolders,Notes,Folder Path,"
     "Created"},
    {"Public FoldersPermissions", kPermissions},
    {"Public FoldersDistribution Lists", kDLMembership},
    {"Public FoldersE-Mail Addresses", kEmailAddresses},
    {"Public FoldersLimits",
     ";Display Name,Deleted Item Retention Time (days),Issue Warning (K),"
     "Age Limit for Replicas (days)"},
    {"Public FoldersCustom Attributes", kCustomAttributes},
    {"Public FoldersAdvanced",
     ";Display Name,Simple Display Name,Directory Name,Trust Level,Replication Msg Importance,"
     "Home Server,Hide From Address Book,Container name,Administrative Note"},
    {"Custom RecipientsSummary",
     ";Display Name,Alias Name,E-mail,Created"},
    {"Custom RecipientsGeneral",
     ";Display Name,Alias Name,E-mail,First Name,Initials,Last Name,Address,City,State,"
     "Zip Code,Country,Title,Company,Department,Office,Assistant,Phone,Created"},
    {"Custom RecipientsPermissions", kPermissions},
    {"Custom RecipientsOrganization",
     ";Display Name,Manager,Direct Reports"},
    {"Custom RecipientsPhone/Notes",
     ";Display Name,Alias Name,Business,Business 2,Fax,Assistant,Home,Home 2,Mobile,Pager,"
     "Notes"},
    {"Custom RecipientsDistribution Lists", kDLMembership},
    {"Custom RecipientsE-Mail Addresses", kEmailAddresses},
    {"Custom RecipientsDelivery Restrictions", kDeliveryRestrictions},
    {"Custom RecipientsProtocols",
     ";Display Name,Protocols,Recipient Enabled,Server Enabled,Settings"},
    {"Custom RecipientsCustom Attributes", kCustomAttributes},
    {"Custom RecipientsAdvanced",
     ";Display Name,Simple Display Name,Directory Name,Trust Level,ILS Server,ILS Account,"
     "Container Name,Allow rich text in messages,Hide From Address Book,Message size,"
     "Primary Windows NT Account,Administrative Note"},
    {"HTTPGeneral",
     ";Display Name,Directory Name,Enable protocol,"
     "Allow anonymous users to access the anonymous public folders,"
     "Allow anonymous users to browse the global address list,Administrative note"},
    {"HTTPPermissions", kPermissions},
    {"HTTPFolder Shortcuts",
     ";Display Name,Directory Name,Public folder shortcuts"},
    {"HTTPAdvanced",
     ";Display Name,Directory Name,Number of address book entries"},
    {"IMAP4General",
     ";Display Name,Directory Name,Enable protocol,"
     "Include all public folders when a folder list is requested,"
     "Enable fast message retrieval,Administrative note"},
    {"IMAP4Permissions", kPermissions},
    {"IMAP4Authentication", kAuthentication},
    {"IMAP4Anonymous", kAnonymous},
    {"IMAP4Message Format", kMessageFormat},
    {"IMAP4Idle Time-out", kIdleTimeout},
    {"LDAPGeneral",
     ";Display Name,Directory Name,Port Number,Enable protocol,Administrative note"},
    {"LDAPPermissions", kPermissions},
    {"LDAPAuthentication", kAuthentication},
    {"LDAPAnonymous",
     ";Display Name,Directory Name,Allow Anonymous Access"},
    {"LDAPSearch",
     ";Display Name,Directory Name,Substring searches,"
     "Maximum number of search results returned"},
    {"LDAPReferrals",
     ";Display Name,Directory Name,Referrals"},
    {"LDAPIdle Time-out", kIdleTimeout},
    {"NNTPGeneral",
     ";Display Name,Directory Name,Enable protocol,Enable client access,Administrative note"},
    {"NNTPPermissions", kPermissions},
    {"NNTPNewsfeeds",
     ";Display Name,Directory Name,Newsfeeds"},
    {"NNTPAuthentication", kAuthentication},
    {"NNTPMessage Format",
     ";Display Name,Directory Name,MIME Encoding,Clients support S/MIME signatures"},
    {"NNTPIdle Time-out", kIdleTimeout},
    {"NNTPAnonymous", kAnonymous},
    {"POP3General",
     ";Display Name,Directory Name,Enable protocol,Administrative note"},
    {"POP3Permissions", kPermissions},
    {"POP3Authentication", kAuthentication},
    {"POP3Message Format", kMessageFormat},
    {"POP3Idle Time-out", kIdleTimeout},
    {"Container1General",
     ";Display Name,Directory Name,Created"},
    {"Container1Permissions", kPermissions},
    {"Container2General",
     ";Display Name,Directory Name,Administrative Note,Created"},
    {"Container2Permissions", kPermissions},
    {"ProtocolsGeneral",
     ";Display Name,Directory Name,Outlook Web Access Server Name,Administrative Note,Created"},
    {"ProtocolsPermissions", kPermissions},
    {"ServerGeneral",
     ";Display Name,Directory Name,Version,Server Location,Administrative Note,Created"},
    {"ServerPermissions", kPermissions},
    {"ServerDiagnostics Logging", kDiagnosticsLogging},
    {"ServerProtocolsGeneral",
     ";Display Name,Directory Name,Use site defaults for all properties,"
     "Outlook Web Access Server Name,Administrative Note,Created"},
    {"ServerProtocolsPermissions", kPermissions},
    {"Private Information StoreGeneral",
     ";Display Name,Deleted Item Retention Time (days),"
     "Dont permanently destroy items until backup,Issue Warning (K),Prohibit Send (K),"
     "Prohibit Send And Receive (K),Public Folder Server"},
    {"Private Information StorePermissions", kPermissions},
    {"Private Information StoreMailbox Resources",
     ";Display Name,Mailbox,Windows NT Account,Total K,Total no of Items,Last Logon Time,"
     "Last Logoff Time,Deleted Items K,Full Mailbox Directory Name,"
     "Total no of Associated Messages"},
    {"Private Information StoreDiagnostics Logging", kDiagnosticsLogging},
    {"Public Information StoreGeneral",
     ";Display Name,Deleted Item Retention Time (days),"
     "Dont permanently destroy items until backup,Issue Warning (K),Created"},
    {"Public Information StoreInstances",
     ";Display Name,Folders On This Information Store"},
    {"Public Information StorePermissions", kPermissions},
    {"Public Information StoreAge Limits",
     ";Display Name,Age Limit For All Folders On This Information Store"},
    {"Public Information StoreE-Mail Addresses", kEmailAddresses},
    {"Public Information StoreAdvanced",
     ";Display Name,Replicate Always Interval,Replication Message Size Limit"},
    {"Public Information StoreDiagnostics Logging", kDiagnosticsLogging},
    {"Public Information StorePublic Folder Resources",
     ";Display Name,Total K,Total no Items,Created,Last Access Time,No of Owners,"
     "No of Contacts,Folder,Folder Path,Total no Associated Messages,Deleted Items K"},
    {"ServerIMAP4General",
     ";Display Name,Directory Name,Use site defaults for all properties,Enable protocol,"
     "Include all public folders when a folder list is requested,"
     "Enable fast message retrieval,Administrative note"},
    {"ServerIMAP4Permissions", kPermissions},
    {"ServerIMAP4Authentication", kAuthentication},
    {"ServerIMAP4Anonymous", kAnonymous},
    {"ServerIMAP4Message Format", kMessageFormat},
    {"ServerIMAP4Idle Time-out", kIdleTimeout},
    {"ServerLDAPGeneral",
     ";Display Name,Directory Name,Use site defaults for all properties,Port Number,"
     "Enable protocol,Administrative note"},
    {"ServerLDAPPermissions", kPermissions},
    {"ServerLDAPAuthentication", kAuthentication},
    {"ServerLDAPAnonymous",
     ";Display Name,Directory Name,Allow Anonymous Access"},
    {"ServerLDAPSearch",
     ";Display Name,Directory Name,Substring searches,"
     "Maximum number of search results returned"},
    {"ServerLDAPReferrals",
     ";Display Name,Directory Name,Referrals"},
    {"ServerLDAPIdle Time-out", kIdleTimeout},
    {"ServerNNTPGeneral",
     ";Display Name,Directory Name,Use site defaults for all properties,Enable protocol,"
     "Enable client access,Administrative note"},
    {"ServerNNTPPermissions", kPermissions},
    {"ServerNNTPNewsfeeds",
     ";Display Name,Directory Name,Newsfeeds"},
    {"ServerNNTPAuthentication", kAuthentication},
    {"ServerNNTPMessage Format",
     ";Display Name,Directory Name,MIME Encoding,Clients support S/MIME signatures"},
    {"ServerNNTPIdle Time-out", kIdleTimeout},
    {"ServerNNTPAnonymous", kAnonymous},
    {"ServerPOP3General",
     ";Display Name,Directory Name,Use site defaults for all properties,Enable protocol,"
     "Administrative note"},
    {"ServerPOP3Permissions", kPermissions},
    {"ServerPOP3Authentication", kAuthentication},
    {"ServerPOP3Message Format", kMessageFormat},
    {"ServerPOP3Idle Time-out", kIdleTimeout},
    {"Message Transfer AgentGeneral",
     ";Display Name,Local MTA Name,Message Size,Expand Remote Distribution Lists Locally,"
     "Convert Incoming Messages To MS Exchange Contents,Only Use Least Cost Routes,"
     "Administrative Note,Created"},
    {"Message Transfer AgentPermissions", kPermissions},
    {"Message Transfer AgentDiagnostics Logging", kDiagnosticsLogging},
    {"System AttendantGeneral",
     ";Display Name,Alias Name,Message tracking log files maintenance,Administrative Note,"
     "Created"},
    {"System AttendantPermissions", kPermissions},
    {"System AttendantE-Mail Addresses", kEmailAddresses},
    {"Internet Mail ConnectorGeneral",
     ";Display Name,Computer Name,Message Size,Administrative Note,Created"},
    {"Internet Mail ConnectorPermissions", kPermissions},
    {"Internet Mail ConnectorConnected Sites",
     ";Display Name,Organization,Site,Routing Address,Cost"},
    {"Internet Mail ConnectorAddress Space",
     ";Display Name,Type,Address,Cost,Scope"},
    {"Internet Mail ConnectorDelivery Restrictions", kDeliveryRestrictions},
    {"Internet Mail ConnectorDiagnostics Logging", kDiagnosticsLogging},
    {"MS Mail ConnectorGeneral",
     ";Display Name,Computer Name,Message Size,Administrative Note,Created"},
    {"MS Mail ConnectorAddress Space",
     ";Display Name,Type,Address,Cost,Scope"},
    {"MS Mail ConnectorInterchange",
     ";Display Name,Primary Language For Clients,Maximize MS Mail 3x Compatibility,"
     "Enable Message Tracking"},
    {"MS Mail ConnectorDiagnostics Logging", kDiagnosticsLogging},
    {"Site ConnectorGeneral",
     ";Display Name,Directory Name,Target Site,Cost,Messaging Bridgehead in the Local Site,"
     "Administrative Note,Created"},
    {"Site ConnectorPermissions",
     ";Display Name,Directory Name,Windows NT Accounts With Permissions,Roles"},
    {"Site ConnectorTarget Servers",
     ";Display Name,Directory Name,Site Servers,Target Servers,Target Server Cost"},
    {"Site ConnectorAddress Space",
     ";Display Name,Directory Name,Type,Address,Cost2,Scope"},
    {"Site ConnectorOverride",
     ";Display Name,Directory Name,Windows NT Username,Windows NT Domain Name"},
    {"NewsfeedGeneral",
     ";Display Name,Directory Name,Newsfeed type,Enable Newsfeed,Administrator mailbox,"
     "Administrative Note,Created"},
    {"NewsfeedMessages",
     ";Display Name,Directory Name,Outgoing message size (K),Incoming message size (K)"},
    {"NewsfeedHosts",
     ";Display Name,Directory Name,Remote USENET site name,Remote USENET host name,"
     "Additional inbound hosts"},
    {"NewsfeedConnection",
     ";Display Name,Directory Name,Connection Type,Connection,Account"},
    {"NewsfeedSecurity",
     ";Display Name,Directory Name,Require secure connection (SSL),"
     "Outbound connections Remote Login,Inbound connections Remote Login"},
};

}  // namespace

const std::vector<DefaultColumnSet>& DefaultColumnSets() { return kDefaults; }

void WriteCustomFieldNamesToDB(velmo::db::Connection* conn) {
  if (!conn || conn->State() == velmo::db::adStateClosed) {
    WriteErrorLog(velmo::NowText(), "WriteCustomFieldNamesToDB ConnectionObject not opened", "0", "");
    return;
  }
  // One transaction for the 141 rows; a failing row does not stop the rest.
  std::optional<velmo::db::Transaction> transaction;
  try {
    transaction.emplace(*conn);
  } catch (const std::exception&) {
  }
  for (const auto& row : kDefaults) {
    try {
      conn->Execute("insert into VELMORCCustomReports values(?,'Default',?)",
                    {velmo::db::Value(row.tabName), velmo::db::Value(row.value)});
    } catch (const std::exception&) {
    }
  }
  if (transaction) {
    try {
      transaction->Commit();
    } catch (const velmo::ComError& e) {
      // Rolled back when the transaction goes, after the failure is logged.
      LogFailure("WriteCustomFieldNamesToDB CommitTrans Failed", e);
    }
  }
}
