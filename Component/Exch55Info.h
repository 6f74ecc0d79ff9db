#pragma once
// Exch55Info: the directory collector class behind _Exch55Info.
//
// One object serves one caller operation: the caller sets ErrorLogFileName,
// calls one or more Get... methods and releases it. Every method binds the
// named server over LDAP (InitializeVariables), reads directory objects and
// appends rows by column position to the tables of the inventory database
// "velmo.mdb" in the collector's own folder. Nothing escapes a method as an
// exception: each step that can fail is tried, logged where the log asks
// for it, and the method goes on with its next step, except that a server
// lost part-way (a listing broken off, a read that finds the server not
// operational), a write the database refuses or an exception that reaches
// the method (see Guarded) ends the call: it reports the failure in its
// error text, logs it, and deletes the rows it wrote (see CallFailure), so
// that no page is left looking collected. A page's rows are held outside
// the database while its objects are read and written in one transaction
// at its end (WritePage), so a program killed part-way leaves none of them.
//
// The class is written in two halves that share this declaration:
//  - set-up, log, recipients, distribution lists, public folders, the
//    recipient row writers, the permissions bridge and the container walker
//    (Exch55Info.cpp, ExchRecipients.cpp, ExchRowWriters.cpp,
//    ExchPublicFolders.cpp, ExchPermissions.cpp);
//  - protocols, stores, server objects, containers, connectors and
//    diagnostics logging (ExchProtocols.cpp, ExchStores.cpp,
//    ExchServerObjects.cpp, ExchConnectors.cpp, ExchDiagnostics.cpp).
//
// Credentials: the set-up binds with the user text as the caller passed it;
// a method's own object binds use the user text followed by ",cn=admin"
// (when not empty). Binds of distinguished names read from attributes
// (owner, members, manager, reports, view containers, memberOf, senders,
// delegates, alternate recipient, ...) go through BindReferenced, which uses
// the same credentials as the call's own object binds, or the current logon
// when the call has none.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ComFactory.h"
#include "Database.h"
#include "PageWrite.h"
#include "WriteJournal.h"
#include "Directory.h"
#include "IExch55Info.h"

struct IExch55;
namespace velmo::acct {
class IAcctMgmt;
}

class Exch55Info : public velmo::com::ComObject, public _Exch55Info, public _Exch55InfoOutcome {
 public:
  Exch55Info();
  ~Exch55Info() override;

  void* QueryInterface(std::string_view iid) override;

  // _Exch55Info
  void GetMailboxInfo(int16_t iInfoType, const std::string& strServerName, const std::string& strUserName,
                      const std::string& strPassword, const std::string& strObjectADsPath,
                      std::string* strRetErrorMsg = nullptr) override;
  void GetDLInfo(int16_t iInfoType, const std::string& strServerName, const std::string& strUserName,
                 const std::string& strPassword, const std::string& strObjectADsPath,
                 std::string* strRetErrorMsg = nullptr) override;
  void GetPublicFolderInfo(int16_t iInfoType, const std::string& strServerName, const std::string& strUserName,
                           const std::string& strPassword, long lWinHwnd, const std::string& strObjectADsPath,
                           std::string* strRetErrorMsg = nullptr) override;
  void GetCustomRecipInfo(int16_t iInfoType, const std::string& strServerName, const std::string& strUserName,
                          const std::string& strPassword, const std::string& strObjectADsPath,
                          std::string* strRetErrorMsg = nullptr) override;
  void GetObjectsInContainer(const std::string& strServerName, const std::string& strUserName,
                             const std::string& strPassword) override;
  void GetProtocolInfo(const std::string& strServerName, const std::string& strUserName,
                       const std::string& strPassword, std::string* strRetErrorMsg = nullptr) override;
  void GetPrivateISInfo(const std::string& strServerName, const std::string& strUserName,
                        const std::string& strPassword, std::string* strRetErrorMsg = nullptr) override;
  void GetServerInfo(const std::string& strServerName, const std::string& strUserName,
                     const std::string& strPassword, std::string* strRetErrorMsg = nullptr) override;
  void GetServerProtocolsInfo(const std::string& strServerName, const std::string& strUserName,
                              const std::string& strPassword, std::string* strRetErrorMsg = nullptr) override;
  void GetPublicISInfo(const std::string& strServerName, const std::string& strUserName,
                       const std::string& strPassword, std::string* strRetErrorMsg = nullptr) override;
  void GetConnectorInfo(const std::string& strServerName, const std::string& strUserName,
                        const std::string& strPassword, std::string* strRetErrorMsg = nullptr) override;
  void GetPublicFolderInfoUsingProfile(int16_t iInfoType, const std::string& strServerName,
                                       const std::string& strUserName, const std::string& strPassword,
                                       const std::string& strProfileName, const std::string& strObjectADsPath,
                                       std::string* strRetErrorMsg = nullptr) override;
  std::string ErrorLogFileName() const override;
  void ErrorLogFileName(const std::string& vNewValue) override;

