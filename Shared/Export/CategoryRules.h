#pragma once
// How a report category (a TabName such as "MailboxesPhone/Notes" or
// "ServerIMAP4Idle Time-out") becomes a query over the inventory database.
// Pure functions of their arguments, shared by Export Plus and the
// scheduled collector so both give identical results.
#include <string>
#include <string_view>

namespace velmo::exporting {

// The data table of a TabName ("MailboxOrgnPhoneNotes", "ProtocolGeneral",
// "DiagLogging"...); "" when no rule matches. Substring tests that ignore
// case, as the category vocabulary is spelt in several ways.
std::string CategoryTableName(std::string_view tabName);

// The select list of a column set (the CustomReportValue of a report row):
// for the report "Default" the value is ";" + captions joined by ",",
// otherwise the captions joined by "," with "Display Name" put first. Each
// name is quoted as an identifier; "" when the set names no column.
std::string CategoryColumnList(std::string_view columnSet, std::string_view reportName);

// "select distinct <list> from <table> where ServerName='<server>'", the
// table quoted and the server through the quoting helper.
std::string CategoryBaseStatement(std::string_view columnList, std::string_view table, std::string_view serverName);

// The terms that restrict a protocol or connector table to the category's
// rows (" and Level='Site'" or " and Level='Server'", then the directory
// name prefix); "" for other tables and tabs.
std::string CategoryRestriction(std::string_view table, std::string_view tabName);

// For a diagnostics-logging category: the directory-name prefix, the
// TabName with "Diagnostics Logging" removed, "Server" replaced by the
// server name and the object captions by their directory names ("Message
// Transfer Agent" by "Microsoft MTA", the information stores by "Microsoft
// Private MDB" and "Microsoft Public MDB"), case-sensitive, in that order.
std::string DiagnosticsPrefix(std::string_view tabName, std::string_view serverName);
// " and [Directory Name] like '<prefix>%' escape '\'", the prefix's own
// "%", "_" and "\" matched literally.
std::string DiagnosticsTerm(std::string_view prefix);

// True when the table name starts with the word, ignoring case.
bool TableStartsWith(std::string_view table, std::string_view word);

}  // namespace velmo::exporting
