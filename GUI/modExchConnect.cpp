// Connecting to an Exchange server and reporting failed binds.
#include "modExchConnect.h"

#include <QApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QString>

#include <charconv>
#include <climits>
#include <cstdint>
#include <exception>
#include <memory>

#include "ComError.h"
#include "Database.h"
#include "Directory.h"
#include "Mdifrm.h"
#include "SiteMatch.h"
#include "TextPartsUnicode.h"
#include "StopSignals.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "WinNTDomains.h"
#include "frmAutoFormat.h"
#include "frmConnect.h"
#include "frmExch.h"
#include "frmFavourites.h"
#include "modExchTree.h"
#include "modGlobals.h"

namespace ads = velmo::ads;
namespace db = velmo::db;
using velmo::ui::Ui;

std::function<CustomReportConnectTarget*()> gCustomReportForConnect;
ExportPlusWindow* gfrmExportPlus = nullptr;

const char* const kConnectAsFormatMessage =
    "Please enter the Connect As user name as domain\\user name, for example CORP\\jsmith.";

namespace {

const char* const kCrLf = "\r\n";

// The browse window made by the last successful connect for target 0.
ExchWindow* gLastConnected = nullptr;

using velmo::text::UpperUnicode;

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// The fields of a failure item split at "@@": what failed, the number and
// the description (the description keeps any further "@@").
struct ItemFields {
  std::string what;
  std::string number;
  std::string description;
  int parts = 0;
};

ItemFields SplitItem(const std::string& item) {
  ItemFields f;
  const auto first = item.find("@@");
  if (first == std::string::npos) {
    f.what = item;
    f.parts = 1;
    return f;
  }
  f.what = item.substr(0, first);
  const auto second = item.find("@@", first + 2);
  if (second == std::string::npos) {
    f.number = item.substr(first + 2);
    f.parts = 2;
    return f;
  }
  f.number = item.substr(first + 2, second - first - 2);
  f.description = item.substr(second + 2);
  f.parts = 3;
  return f;
}

// The number field as a signed 32-bit whole number (blanks around it
// ignored); false when it is not one.
bool ParseErrorNumber(const std::string& field, int32_t& number) {
  const std::string t = Trim(field);
  int64_t value = 0;
  const char* begin = t.data() + (!t.empty() && t[0] == '+' ? 1 : 0);
  const char* end = t.data() + t.size();
  auto [ptr, ec] = std::from_chars(begin, end, value);
  if (t.empty() || ec != std::errc() || ptr != end) return false;
  if (value < INT32_MIN || value > static_cast<int64_t>(UINT32_MAX)) return false;
  // A number written unsigned (2147942402) is the same 32-bit value.
  number = static_cast<int32_t>(static_cast<uint32_t>(value & 0xFFFFFFFF));
  return true;
}

bool HasErrorNumber(const std::string& piece) {
  ItemFields f = SplitItem(piece);
  int32_t n = 0;
  return f.parts >= 2 && ParseErrorNumber(f.number, n);
}

std::string HintOf(const std::string& numberField) {
  int32_t n = 0;
  return ParseErrorNumber(numberField, n) ? GetBindErrorHint(n) : std::string();
}

void LogError(const std::string& context, int32_t number, const std::string& description) {
  LogFailure(context, number, description);
}

// The hourglass for the time of the connect, and an empty status line at
// the end of it (written before the hourglass goes).
class ConnectScope {
 public:
  ~ConnectScope() { SetProgressStatus(""); }