  // _Exch55InfoOutcome
  bool CollectionCut(int32_t& number, std::string& description) const override;
  void BeginCollection() override { oneCollection_ = true; }

  // Counters of directory work, for the benchmark: binds made, binds served
  // from a just-enumerated container, and name lookups of attribute values.
  struct Counters {
    long pathBinds = 0;
    long bindsFromEnumeration = 0;
    long referenceBinds = 0;
    long accountLookups = 0;
  };
  const Counters& WorkCounters() const { return counters_; }

 private:
  using DirObject = velmo::ads::DirObject;
  using DirObjectPtr = velmo::ads::DirObjectPtr;
  using DirValue = velmo::ads::DirValue;
  using Recordset = velmo::db::Recordset;
  using Value = velmo::db::Value;
  using Row = std::vector<velmo::db::Value>;

  // ---- State (every field starts empty) ---------------------------------
  std::string ErrorLogFileName_;  // the property; "" means the default log
  std::string BoundServer;        // the server of the running call
  std::string OrgRdn;             // "o=<organisation>"
  std::string SiteRdn;            // "ou=<site>"
  std::string DatabasePath;       // the collector's folder + "\velmo.mdb"
  std::unique_ptr<velmo::db::Connection> DbConnection;
  std::unique_ptr<velmo::db::Recordset> DbRecordset;
  std::string ObjectDisplayName;    // display name of the container written last
  std::string ObjectDirectoryName;  // directory name of the container written last
  std::string ObjectPath;           // [Object Path] of the object being written
  std::string BindErrorHint;        // advice for the last failed server bind
  // The credentials of the running call's object binds (user with
  // ",cn=admin" already appended, or empty for the current logon); used by
  // BindReferenced.
  std::string CallUser;
  std::string CallPassword;
  // Objects bound from attribute values during the running call, by
  // distinguished name (nullptr when the bind failed): one directory lookup
  // per name and call however many recipients name it.
  std::unordered_map<std::string, DirObjectPtr> referenced_;
  // Objects of the factory made by the running call, kept for its later
  // directory objects: one creation per call rather than one per mailbox.
  // Let go when the next call starts, so each call sees the class registry
  // as it is then.
  std::shared_ptr<IExch55> callExch55_;
  std::shared_ptr<velmo::acct::IAcctMgmt> callAcctMgmt_;
  Counters counters_;

  // ---- Frame: set-up, log, database (Exch55Info.cpp) --------------------
  bool InitializeVariables(const std::string& strServerName, const std::string& strUserName,
                           const std::string& strPassword);
  void WriteErrorLog(const std::string& When, const std::string& Context, const std::string& Number,
                     const std::string& Description);
  static std::string GetErrorHint(int32_t errorNumber);
  void OpenDBConnection();
  void OpenRecordset(const std::string& selectText);
  void CloseRecordset();
  void CloseDBConnection();

  // Trace and failure lines with the current time.
  void LogTrace(const std::string& context, const std::string& parameters);
  void LogFailure(const std::string& context, int32_t number, const std::string& description);
  void LogFalse(const std::string& procedure);  // "FALSE" / "InitializeVariables Function Call Failure"
  // A message box of the collector's own, through the UI seam: shown in the
  // main program, logged and answered at once in an unattended run.
  void ShowMessage(const std::string& prompt, int buttons, const std::string& title);

