#pragma once
// The statements of the custom report window, built from a report's
// definition rows (VELMORCCustomReports) and the selected node: one
// multi-table statement per node and tab, and the keyed single-table
// statements of the recipient-by-recipient report. Values are quoted with
// SqlQuote; nothing here touches the database.
#include <functional>
#include <string>
#include <vector>

#include "ExchWindow.h"

struct ReportDefinitionRow {
  std::string tabName;
  std::string value;  // CustomReportValue
};

// What a report run knows of the window.
struct ReportContext {
  std::string strType;         // the type word
  std::string server;          // strCRServerName
  bool protocolsNode = false;  // blnProtocolsNode
  TreeNodeInfo node;           // the selected node
  std::string nodeImage;       // its picture key
  bool tabVisible = false;     // tabType
  std::string tabCaption;      // its selected tab's caption
};

// The column captions of a definition value: the built-in report's rows
// (";" + captions) and rows read as their fallback are split after the
// ";", a user report's own rows whole.
std::vector<std::string> ReportRowEntries(const std::string& value, bool builtInForm);

struct CustomReportStatement {
  std::string sql;                    // "" when nothing is to run
  std::vector<std::string> captions;  // "Display Name" first
  std::vector<std::string> tables;    // the data tables it reads
};

// The multi-table statement of a node: "Display Name" and each row's
// columns, the first row's table as T0 and each further row's table
// left-joined to it on [Object Path] and [Directory Name]. tableOf gives
// the data table of a TabName.
CustomReportStatement BuildCustomReportStatement(const ReportContext& context,
                                                 const std::vector<ReportDefinitionRow>& rows, bool builtInForm,
                                                 const std::function<std::string(const std::string&)>& tableOf);

// One column block of the recipient-by-recipient report: a definition
// row's table and select list.
struct RecipientBlock {
  std::string table;
  std::vector<std::string> columns;  // "Display Name" first
};
std::vector<RecipientBlock> BuildRecipientBlocks(const std::vector<ReportDefinitionRow>& rows, bool builtInForm,
                                                 const std::function<std::string(const std::string&)>& tableOf);

// How the recipients of the selected node are found and restricted: the
// extra condition of every statement (" and [Object Path]='...'" for a
// container, " and [Home Server]='...'" for a server's recipients).
std::string RecipientCondition(const ReportContext& context);

// The recipients table's TabName: "MailboxesGeneral" for a server's
// recipients, else the selected tab's caption + "General".
std::string RecipientTabName(const ReportContext& context);