 private:
  velmo::ui::WaitCursor cursor_;
};

// The ordinary pointer while a message of the connect step waits for its
// answer (the hourglass comes back afterwards).
class NormalPointer : public velmo::ui::WaitCursor {
 public:
  NormalPointer() : WaitCursor(Qt::ArrowCursor, AnyShown()) {}
};

ads::DirObjectPtr Bind(const std::string& path, const std::string& user, const std::string& password) {
  if (!user.empty()) return ads::OpenDSObject(path, user, password, 0);
  return ads::GetObject(path);
}

std::string StandardItem(const std::string& upperServer, int32_t number, const std::string& description) {
  return "Unable to connect to '" + upperServer + "'.@@" + velmo::NumberText(number) + "@@" + description;
}

// A connect given up with the progress window's Cancel: logged, and no
// message (the user asked for it).
bool CancelledByUser(const std::string& context, int32_t number, const std::string& description) {
  if (number != ads::E_CANCELLED) return false;
  LogError(context, number, description);
  return true;
}

// A failure while reading the organisation or the site: logged with its
// context, shown as the standard item.
void ReportStepFailure(const std::string& context, const std::string& upperServer, int32_t number,
                       const std::string& description) {
  if (CancelledByUser(context, number, description)) return;
  LogError(context, number, description);
  NormalPointer pointer;
  ShowBindErrors(0, StandardItem(upperServer, number, description));
}

// The first bind failed: what the user sees depends on the connect kind.
void ReportBindFailure(short Mode, const std::string& upperServer, const velmo::ComError& e) {
  if (CancelledByUser("ConnectToExchangeServer - Connecting to '" + upperServer + "' cancelled.", e.Number(),
                      e.Description()))
    return;
  NormalPointer pointer;
  if (Mode == 0) {
    LogError("ConnectToExchangeServer - Unable to connect to Default Server '" + upperServer + "'.", e.Number(),
             e.Description());
    const int answer = Ui().MsgBox("Unable to connect to Default Server '" + upperServer + "'." + kCrLf +
                                       e.Description() + "\r\r" + "Do you want to connect to another server?",
                                   velmo::ui::vbYesNo + velmo::ui::vbInformation, kProductTitle);
    if (answer == velmo::ui::vbYes) {
      if (gMdifrm) gMdifrm->iFavoriteORDefaultServer = 2;
      gbShowConnectDialog = true;
    } else {
      gbShowConnectDialog = false;
      Ui().MsgBox(std::string("To connect to another server later,") + "\r" +
                      "Click the Connect button on the Toolbar or " + "\r" +
                      "Choose the Connect To Exchange Server option from Tools Menu.",
                  velmo::ui::vbInformation + velmo::ui::vbOKOnly, kProductTitle);
    }
    return;
  }
  if (Mode == 1) {
    LogError("ConnectToExchangeServer - Unable to connect to Favorite Server '" + upperServer + "'.", e.Number(),
             e.Description());
    ShowBindErrors(0, "Unable to connect to Favorite Server '" + upperServer + "'.@@" +
                          velmo::NumberText(e.Number()) + "@@" + e.Description());
    return;
  }
  LogError("ConnectToExchangeServer - Unable to connect to '" + upperServer + "'.", e.Number(), e.Description());
  ShowBindErrors(0, StandardItem(upperServer, e.Number(), e.Description()));
}

// The site name from the site's relative name: the text after the first
// "=" up to a second "=" ("ou=Head Office" gives "Head Office").
std::string SiteNameOf(const std::string& rdn) {
  const auto eq = rdn.find('=');
  if (eq == std::string::npos) return rdn;
  const auto next = rdn.find('=', eq + 1);
  return rdn.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
}

// The favourite and default flags of connect kinds 3, 4 and 5. Failures
// are logged only: the connection still succeeds.
void RecordFavouriteAndDefault(short Mode, const std::string& Server, const std::string& upperServer) {
  if (Mode < 3 || Mode > 5) return;
  std::unique_ptr<db::Connection> conn;
  try {
    if (!gConn) throw velmo::ComError(db::kDbClosed, "The connection to the database is not open.");
    conn = std::make_unique<db::Connection>();
    conn->Open(gConn->ConnectionString());
  } catch (const velmo::ComError& e) {
    LogError("ConnectToExchangeServer RecordsetObjectCreation Failed", e.Number(), e.Description());
    return;
  }

  if (Mode == 3 || Mode == 5) {
    SetProgressStatus("Adding '" + upperServer + "' to Favorites.");
    try {
      db::Recordset rs;
      rs.Open("select * from VELMORCFavourites where ServerName=? and IsFavouriteSrv='Yes'", *conn, {Server},
              db::adOpenKeyset, db::adLockOptimistic);
      if (rs.RecordCount() == 0) {
        rs.AddNew({Server, "No", "Yes"});
        rs.Update();
      }
      rs.Close();
    } catch (const velmo::ComError& e) {
      LogError("ConnectToExchangeServer FirstRecordsetObjectOpen Failed", e.Number(), e.Description());
    }
  }

  if (Mode == 4 || Mode == 5) {
    SetProgressStatus("Setting '" + upperServer + "' as Default server.");
    try {
      db::Recordset rs;
      rs.Open("select * from VELMORCFavourites where IsDefaultSrv='Yes'", *conn, db::adOpenKeyset,
              db::adLockOptimistic);
      if (rs.RecordCount() > 0) {
        for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
          rs["IsDefaultSrv"] = db::Value("No");
          rs.Update();
        }
      }
      rs.Close();
    } catch (const velmo::ComError& e) {
      LogError("ConnectToExchangeServer SecondRecordsetObjectOpen Failed", e.Number(), e.Description());
      return;
    }
    try {
      db::Recordset rs;
      rs.Open("select * from VELMORCFavourites where ServerName=?", *conn, {Server}, db::adOpenKeyset,
              db::adLockOptimistic);
      if (rs.RecordCount() == 0) {
        rs.AddNew({Server, "Yes", "No"});
        rs.Update();
      } else {
        rs.MoveFirst();
        rs["IsDefaultSrv"] = db::Value("Yes");
        rs.Update();
      }
      rs.Close();
    } catch (const velmo::ComError& e) {
      LogError("ConnectToExchangeServer ThirdRecordsetObjectOpen Failed", e.Number(), e.Description());
    }
  }
}