  // ---- Directory helpers (Exch55Info.cpp) ------------------------------
  // Binds an "LDAP://" path: with credentials when user is not empty,
  // else as the current logon. Throws velmo::ComError.
  DirObjectPtr BindPath(const std::string& path, const std::string& user, const std::string& password);
  // Binds "LDAP://" + BoundServer + "/" + a distinguished name read from an
  // attribute, with the call's credentials (CallUser) or the current logon.
  DirObjectPtr BindReferenced(const std::string& dn);
  // Binds the path of a child just enumerated, with the credentials of the
  // enumeration: served from the enumeration's result (its attributes are
  // already loaded) when the path ends in the child's plain relative name,
  // so walking a container costs one directory search; bound for real
  // otherwise.
  DirObjectPtr BindChild(const std::string& childPath, const DirObjectPtr& enumerated, const std::string& user,
                         const std::string& password);
  // Sets the credentials of the running call's object binds (CallUser,
  // CallPassword) and forgets the names bound by an earlier call.
  void BeginCall(const std::string& user, const std::string& password);
  // The user text of a call's object binds: user + ",cn=admin", or "".
  static std::string AdminUser(const std::string& user);

  // Guarded reads: true with the value when the attribute could be read.
  // A read that finds the server gone stops the call (NoteDirectoryFailure);
  // once the call has stopped nothing more is asked of the server.
  void LoadInfo(DirObject& obj, const std::vector<std::string>& names);
  bool ReadValue(DirObject& obj, const std::string& name, DirValue& value);
  bool ReadText(DirObject& obj, const std::string& name, std::string& text);
  bool ReadList(DirObject& obj, const std::string& name, std::vector<std::string>& values);
  // A directory Boolean ("TRUE"/"FALSE", "1"/"0"); false when not readable
  // or not a Boolean.
  bool ReadBool(DirObject& obj, const std::string& name, bool& flag);
  // A whole number; false when not readable or not a number.
  bool ReadNumber(DirObject& obj, const std::string& name, double& number);
  // Text of an attribute of a referenced object, "" when the bind or the
  // read fails.
  // The alias (uid) and name (cn) of an object named by a DN read from an
  // attribute; both "" when it cannot be bound.
  // Appends the Advanced pages' name, rdn and trust level, then the ILS
  // server and account.
  void AppendNamesAndIls(DirObject& obj, Row& row);
  void ReferencedUidAndCn(const std::string& dn, std::string& uid, std::string& cn);
  std::string ReferencedText(const std::string& dn, const std::string& attribute);

  // ---- Texts shared by the writers -------------------------------------
  // "kind" + number + separator + description.
  static std::string BindErrorItem(const std::string& kind, int32_t number, const std::string& separator,
                                   const std::string& description);
  // Removes every prefix occurrence and cuts before the first ","; the
  // whole remaining text when no "," is left.
  static std::string ServerFromDn(const std::string& dn, const std::string& prefix);
  // Type of an address entry "type$address": SMTP, X.400, CCMAIL, MS or
  // Other by the first of "smtp", "x.400", "ccmail", "ms" found anywhere in
  // the lower-cased entry; and its address (the text after the first "$", up
  // to the next).
  static std::string AddressType(const std::string& entry);
  static std::string AddressOf(const std::string& entry);
  // Seconds as days, a division that keeps fractions ("604800" -> "7").
  static std::string DaysText(double seconds);
  // Appends a row by column position. A write the file refuses stops the
  // call (NoteWriteFailure); a stopped call writes nothing more.
  void AddRow(Recordset& rs, const Row& values);

