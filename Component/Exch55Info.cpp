// The collector's frame: the class and its library exports, set-up
// (InitializeVariables), the log, the database helpers, the directory
// helpers and the texts every writer shares.
#include "Exch55Info.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "AcctMgmt.h"
#include "AppFolder.h"
#include "Cdo.h"
#include "ComError.h"
#include "DateText.h"
#include "SiteMatch.h"
#include "TextFile.h"
#include "TextParts.h"
#include "Ui.h"

namespace {

constexpr const char* kTitle = "Velmorine for Exchange Server (Velmorcast)";
constexpr const char* kCrLf = "\r\n";
constexpr const char* kDefaultLog = "VelmorcastErrorLog.log";

}  // namespace

VELMO_COM_LIBRARY((std::vector<std::pair<std::string, std::string>>{{"VELMO.Exch55Info", "Exch55Info"}}),
                  ([](std::string_view cls) -> velmo::com::ComObject* {
                    if (cls == "Exch55Info") return new Exch55Info();
                    return nullptr;
                  }))

Exch55Info::Exch55Info() {
  // The account-management and mail-session classes the collector creates.
  velmo::acct::RegisterAcctMgmt();
  velmo::cdo::RegisterCdo();
}

Exch55Info::~Exch55Info() {
  CloseRecordset();
  CloseDBConnection();
}

void* Exch55Info::QueryInterface(std::string_view iid) {
  if (iid == _Exch55Info::IID) return static_cast<_Exch55Info*>(this);
  if (iid == _Exch55InfoOutcome::IID) return static_cast<_Exch55InfoOutcome*>(this);
  return nullptr;
}

bool Exch55Info::CollectionCut(int32_t& number, std::string& description) const {
  if (!cut_.set) return false;
  number = cut_.number;
  description = cut_.description;
  return true;
}

std::string Exch55Info::ErrorLogFileName() const { return ErrorLogFileName_; }

void Exch55Info::ErrorLogFileName(const std::string& vNewValue) { ErrorLogFileName_ = vNewValue; }

// ---- Log ---------------------------------------------------------------

void Exch55Info::WriteErrorLog(const std::string& When, const std::string& Context, const std::string& Number,
                               const std::string& Description) {
  if (ErrorLogFileName_.empty()) ErrorLogFileName_ = kDefaultLog;
  const std::string sep = "      ";
  // A line that cannot be written (a missing "Schedule" folder, a read-only
  // folder) is lost; the caller goes on.
  velmo::AppendLine(velmo::WinPath(velmo::AppFolder(), ErrorLogFileName_),
                    When + sep + Number + sep + Description + sep + Context);
}

void Exch55Info::LogTrace(const std::string& context, const std::string& parameters) {
  WriteErrorLog(velmo::NowText(), context, "Parameters", parameters);
}

void Exch55Info::LogFailure(const std::string& context, int32_t number, const std::string& description) {
  if (CallGivenUp()) return;
  WriteErrorLog(velmo::NowText(), context, velmo::NumberText(number), description);
}

void Exch55Info::LogFalse(const std::string& procedure) {
  if (CallGivenUp()) return;
  WriteErrorLog(velmo::NowText(), procedure, "FALSE", "InitializeVariables Function Call Failure");
}

void Exch55Info::ShowMessage(const std::string& prompt, int buttons, const std::string& title) {
  if (CallGivenUp()) return;
  try {
    velmo::ui::Ui().MsgBox(prompt, buttons, title);
  } catch (...) {
  }
}

std::string Exch55Info::GetErrorHint(int32_t errorNumber) { return velmo::ads::ServerBindHint(errorNumber); }

// ---- Set-up --------------------------------------------------------------