void ShowWindow(QWidget* window) {
  if (!window) return;
  if (auto* sub = qobject_cast<QMdiSubWindow*>(window->parentWidget())) {
    sub->show();
    if (gMdiArea) gMdiArea->setActiveSubWindow(sub);
  }
  window->show();
  window->raise();
}

bool SlotsFull() {
  for (int i = 1; i <= kMaxExchWindows; ++i)
    if (!gfrmExchWindows[i]) return false;
  return true;
}

}  // namespace

// ================================================================= connect

bool ConnectToExchangeServer(short Mode, const std::string& Server, const std::string& User,
                             const std::string& Password) {
  const short target = gMdifrm ? gMdifrm->iFromCustomReport : 0;
  // For Export Plus the organisation and site stay empty unless this
  // connect succeeds, so a failed server is never collected under the
  // names of the one before it.
  if (target == 3 && gfrmExportPlus) {
    gfrmExportPlus->strEPOrganizationName.clear();
    gfrmExportPlus->strEPSiteName.clear();
  }

  if (Server.empty()) {
    Ui().MsgBox("Please enter the server name.", velmo::ui::vbInformation + velmo::ui::vbOKOnly, kProductTitle);
    return false;
  }

  // The window the connection is for must be there before anything is
  // written: a 26th browse window is refused here.
  if (target == 1 || target == 2) {
    // The custom report window installs this entry when the program starts;
    // tests that leave it out get no connect.
    if (!gCustomReportForConnect) return false;
  } else if (target == 3) {
    if (!gfrmExportPlus) {
      Ui().MsgBox("The Export Plus window is not open.", velmo::ui::vbInformation, kProductTitle);
      return false;
    }
  } else if (SlotsFull()) {
    Ui().MsgBox("At most 25 server windows can be open at once. Close one and try again.",
                velmo::ui::vbInformation, kProductTitle);
    return false;
  }

  ConnectScope scope;
  const std::string upper = UpperUnicode(Server);

  // The server's root DSE proves that it answers.
  try {
    Bind("LDAP://" + Server + "/RootDSE", User, Password);
  } catch (const velmo::ComError& e) {
    ReportBindFailure(Mode, upper, e);
    return false;
  }

  // The organisation.
  SetProgressStatus("Retrieving Organization Name from '" + upper + "'.");
  ads::DirObjectPtr org;
  try {
    org = Bind("LDAP://" + Server, User, Password);
  } catch (const velmo::ComError& e) {
    ReportStepFailure("ConnectToExchangeServer - Binding to server '" + upper + "' to get Organization/Site Name Failed",
                      upper, e.Number(), e.Description());
    return false;
  }
  std::string organization;
  try {
    org->GetInfoEx({"o"}, 0);
    organization = org->Get("o").Text();
  } catch (const velmo::ComError& e) {
    ReportStepFailure("ConnectToExchangeServer - Getting Exchange Organization Name from '" + upper + "' failed.",
                      upper, e.Number(), e.Description());
    return false;
  }

  // The site, found through the computer that is this server.
  SetProgressStatus("Retrieving Site Name from '" + upper + "'.");
  try {
    org->SetFilter({"organizationalUnit"});
  } catch (const velmo::ComError& e) {
    ReportStepFailure("ConnectToExchangeServer - Getting Site Name from '" + upper + "' failed.", upper,
                      e.Number(), e.Description());
    return false;
  }
  int32_t walkNumber = 0;
  std::string walkDescription;
  auto children = [&](ads::DirObject& parent, const char* cls) {
    if (walkNumber == ads::E_CANCELLED) return std::vector<ads::DirObjectPtr>{};  // the user gave up
    try {
      parent.SetFilter({cls});
      return parent.Children();
    } catch (const velmo::ComError& e) {
      walkNumber = e.Number();
      walkDescription = e.Description();
      return std::vector<ads::DirObjectPtr>{};
    }
  };
  std::string siteRdn;
  bool found = false;
  for (const auto& unit : children(*org, "organizationalUnit")) {
    if (found) break;
    if (unit->Class() != "organizationalUnit") continue;
    for (const auto& config : children(*unit, "Container")) {
      if (found) break;
      if (config->Name() != "cn=Configuration") continue;
      for (const auto& servers : children(*config, "Container")) {
        if (found) break;
        if (servers->Name() != "cn=Servers") continue;
        for (const auto& computer : children(*servers, "Computer")) {
          if (velmo::ComputerIsServer(computer->Name(), Server)) {
            siteRdn = unit->Name();
            found = true;
            break;
          }
        }
      }
    }
  }
  if (!found) {
    ReportStepFailure("ConnectToExchangeServer - Assigning Site Name for '" + upper + "' failed.", upper, walkNumber,
                      walkDescription);
    return false;
  }
  const std::string site = SiteNameOf(siteRdn);

  // Target 2: a server the open custom report already lists is not added
  // again.
  CustomReportConnectTarget* report = nullptr;
  if (target == 1 || target == 2) {
    report = gCustomReportForConnect();
    if (!report) return false;
    if (target == 2)
      for (const auto& text : report->ServerNodeTexts())
        if (text == Server) return false;
  }

  RecordFavouriteAndDefault(Mode, Server, upper);

  // The window that asked for the connection is filled and shown.
  if (target == 1 || target == 2) {
    SetProgressStatus("Loading Connected Exchange server Custom Report window.");
    report->strCRServerName = Server;
    report->strCROrganizationName = organization;
    report->strCRSiteName = site;
    report->strCRUserName = User;
    report->strCRPassword = Password;
    if (target == 2) report->ClearServerNodes();
  } else if (target == 3) {
    gfrmExportPlus->strEPOrganizationName = organization;
    gfrmExportPlus->strEPSiteName = site;
  } else {
    SetProgressStatus("Loading Connected Exchange server window.");
    auto* window = new frmExch();
    if (OpenExchWindowSlot(window) == 0) {
      window->Window()->deleteLater();
      return false;
    }
    window->strServerName = Server;
    window->strOrganizationName = organization;
    window->strSiteName = site;
    window->strUserName = User;
    window->strPassword = Password;
    try {
      BuildTree(*window->tvwServers, 0, organization, site, upper, User, Password);
    } catch (const std::exception& e) {
      // The window still opens with the nodes made so far.
      if (auto* com = dynamic_cast<const velmo::ComError*>(&e))
        LogError("ConnectToExchangeServer BuildTree Failed", com->Number(), com->Description());
      else
        LogError("ConnectToExchangeServer BuildTree Failed", velmo::E_FAIL_, e.what());
    }
    gLastConnected = window;
  }
  return true;
}