  // ---- A call cut short (Exch55Info.cpp) ---------------------------------
  // What ends a call's collection before its end: the server lost (a
  // listing that fails, or a read or bind that finds the server not
  // operational) or a database write the file refused. The first one
  // counts. Such a call must not leave a page that looks collected: it
  // hands the failure back as its error item, logs it, and takes back the
  // rows it wrote (through the write journal of the call).
  struct CallFailure {
    bool set = false;
    bool database = false;  // a refused write rather than the server
    int32_t number = 0;
    std::string description;
    bool logged = false;    // its log line is written
    bool reported = false;  // its item is in the caller's error text
  };
  CallFailure failure_;
  // The first failure of any call of this object that cut its collection
  // short (_Exch55InfoOutcome): the server lost, a wait given up, or a page
  // the database refused. Once it is set part-way (the object had bound the
  // server, or its calls are one collection), every later call for that
  // server returns at once with it (see Guarded): the call that met it
  // logged it, and asking a lost server again would only wait out its
  // bounds once more. Outside a collection, a server this object never
  // reached is tried again by each call.
  struct {
    bool set = false;
    bool partWay = false;
    std::string server;
    int32_t number = 0;
    std::string description;
  } cut_;
  // True once a set-up of this object bound its server: a server that then
  // cannot be bound was lost during the caller's collection.
  bool serverBound_ = false;
  // True once the caller made this object's calls one collection
  // (BeginCollection).
  bool oneCollection_ = false;
  // True when the last set-up failed by cutting the collection: it logged
  // why, and its caller adds no line of its own.
  bool setUpCut_ = false;
  // Notes a failure that means the server was lost or the wait given up.
  void NoteServerLost(int32_t number, const std::string& description);
  static bool IsServerLoss(int32_t number);
  void NoteCut(int32_t number, const std::string& description);
  bool Stopped() const { return failure_.set; }
  // True once the caller's wait hook gave up a wait of the running call
  // (the caller is stopping): the call stops, writes no failure line and
  // shows no message, and Guarded takes its rows back.
  bool CallGivenUp() const;
  int callDepth_ = 0;               // public methods running (Guarded)
  uint64_t givenUpAtStart_ = 0;     // WaitsGivenUp() when the outermost began
  // A directory failure that means the server is gone (not operational,
  // timed out), or a wait the caller gave up, stops the call; any other is
  // the object's own matter.
  void NoteDirectoryFailure(const velmo::ComError& e);
  // The same for a bind whose item and line the caller has already given.
  void StopWhenServerLost(const velmo::ComError& e);
  // A listing that fails stops the call whatever the failure.
  void NoteListingFailure(const velmo::ComError& e, bool logged);
  void NoteWriteFailure(int32_t number, const std::string& description, bool logged);
  // Closes a recordset of the call; a write refused at the close is logged
  // (with the count of rows not written) and stops the call.
  void CloseCallRecordset(Recordset& rs);
  // Writes the rows of a call's page, held back while the directory was
  // read (PageWrite), in one transaction, unless the call stopped or was
  // given up (then they are dropped); a write the file refuses stops the
  // call, so its end takes back what the call wrote before.
  void WritePage(velmo::db::PageWrite& page);
  // The inventory database the collector writes.
  static std::string CollectorDatabase();
  // Ends a stopped call: its item (kind + number + separator + description)
  // into message (assigned, or appended after "_"), its log line under
  // context when none was written yet, and the journal's rows deleted; a
  // delete that fails is logged. A page the database refused cuts the
  // collection as a lost server does. With the call's record of unfinished
  // rows: it goes once the rows are taken back; when they cannot be, it
  // stays in the file and the item says that the collection did not
  // finish.
  void EndStoppedCall(velmo::db::WriteJournal& journal, const std::string& kind, const std::string& separator,
                      const std::string& context, std::string& message, bool append,
                      velmo::db::UnfinishedRows* unfinished = nullptr);

  // ---- The no-throw boundary (Exch55Info.cpp) ---------------------------
  // The kind text and separator of a public method's error item.
  struct CallItem {
    std::string kind;
    std::string separator;
  };
  // Runs the body of a public method with the caller's error text, or a
  // scratch text when the caller passes none. Nothing the body throws leaves
  // the method: an exception ends the call as a lost server does, with one
  // log line naming the method, the server and the exception's text, one
  // item in the error text (after "_" when the text holds something), and
  // the rows the call wrote taken back. A call made once the collection
  // is cut does nothing but hand the cut's failure back as its item.
  void Guarded(const std::string& method, const std::string& server, const CallItem& item, std::string* message,
               const std::function<void(std::string&)>& body);