bool Exch55Info::InitializeVariables(const std::string& strServerName, const std::string& strUserName,
                                     const std::string& strPassword) {
  const std::string params = strServerName + "-" + strUserName + "-";
  LogTrace("InitializeVariables Start", params);
  callExch55_.reset();
  callAcctMgmt_.reset();
  bool result = false;
  BoundServer = strServerName;
  const std::string path = "LDAP://" + strServerName;
  const bool cutBefore = cut_.set;
  setUpCut_ = false;

  DirObjectPtr root;
  try {
    root = BindPath(path, strUserName, strPassword);
  } catch (const velmo::ComError& e) {
    // A server bound by an earlier call and lost since, or not reached by
    // the first call of a collection, is the caller's one cut collection,
    // which the caller reports: no box of its own.
    const bool lostPartWay = (serverBound_ || oneCollection_) && IsServerLoss(e.Number());
    NoteServerLost(e.Number(), e.Description());
    setUpCut_ = lostPartWay && !cutBefore;
    LogFailure("InitializeVariables - Binding to the Server '" + path + "' using credential '" + strUserName + "'",
               e.Number(), e.Description());
    BindErrorHint = GetErrorHint(e.Number());
    if (!lostPartWay)
      ShowMessage(velmo::ads::ServerBindFailureText(strServerName, e.Number(), e.Description()),
                  velmo::ui::vbInformation + velmo::ui::vbOKOnly, kTitle);
    LogTrace("InitializeVariables End", params);
    return false;
  }
  serverBound_ = true;

  LoadInfo(*root, {"o"});
  try {
    OrgRdn = "o=" + root->Get("o").Text();
  } catch (const velmo::ComError& e) {
    NoteServerLost(e.Number(), e.Description());
    setUpCut_ = !cutBefore && cut_.set;
    LogFailure("InitializeVariables - Retrieving Organization Name", e.Number(), e.Description());
    LogTrace("InitializeVariables End", params);
    return false;
  }
  DatabasePath = CollectorDatabase();

  // Site search: organisation -> sites -> cn=Configuration -> cn=Servers ->
  // the computer that is this server. A container that cannot be listed is
  // passed over, unless the server went away meanwhile: then nothing more
  // is listed.
  auto children = [this](DirObject& parent, const char* cls) {
    if (cut_.set) return std::vector<DirObjectPtr>{};
    try {
      parent.SetFilter({cls});
      return parent.Children();
    } catch (const velmo::ComError& e) {
      NoteServerLost(e.Number(), e.Description());
      return std::vector<DirObjectPtr>{};
    }
  };
  for (const auto& unit : children(*root, "organizationalUnit")) {
    if (result) break;
    if (unit->Class() != "organizationalUnit") continue;
    for (const auto& config : children(*unit, "Container")) {
      if (result) break;
      if (config->Name() != "cn=Configuration") continue;
      for (const auto& servers : children(*config, "Container")) {
        if (result) break;
        if (servers->Name() != "cn=Servers") continue;
        for (const auto& computer : children(*servers, "Computer")) {
          if (velmo::ComputerIsServer(computer->Name(), strServerName)) {
            SiteRdn = unit->Name();
            result = true;
            break;
          }
        }
      }
    }
  }
  // The server lost while its site was looked for is why the set-up failed.
  setUpCut_ = !result && !cutBefore && cut_.set;
  if (setUpCut_)
    LogFailure("InitializeVariables - Finding the Site of the Server '" + path + "' using credential '" +
                   strUserName + "'",
               cut_.number, cut_.description);
  LogTrace("InitializeVariables End", params);
  return result;
}

// ---- Database ------------------------------------------------------------

void Exch55Info::OpenDBConnection() {
  try {
    DbConnection = std::make_unique<velmo::db::Connection>();
    DbConnection->SetProvider("Microsoft.Jet.OLEDB.4.0");
    DbConnection->Open(DatabasePath);
  } catch (const velmo::ComError& e) {
    LogFailure("OpenDBConnection", e.Number(), e.Description());
    ShowMessage(std::string("Error occured while opening database : ") + kCrLf + velmo::NumberText(e.Number()) +
                    kCrLf + e.Description(),
                velmo::ui::vbInformation, kTitle);
  }
}