ExchWindow* LastConnectedExchWindow() {
  if (!gLastConnected) return nullptr;
  for (int i = 1; i <= kMaxExchWindows; ++i)
    if (gfrmExchWindows[i] == gLastConnected) return gLastConnected;
  gLastConnected = nullptr;
  return nullptr;
}

void ShowConnectedWindow() {
  if (gMdifrm && gMdifrm->iFavoriteORDefaultServer > 1) UnloadConnectDialog();
  if (!gbConnected) return;
  const short target = gMdifrm ? gMdifrm->iFromCustomReport : 0;
  if (target == 1) {
    if (gCustomReportForConnect)
      if (CustomReportConnectTarget* report = gCustomReportForConnect()) report->ShowModal();
    return;
  }
  if (target == 2 || target == 3) return;
  if (ExchWindow* window = LastConnectedExchWindow()) ShowWindow(window->Window());
}

// ============================================================ bind errors

std::string GetBindErrorHint(int32_t lErrNumber) {
  auto hint = [](std::initializer_list<const char*> lines) {
    std::string text = "\r\n\r\n";
    bool first = true;
    for (const char* line : lines) {
      if (!first) text += kCrLf;
      text += line;
      first = false;
    }
    return text;
  };
  switch (static_cast<uint32_t>(lErrNumber)) {
    case 0x80005000u:
      return hint({"Please ensure Windows NT Challenge/Response is enabled at the Site/Server level.", " OR ",
                   "Please connect to the server by supplying valid credential using Connect As option."});
    case 0x8007052Eu:
    case 0x80070056u:
      return hint({"Please ensure the following : ",
                   "   - Anonymous Access is enabled in LDAP protocol at the site/server level.",
                   "   - The currently logged on user/supplied credential is visible in that exchange server.",
                   "   - The supplied password is correct if you have used the Connect As option."});
    case 0x8007003Au:
    case 0x8007203Au:
      return hint({"Please ensure the following : ", "   - LDAP protocol is enabled at the Site/Server level.",
                   "   - The server is operational."});
    case 0x80072029u:
      return hint({"Please ensure Basic (Clear Text) is enabled at the Site/Server level."});
    default:
      return "";
  }
}