  // ---- Recipients (ExchRecipients.cpp) ----------------------------------
  struct Recipient {
    std::string displayName;  // cn
    std::string alias;        // uid
    std::string homeServer;   // from Home-MDB, "[None]" without one
  };
  void GetMailboxCustomRecipInfo(const std::string& kind, int16_t iInfoType, const std::string& strServerName,
                                 const std::string& strUserName, const std::string& strPassword,
                                 const std::string& strObjectADsPath, std::string& strRetErrorMsg);
  // The container walker: mode 0 container rows, any other mode mailboxes.
  // A listing that fails, or a worker that stops, ends the whole walk with
  // the call stopped.
  void GetChildContainers(const std::string& path, const std::string& user, const std::string& password,
                          long mode, int16_t iInfoType);
  void WriteRecipientGeneral(bool mailbox, DirObject& obj, const Recipient& r, const std::string& server,
                             const std::string& path);
  void WriteRecipientOrgnPhoneNotes(bool mailbox, DirObject& obj, const Recipient& r, const std::string& server,
                                    const std::string& path);
  void WriteRecipientProtocols(bool mailbox, DirObject& obj, const Recipient& r, const std::string& server,
                               const std::string& path);
  void WriteMailboxAdvanced(DirObject& obj, const Recipient& r, const std::string& server, const std::string& path);
  void WriteCustomRecipAdvanced(DirObject& obj, const Recipient& r, const std::string& server,
                                const std::string& path);
  // Primary Windows NT account of Assoc-NT-Account as "DOMAIN\login", "".
  std::string AccountName(DirObject& obj);
  // rdn of the object named by Obj-View-Containers, "".
  std::string ContainerName(DirObject& obj);

  // Distribution lists.
  void WriteDLGeneral(DirObject& obj, Recordset& rs, const std::string& displayName, const std::string& alias,
                      const std::string& server, const std::string& path);
  void WriteDLAdvanced(DirObject& obj, Recordset& rs, const std::string& displayName, const std::string& alias,
                       const std::string& server, const std::string& path);

  // ---- Recipient row writers (ExchRowWriters.cpp) -----------------------
  void WriteCustomAttributes(DirObject& obj, Recordset& rs, const std::string& displayName,
                             const std::string& alias, const std::string& path, const std::string& kind,
                             const std::string& homeServer);
  void WriteEmailAddresses(DirObject& obj, Recordset& rs, const std::string& displayName,
                           const std::string& alias, const std::string& path, const std::string& kind,
                           const std::string& homeServer);
  void WriteDeliveryRestrictions(const std::string& kind, DirObject& obj, Recordset& rs,
                                 const std::string& displayName, const std::string& alias,
                                 const std::string& path, const std::string& homeServer);

  // ---- Permissions bridge (ExchPermissions.cpp) -------------------------
  void GetObjectPermissions(DirObject& obj, const std::string& level, const std::string& displayName,
                            const std::string& alias, const std::string& table, const std::string& modeText,
                            const std::string& homeServer, const std::string& objectPath);

  // ---- Public folders (ExchPublicFolders.cpp) ---------------------------
  void CollectPublicFolderInfo(long mode, int16_t iInfoType, const std::string& strServerName,
                               const std::string& strUserName, const std::string& strPassword, long windowHandle,
                               const std::string& strObjectADsPath, const std::string& profileName,
                               std::string& strRetErrorMsg);
  static std::string FolderRoleName(long rights);