void Exch55Info::OpenRecordset(const std::string& selectText) {
  try {
    if (!DbRecordset) DbRecordset = std::make_unique<velmo::db::Recordset>();
    // The table written before is closed as the call's tables are.
    CloseCallRecordset(*DbRecordset);
    if (!DbConnection) throw velmo::ComError(velmo::db::kDbClosed, "Operation is not allowed when the object is closed.");
    DbRecordset->Open(selectText, *DbConnection, velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);
  } catch (const velmo::ComError& e) {
    LogFailure("OpenRecordset", e.Number(), e.Description());
    ShowMessage(std::string("Error occured while opening table : ") + kCrLf + velmo::NumberText(e.Number()) +
                    kCrLf + e.Description(),
                velmo::ui::vbInformation, kTitle);
  }
}

void Exch55Info::CloseRecordset() {
  if (!DbRecordset) return;
  CloseCallRecordset(*DbRecordset);
  DbRecordset.reset();
}

void Exch55Info::CloseCallRecordset(Recordset& rs) {
  try {
    if (rs.State() == velmo::db::adStateOpen) rs.Close();
  } catch (const velmo::ComError& e) {
    // The layer's text ends with the count of rows it could not write.
    LogFailure("CloseRecordset", e.Number(), e.Description());
    NoteWriteFailure(e.Number(), e.Description(), true);
  }
}

void Exch55Info::CloseDBConnection() {
  if (!DbConnection) return;
  try {
    if (DbConnection->State() == velmo::db::adStateOpen) DbConnection->Close();
  } catch (const velmo::ComError& e) {
    LogFailure("CloseDBConnection", e.Number(), e.Description());
  }
  DbConnection.reset();
}

void Exch55Info::AddRow(Recordset& rs, const Row& values) {
  // A table that could not be opened was told about when it failed.
  if (Stopped() || rs.State() != velmo::db::adStateOpen) return;
  try {
    rs.AddNew(values);
  } catch (const velmo::ComError& e) {
    // The file refused the buffered rows (a full disk, a lost lock): the
    // call writes no more; the close of the recordset logs the count.
    NoteWriteFailure(e.Number(), e.Description(), false);
  } catch (const std::exception& e) {
    NoteWriteFailure(velmo::Hr(0x80004005), e.what(), false);
  }
}

// ---- A call cut short ------------------------------------------------------

void Exch55Info::NoteDirectoryFailure(const velmo::ComError& e) {
  if (e.Number() == velmo::ads::E_SERVER_NOT_OPERATIONAL || e.Number() == velmo::ads::E_CANCELLED)
    NoteListingFailure(e, false);
}

bool Exch55Info::CallGivenUp() const { return callDepth_ > 0 && velmo::ads::WaitsGivenUp() != givenUpAtStart_; }

void Exch55Info::StopWhenServerLost(const velmo::ComError& e) {
  if (failure_.set) return;
  NoteDirectoryFailure(e);
  if (failure_.set) failure_.logged = failure_.reported = true;
}

bool Exch55Info::IsServerLoss(int32_t number) {
  return number == velmo::ads::E_SERVER_NOT_OPERATIONAL || number == velmo::ads::E_CANCELLED;
}

void Exch55Info::NoteServerLost(int32_t number, const std::string& description) {
  if (IsServerLoss(number)) NoteCut(number, description);
}

void Exch55Info::NoteCut(int32_t number, const std::string& description) {
  if (cut_.set) return;
  cut_.set = true;
  cut_.partWay = serverBound_ || oneCollection_;
  cut_.server = BoundServer;
  cut_.number = number;
  cut_.description = description;
}

void Exch55Info::NoteListingFailure(const velmo::ComError& e, bool logged) {
  NoteServerLost(e.Number(), e.Description());
  if (failure_.set) return;
  failure_ = CallFailure{true, false, e.Number(), e.Description(), logged, false};
}

void Exch55Info::NoteWriteFailure(int32_t number, const std::string& description, bool logged) {
  if (!failure_.set) {
    failure_ = CallFailure{true, true, number, description, logged, false};
  } else if (failure_.database && !failure_.logged && logged) {
    // The close's line, with the count of rows not written, is the one.
    failure_.description = description;
    failure_.logged = true;
  }
}

