#pragma once
// Connecting to an Exchange server: the connect step that proves a server
// answers over LDAP, finds its organisation and site, records favourite and
// default flags and fills the window that asked for the connection; the
// step that shows that window; and the bind-error hints and messages.
//
// A pending connect is described by three fields of the main window
// (gMdifrm): iFavoriteORDefaultServer (the connect kind: 0 default server
// at start-up, 1 favourite, 2 typed, 3 typed + favourite, 4 typed +
// default, 5 both, 6 chosen in Export Plus), strFavoriteORDefaultServer
// (the server) and iFromCustomReport (the target: 0 a new browse window,
// 1 a new custom report, 2 another server for the open custom report,
// 3 Export Plus).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ExchWindow.h"
#include "modExch.h"

class QWidget;

// -------------------------------------------- the windows a connection fills

// The custom report window as the connect step fills it (targets 1 and 2).
class CustomReportConnectTarget : public CustomReportWindow {
 public:
  std::string strCROrganizationName;
  std::string strCRSiteName;
  std::string strCRUserName;
  std::string strCRPassword;

  // Texts of the nodes of its server tree tvwServers, in index order.
  virtual std::vector<std::string> ServerNodeTexts() = 0;
  // Removes every node of tvwServers.
  virtual void ClearServerNodes() = 0;
  // Shows the window modally; returns when it has closed.
  virtual void ShowModal() = 0;
};

// The program's single custom report window, made when it does not exist
// yet. Installed by the custom report window's module when the program
// starts; tests stand in for the window through it.
extern std::function<CustomReportConnectTarget*()> gCustomReportForConnect;

// The Export Plus window as the connect step (target 3) and the progress
// window's retrieve and output operations use it.
class ExportPlusWindow : public ExportPlusPrintSource {
 public:
  std::string strEPServerName;        // the server chosen in the window
  std::string strEPOrganizationName;  // written by the connect step
  std::string strEPSiteName;          // written by the connect step
  // 0 while an operation may run on; the progress window's Cancel sets 1,
  // and the window's operations stop at their next look at it.
  short iCancelClicked = 0;

  // The printer chosen for Print Plus (what strPrinterName() then returns).
  virtual void SetPrinterName(const std::string& name) = 0;
  virtual std::string cmdExportCaption() = 0;           // "&Export" or "&Print"
  virtual bool optFormatValue(int index) = 0;           // option buttons 0 to 2
  virtual std::string optFormatCaption(int index) = 0;
  virtual std::string txtPathText() = 0;
  virtual std::string cboPrinterNameText() = 0;
  virtual QWidget* tvwObjects() = 0;  // the progress window sits over it when printing

  // Collects what is missing for the ticked categories of the server.
  virtual void GetAllInfo(const std::string& strServerName, const std::string& strUserName,
                          const std::string& strPassword, const std::string& strOrganizationName,
                          const std::string& strSiteName) = 0;
  // Exports or prints one output per ticked category.
  virtual void DisplayInfo(const std::string& strServerName, const std::string& strOrganizationName,
                           const std::string& strSiteName, const std::string& strCustomReportName,
                           const std::string& strReportOption, const std::string& strReportFormat,
                           const std::string& strReportPath, const std::string& strReportTime) = 0;
};

// The Export Plus window while it exists (set and cleared by that window);
// nullptr otherwise.
extern ExportPlusWindow* gfrmExportPlus;

// ------------------------------------------------------------- connect step

// Connects to Server for the pending connect's target and records the
// favourite and default flags of kinds 3 to 5. User is "" for the current
// logon, else "dc=DOMAIN,cn=NAME". True when the target window has been
// filled (a new browse window is created, entered in its slot and given
// its tree, but not shown). Failures are logged and shown with their hint;
// the status line of the open progress window follows the steps.
bool ConnectToExchangeServer(short Mode, const std::string& Server, const std::string& User,
                             const std::string& Password);

// After a connect: unloads the connect dialog for kinds above 1; when
// gbConnected is set shows the window that received the connection (the
// custom report window modally for target 1, nothing for target 2, the
// browse window just created otherwise).
void ShowConnectedWindow();

// The browse window made by the last successful connect for target 0, or
// nullptr (after a failed connect, or once that window has closed).
ExchWindow* LastConnectedExchWindow();

// ------------------------------------------------------------ bind errors

// The advice for an LDAP/ADSI error number (CR LF CR LF and its lines), ""
// for a number without advice.
std::string GetBindErrorHint(int32_t lErrNumber);

// Shows one failure item (Mode 0: "what@@number@@description") or a list
// of items joined by "_" (Mode 1) in one information message. Nothing is
// shown for an empty text, a list of empty items or any other mode.
void ShowBindErrors(short Mode, const std::string& Text);

// The message ShowBindErrors shows, "" when it shows none.
std::string BindErrorMessage(short Mode, const std::string& Text);

// The items of a bind-error list: empty pieces skipped, and a piece whose
// number field is not a whole number (a description that itself held "_")
// joined back to the item before it with the separators between them.
std::vector<std::string> SplitBindErrorList(const std::string& Text);

// The failure an item tells, as "number:description" (the blanks around
// both fields dropped); "" for an item without both.
std::string ItemFailure(const std::string& item);

// ------------------------------------------------------------ helpers

// "dc=DOMAIN,cn=NAME" from a Connect As text "DOMAIN\NAME" (the name ends
// at a second "\"). False when the text has no "\" or either part is empty.
bool ConnectAsDistinguishedName(const std::string& text, std::string& dn);

// The text shown when a Connect As user is not of the form domain\name.
extern const char* const kConnectAsFormatMessage;

// Installs this part's windows in the main window's seams (the connect
// dialog, the progress window's connect, ShowConnectedWindow, the
// favourites dialog) and the "WinNT:" domain list. Runs once when the
// program's library is loaded; tests may call it again after clearing the
// seams.
void InstallConnectSeams();