  // ---- Configuration half ----------------------------------------------
  // Protocols (ExchProtocols.cpp): one protocol object of a Protocols
  // container; result receives its bind-error item or "".
  void GetProtocolProp(const std::string& strLevel, const std::string& strObjectName,
                       const std::string& strServerName, const std::string& strUserName,
                       const std::string& strPassword, std::string& result);
  // Server objects (ExchServerObjects.cpp); each empties strRetErrorMsg on
  // entry (GetContainerObjectsInfo only appends).
  void GetSystemAttendantInfo(const std::string& strServerName, const std::string& strUserName,
                              const std::string& strPassword, std::string& strRetErrorMsg);
  void GetMTAInfo(const std::string& strServerName, const std::string& strUserName,
                  const std::string& strPassword, std::string& strRetErrorMsg);
  void GetContainerObjectsInfo(const std::string& strServerName, const std::string& strUserName,
                               const std::string& strPassword, std::string& strRetErrorMsg);
  // One ContainerInfo row for a container at a level (0 organisation ...
  // 5 server protocols); sets ObjectDisplayName, ObjectDirectoryName and
  // ObjectPath for the container's permission rows.
  void WriteContainerInfo(int16_t level, DirObject& container, Recordset& rs, const std::string& serverName);
  // The container walker's step for one child in container mode: its
  // ContainerInfo row (level 2) and its ServerObjectsPerm rows. ObjectPath
  // holds the child's path when it is called.
  void WriteContainerRows(DirObject& container);
  // Registry (ExchDiagnostics.cpp): mode 0 the System Attendant's
  // log-cleaning text into cleaningText, mode 1 the DiagLogging rows of the
  // service the directory name stands for.
  void GetDataFromRegistry(int16_t mode, const std::string& displayName, const std::string& directoryName,
                           std::string& cleaningText);
  void WriteDiagLogging(const std::string& keyPath, const std::string& displayName,
                        const std::string& directoryName, const std::string& categoryText);
  // Connectors (ExchConnectors.cpp): one connector of the Connections
  // container each; message receives its bind-error item or "".
  void GetIMCInfo(const std::string& connectorName, const std::string& strUserName, const std::string& strPassword,
                  std::string& message);
  void GetSiteConnectorInfo(const std::string& connectorName, const std::string& strUserName,
                            const std::string& strPassword, std::string& message);
  void GetNewsfeedInfo(const std::string& connectorName, const std::string& strUserName,
                       const std::string& strPassword, std::string& message);
  void GetMSMailInfo(const std::string& connectorName, const std::string& strUserName,
                     const std::string& strPassword, std::string& message);
  // The shared bodies of the site and server protocol methods
  // (ExchProtocols.cpp) and of the private and public store methods
  // (ExchStores.cpp); strRetErrorMsg is the caller's text.
  void CollectProtocols(bool serverLevel, const std::string& strServerName, const std::string& strUserName,
                        const std::string& strPassword, std::string& strRetErrorMsg);
  void CollectStore(bool publicStore, const std::string& strServerName, const std::string& strUserName,
                    const std::string& strPassword, std::string& strRetErrorMsg);

  // ---- Call frame of the configuration readers (ExchServerObjects.cpp) --
  // Opens a reader's call: the start trace, message emptied, the call's
  // variables set up. When the set-up fails: the FALSE line and the end
  // trace are written and false comes back.
  bool StartCall(const std::string& procedure, const std::string& params, const std::string& strServerName,
                 const std::string& strUserName, const std::string& strPassword, std::string& message);
  // What a failed object bind reports: the bind-error item's kind and
  // separator, and the failure line's text around the object's path (the
  // line goes on with " using credential '<user>'").
  struct BindFailureText {
    std::string kind;
    std::string separator;
    std::string logBefore;
    std::string logAfter = "'";
  };
  // Binds path into obj. When that fails: message receives the bind-error
  // item, the failure line and the procedure's end trace are written and
  // false comes back.
  bool BindOrReport(const std::string& path, const std::string& user, const std::string& password,
                    const BindFailureText& text, const std::string& procedure, const std::string& params,
                    std::string& message, DirObjectPtr& obj);
  // The relative names of a container's children; a listing that fails
  // stops the call.
  std::vector<std::string> ChildNames(DirObject& container);
  // The e-mail addresses of a server object as "type$address": SMTP and
  // X.400 always (empty addresses when not readable), then the other
  // addresses as stored.
  std::vector<std::string> ObjectAddresses(DirObject& obj);
  // Connectors (ExchConnectors.cpp): the opening every connector reader
  // shares (start trace, message emptied, ObjectPath at the Connections
  // container, the connector bound), and the address-space rows of the
  // Internet Mail and MS Mail connectors.
  bool OpenConnector(const std::string& procedure, const std::string& params, const std::string& connectorName,
                     const std::string& strUserName,
                     const std::string& strPassword, const std::string& objectName, const std::string& kindPadding,
                     const std::string& separator, std::string& message, DirObjectPtr& connector);
  void WriteAddressSpaceRows(DirObject& connector, const std::string& displayName, const std::string& directoryName);
};