std::string Exch55Info::CollectorDatabase() { return velmo::AppFolderText() + "\\velmo.mdb"; }

void Exch55Info::WritePage(velmo::db::PageWrite& page) {
  // The call's own recordset hands its last rows to the page first.
  CloseRecordset();
  if (Stopped() || CallGivenUp()) {
    page.Discard();
    return;
  }
  try {
    // The thread goes on serving its wait hook while the rows are written
    // (a windowed caller keeps painting), and a caller that gives the wait
    // up (a stop) gives the page up with it.
    page.Commit([] { return velmo::ads::PaceWaitHook(); });
  } catch (const velmo::ComError& e) {
    if (CallGivenUp())
      NoteDirectoryFailure(velmo::ComError(velmo::ads::E_CANCELLED, "The operation was canceled by the user."));
    else
      NoteWriteFailure(e.Number(), e.Description(), false);
  }
}

void Exch55Info::EndStoppedCall(velmo::db::WriteJournal& journal, const std::string& kind,
                                const std::string& separator, const std::string& context, std::string& message,
                                bool append, velmo::db::UnfinishedRows* unfinished) {
  // Rows of this page are missing from the collection, whatever happens to
  // the pages after it.
  if (failure_.database) NoteCut(failure_.number, failure_.description);
  if (!failure_.logged) {
    LogFailure(context, failure_.number, failure_.description);
    failure_.logged = true;
  }
  std::vector<velmo::db::WriteJournal::UndoFailure> left;
  const bool undone = journal.Undo(&left);
  for (const auto& f : left)
    LogFailure("Removing the rows of an unfinished collection from '" + f.table + "' (" +
                   std::to_string(f.rowsLeft) + " rows left)",
               f.number, f.description);
  if (unfinished && undone) {
    try {
      unfinished->Finish();
    } catch (const velmo::ComError& e) {
      // Its rows are gone: what the record names is nobody's.
      LogFailure("Removing the record of an unfinished collection", e.Number(), e.Description());
    }
  }
  const bool rowsLeft = unfinished && !undone && unfinished->InFile();
  if (!failure_.reported) {
    std::string description = failure_.description;
    if (rowsLeft)
      description += " The collection did not finish; the rows it wrote are not shown and are removed before "
                     "the server is read or collected again.";
    const std::string item = BindErrorItem(kind, failure_.number, separator, description);
    message = append ? message + "_" + item : item;
    failure_.reported = true;
  }
}

// ---- The no-throw boundary -------------------------------------------------

void Exch55Info::Guarded(const std::string& method, const std::string& server, const CallItem& item,
                         std::string* message, const std::function<void(std::string&)>& body) {
  std::string scratch;
  std::string& text = message ? *message : scratch;
  if (cut_.set && cut_.partWay && cut_.server == server) {
    text = BindErrorItem(item.kind, cut_.number, item.separator, cut_.description);
    return;
  }
  struct Depth {
    Exch55Info& self;
    explicit Depth(Exch55Info& s) : self(s) {
      if (self.callDepth_++ == 0) self.givenUpAtStart_ = velmo::ads::WaitsGivenUp();
    }
    ~Depth() { --self.callDepth_; }
  } depth(*this);
  velmo::db::WriteJournal journal;
  // Rows a body leaves unwritten (a recordset still open when it throws or
  // is given up) are held here: written when the call ends well, dropped
  // with it otherwise, so they never reach the file only to be taken back.
  velmo::db::PageWrite page(CollectorDatabase());
  std::exception_ptr thrown;
  try {
    body(text);
    if (!CallGivenUp()) {
      if (Stopped() || page.Count() == 0) return;
      WritePage(page);
      if (Stopped()) EndStoppedCall(journal, item.kind, item.separator, method, text, !text.empty());
      return;
    }
    // The caller gave a wait of this call up (it is stopping): the call
    // ends as a lost server's does, whatever its steps made of the error
    // on their way, and nothing it wrote stays. The caller says why.
    CloseRecordset();
    CloseDBConnection();
    page.Discard();
    if (!failure_.set)
      failure_ = CallFailure{true, false, velmo::ads::E_CANCELLED, "The operation was canceled by the user.", true,
                             false};
    NoteServerLost(velmo::ads::E_CANCELLED, "The operation was canceled by the user.");
    EndStoppedCall(journal, item.kind, item.separator, method, text, !text.empty());
    return;
  } catch (...) {
    thrown = std::current_exception();
  }
  try {
    const velmo::ComError e = velmo::AsComError(thrown);
    // What the body left open is closed first: rows it held back reach the
    // file, and the journal, and go with the rest.
    CloseRecordset();
    CloseDBConnection();
    page.Discard();
    failure_ = CallFailure{true, false, e.Number(), velmo::ads::CleanText(e.Description()), false, false};
    NoteServerLost(failure_.number, failure_.description);
    EndStoppedCall(journal, item.kind, item.separator,
                   method + " - Stopped by an Error on the Server '" + server + "'", text, !text.empty());
  } catch (...) {
  }
}