std::vector<std::string> SplitBindErrorList(const std::string& Text) {
  std::vector<std::string> items;
  size_t skipped = 0;  // separators since the last item
  size_t start = 0;
  for (;;) {
    const auto at = Text.find('_', start);
    const std::string piece = Text.substr(start, at == std::string::npos ? std::string::npos : at - start);
    if (piece.empty()) {
      if (!items.empty()) ++skipped;
    } else if (!items.empty() && !HasErrorNumber(piece)) {
      // The rest of a description that held "_": back onto its item.
      items.back() += std::string(skipped + 1, '_') + piece;
      skipped = 0;
    } else {
      items.push_back(piece);
      skipped = 0;
    }
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return items;
}

std::string ItemFailure(const std::string& item) {
  const ItemFields f = SplitItem(item);
  return f.parts == 3 ? Trim(f.number) + ":" + Trim(f.description) : std::string();
}

std::string BindErrorMessage(short Mode, const std::string& Text) {
  if (Text.empty()) return "";
  if (Mode == 0) {
    const ItemFields f = SplitItem(Text);
    return f.what + kCrLf + f.description + HintOf(f.number);
  }
  if (Mode != 1) return "";
  const std::string header = std::string("Error occured while binding to the following item(s) : ") + kCrLf + kCrLf;
  std::string message = header;
  bool first = true;
  for (const std::string& item : SplitBindErrorList(Text)) {
    // Items after the first start on the next line: one line break, no
    // blank line between items.
    if (!first) message += kCrLf;
    message += item + HintOf(SplitItem(item).number);
    first = false;
  }
  return message == header ? std::string() : message;
}

void ShowBindErrors(short Mode, const std::string& Text) {
  // After a stop request the calls given up say "canceled by the user":
  // no failure of a bind, and nobody is left to read a box.
  if (velmo::StopSignal() != 0) return;
  const std::string message = BindErrorMessage(Mode, Text);
  if (message.empty()) return;
  Ui().MsgBox(message, velmo::ui::vbInformation + velmo::ui::vbOKOnly, kProductTitle);
}

// ================================================================ helpers

bool ConnectAsDistinguishedName(const std::string& text, std::string& dn) {
  return velmo::ads::AccountBindName(text, dn);
}

void InstallConnectSeams() {
  MdifrmSeams& seams = Mdifrm::Seams();
  seams.showConnectDialog = [] { ShowConnectDialogAndUnload(); };
  seams.connectInProgressWindow = [] { ConnectInProgressWindow(); };
  seams.showConnectedWindow = [] { ShowConnectedWindow(); };
  seams.showFavourites = [] { ShowFavouritesDialog(); };
  velmo::net::InstallWinNTProvider();
}

namespace {
// This part of the program takes its place in the main window as soon as
// the program's library is loaded.
const bool gConnectSeamsInstalled = (InstallConnectSeams(), true);
}  // namespace