// ---- Directory -------------------------------------------------------------

namespace {
velmo::ads::DirObjectPtr Bind(const std::string& path, const std::string& user, const std::string& password) {
  if (!user.empty()) return velmo::ads::OpenDSObject(path, user, password, 0);
  return velmo::ads::GetObject(path);
}

// True when a relative name reads the same written into a slash path, so
// the path names exactly the entry it was enumerated as.
bool PlainRdn(const std::string& rdn) {
  size_t eq = rdn.find('=');
  if (eq == std::string::npos) return false;
  return rdn.find_first_of("/\\,+=;\"<>#", eq + 1) == std::string::npos;
}
}  // namespace

Exch55Info::DirObjectPtr Exch55Info::BindPath(const std::string& path, const std::string& user,
                                             const std::string& password) {
  ++counters_.pathBinds;
  return Bind(path, user, password);
}

Exch55Info::DirObjectPtr Exch55Info::BindChild(const std::string& childPath, const DirObjectPtr& enumerated,
                                              const std::string& user, const std::string& password) {
  // The child was listed a moment ago with these credentials and its
  // attributes came with it; binding its path again would read the same
  // entry. Names that a slash path would not carry unchanged are bound for
  // real, so they fail (and are logged) as any bad path does.
  if (enumerated) {
    std::string name = enumerated->Name();
    if (PlainRdn(name) && childPath.size() > name.size() &&
        childPath.compare(childPath.size() - name.size() - 1, std::string::npos, "/" + name) == 0) {
      ++counters_.bindsFromEnumeration;
      return enumerated;
    }
  }
  return BindPath(childPath, user, password);
}

void Exch55Info::BeginCall(const std::string& user, const std::string& password) {
  CallUser = user;
  CallPassword = password;
  referenced_.clear();
}

Exch55Info::DirObjectPtr Exch55Info::BindReferenced(const std::string& dn) {
  auto found = referenced_.find(dn);
  if (found != referenced_.end()) {
    if (!found->second) throw velmo::ComError(velmo::ads::E_NO_SUCH_OBJECT, "There is no such object on the server.");
    return found->second;
  }
  ++counters_.referenceBinds;
  try {
    if (Stopped()) throw velmo::ComError(velmo::ads::E_SERVER_NOT_OPERATIONAL, "The server is not operational.");
    auto obj = Bind("LDAP://" + BoundServer + "/" + dn, CallUser, CallPassword);
    referenced_[dn] = obj;
    return obj;
  } catch (const velmo::ComError& e) {
    NoteDirectoryFailure(e);
    if (!Stopped()) referenced_[dn] = nullptr;
    throw;
  }
}

void Exch55Info::ReferencedUidAndCn(const std::string& dn, std::string& uid, std::string& cn) {
  uid.clear();
  cn.clear();
  try {
    auto obj = BindReferenced(dn);
    ReadText(*obj, "uid", uid);
    ReadText(*obj, "cn", cn);
  } catch (const velmo::ComError&) {
    uid.clear();
    cn.clear();
  }
}

std::string Exch55Info::ReferencedText(const std::string& dn, const std::string& attribute) {
  try {
    auto obj = BindReferenced(dn);
    std::string text;
    ReadText(*obj, attribute, text);
    return text;
  } catch (const velmo::ComError&) {
    return "";
  }
}

std::string Exch55Info::AdminUser(const std::string& user) { return user.empty() ? user : user + ",cn=admin"; }

void Exch55Info::LoadInfo(DirObject& obj, const std::vector<std::string>& names) {
  if (Stopped()) return;
  try {
    obj.GetInfoEx(names, 0);
  } catch (const velmo::ComError& e) {
    NoteDirectoryFailure(e);
  } catch (...) {
  }
}

// A missing attribute is the common case (most recipients lack most of the
// optional ones), so it is asked for without an exception; a failed read
// (server, connection) also counts as "not readable".
bool Exch55Info::ReadValue(DirObject& obj, const std::string& name, DirValue& value) {
  if (Stopped()) return false;
  try {
    return obj.TryGet(name, value);
  } catch (const velmo::ComError& e) {
    NoteDirectoryFailure(e);
    return false;
  } catch (...) {
    return false;
  }
}

bool Exch55Info::ReadText(DirObject& obj, const std::string& name, std::string& text) {
  DirValue v;
  if (!ReadValue(obj, name, v)) return false;
  text = v.Text();
  return true;
}

bool Exch55Info::ReadList(DirObject& obj, const std::string& name, std::vector<std::string>& values) {
  if (Stopped()) return false;
  try {
    DirValue all;
    if (!obj.TryGetEx(name, all)) return false;
    values = all.Texts();
    return true;
  } catch (const velmo::ComError& e) {
    NoteDirectoryFailure(e);
    return false;
  } catch (...) {
    return false;
  }
}

using velmo::text::LowerAscii;

bool Exch55Info::ReadBool(DirObject& obj, const std::string& name, bool& flag) {
  std::string text;
  if (!ReadText(obj, name, text)) return false;
  std::string t = LowerAscii(velmo::text::Trim(text));
  if (t == "true" || t == "-1" || t == "1") {
    flag = true;
    return true;
  }
  if (t == "false" || t == "0") {
    flag = false;
    return true;
  }
  return false;
}

bool Exch55Info::ReadNumber(DirObject& obj, const std::string& name, double& number) {
  std::string text;
  if (!ReadText(obj, name, text)) return false;
  std::string t = velmo::text::Trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  number = v;
  return true;
}

// ---- Shared texts ----------------------------------------------------------

std::string Exch55Info::BindErrorItem(const std::string& kind, int32_t number, const std::string& separator,
                                      const std::string& description) {
  return kind + velmo::NumberText(number) + separator + description;
}

std::string Exch55Info::ServerFromDn(const std::string& dn, const std::string& prefix) {
  std::string s = dn;
  if (!prefix.empty()) {
    size_t pos = 0;
    while ((pos = s.find(prefix, pos)) != std::string::npos) s.erase(pos, prefix.size());
  }
  size_t comma = s.find(',');
  return comma == std::string::npos ? s : s.substr(0, comma);
}

std::string Exch55Info::AddressType(const std::string& entry) {
  std::string low = LowerAscii(entry);
  if (low.find("smtp") != std::string::npos) return "SMTP";
  if (low.find("x.400") != std::string::npos) return "X.400";
  if (low.find("ccmail") != std::string::npos) return "CCMAIL";
  if (low.find("ms") != std::string::npos) return "MS";
  return "Other";
}

std::string Exch55Info::AddressOf(const std::string& entry) {
  size_t first = entry.find('$');
  if (first == std::string::npos) return "";
  size_t second = entry.find('$', first + 1);
  return entry.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

std::string Exch55Info::DaysText(double seconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", seconds / 86400.0);
  return buf;
}
