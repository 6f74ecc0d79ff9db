#pragma once
// _Exch55Info: the directory collector's interface, the only way the main
// program, Export Plus and the scheduled collector reach the Exchange
// directory. Create it with
//   velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info")
// set ErrorLogFileName, call one Get... method per table (or group of
// tables), read the bind-error text, release the object.
//
// Every method appends rows to "velmo.mdb" in the collector's own
// (application) folder and never throws: failures go to the log and, for
// failed binds, to the bind-error text. strRetErrorMsg is optional: pass
// nullptr (the default) when the text is not wanted.
//
// Bind-error text: items "kind@@ <number>  @@   <description>" joined by
// "_"; a list may begin with "_" and hold empty items, which readers skip.
#include <cstdint>
#include <string>

class _Exch55Info {
 public:
  static constexpr const char* IID = "_Exch55Info";
  static constexpr const char* IIDText = "{F39831DA-CA4B-11D7-892D-008048DD5315}";
  static constexpr const char* ClsidText = "{0B33627B-7A47-11D7-88AD-008048DD5315}";
  static constexpr const char* ProgId = "VELMO.Exch55Info";

  virtual ~_Exch55Info() = default;

  // Slot 1: mailbox tables, iInfoType 0 MailboxGeneral, 1 MailboxOrgnPhoneNotes,
  // 2 MailboxPerm, 3 MailboxDLEmailAddr, 4 MailboxDelivRestr,
  // 5 MailboxProtocols, 6 MailboxCustomAttr, 7 MailboxAdvanced. A path that
  // contains "Server Recipients" walks every recipient container of the
  // site and leaves strRetErrorMsg untouched.
  virtual void GetMailboxInfo(int16_t iInfoType, const std::string& strServerName,
                              const std::string& strUserName, const std::string& strPassword,
                              const std::string& strObjectADsPath, std::string* strRetErrorMsg = nullptr) = 0;
  // Slot 2: distribution-list tables, 0 DLGeneral, 1 DLPerm, 2 DLDLEmailAddr,
  // 3 DLDelivRestr, 4 DLCustomAttr, 5 DLAdvanced.
  virtual void GetDLInfo(int16_t iInfoType, const std::string& strServerName, const std::string& strUserName,
                         const std::string& strPassword, const std::string& strObjectADsPath,
                         std::string* strRetErrorMsg = nullptr) = 0;
  // Slot 3: public-folder tables, 0 PFGeneral, 1 PFPerm, 2 PFDLEmailAddr,
  // 3 PFCustomAttr, 4 PFAdvanced; page 0 logs on to the mail system
  // interactively, the profile chooser owned by the window id lWinHwnd
  // (velmo::ui::RegisterWindow).
  virtual void GetPublicFolderInfo(int16_t iInfoType, const std::string& strServerName,
                                   const std::string& strUserName, const std::string& strPassword, long lWinHwnd,
                                   const std::string& strObjectADsPath, std::string* strRetErrorMsg = nullptr) = 0;
  // Slot 4: custom-recipient tables, 0 CRGeneral ... 7 CRAdvanced.
  virtual void GetCustomRecipInfo(int16_t iInfoType, const std::string& strServerName,
                                  const std::string& strUserName, const std::string& strPassword,
                                  const std::string& strObjectADsPath, std::string* strRetErrorMsg = nullptr) = 0;
  // Slot 5: binds the site's recipients container only; writes nothing.
  virtual void GetObjectsInContainer(const std::string& strServerName, const std::string& strUserName,
                                     const std::string& strPassword) = 0;
  // Slot 6: site protocols (ProtocolGeneral, ProtocolAuthFormat,
  // ProtocolMiscInfo, ProtocolPerm with level "Site").
  virtual void GetProtocolInfo(const std::string& strServerName, const std::string& strUserName,
                               const std::string& strPassword, std::string* strRetErrorMsg = nullptr) = 0;
  // Slot 7: private information store (ServerPrivateISGeneral, ServerPrivateISPerm, DiagLogging).
  virtual void GetPrivateISInfo(const std::string& strServerName, const std::string& strUserName,
                                const std::string& strPassword, std::string* strRetErrorMsg = nullptr) = 0;
  // Slot 8: server objects and containers (ServerObjectsInfo,
  // ServerObjectsPerm, ContainerInfo, DiagLogging).
  virtual void GetServerInfo(const std::string& strServerName, const std::string& strUserName,
                             const std::string& strPassword, std::string* strRetErrorMsg = nullptr) = 0;
  // Slot 9: server protocols (the protocol tables with level "Server").
  virtual void GetServerProtocolsInfo(const std::string& strServerName, const std::string& strUserName,
                                      const std::string& strPassword, std::string* strRetErrorMsg = nullptr) = 0;
  // Slot 10: public information store (ServerPublicISGeneral,
  // ServerPublicISPerm, ServerPublicISMiscInfo, DiagLogging).
  virtual void GetPublicISInfo(const std::string& strServerName, const std::string& strUserName,
                               const std::string& strPassword, std::string* strRetErrorMsg = nullptr) = 0;
  // Slot 11: connectors of the site (the Connector tables, DiagLogging).
  virtual void GetConnectorInfo(const std::string& strServerName, const std::string& strUserName,
                                const std::string& strPassword, std::string* strRetErrorMsg = nullptr) = 0;
  // Slot 12: public-folder tables with a logon through the named mail profile.
  virtual void GetPublicFolderInfoUsingProfile(int16_t iInfoType, const std::string& strServerName,
                                               const std::string& strUserName, const std::string& strPassword,
                                               const std::string& strProfileName,
                                               const std::string& strObjectADsPath,
                                               std::string* strRetErrorMsg = nullptr) = 0;
  // Slots 13 and 14: the log file, relative to the collector's folder ("\"
  // separates folders: "Schedule\VelmorcastSchedLog.log"); empty means
  // "VelmorcastErrorLog.log".
  virtual std::string ErrorLogFileName() const = 0;
  virtual void ErrorLogFileName(const std::string& vNewValue) = 0;
};

// What a collector object's calls left undone, asked of the same object
// (QueryInterface) as _Exch55Info. A caller that writes reports from the
// rows asks it once its calls are done: rows of a server lost part-way are
// not the server's whole inventory.
class _Exch55InfoOutcome {
 public:
  static constexpr const char* IID = "_Exch55InfoOutcome";

  virtual ~_Exch55InfoOutcome() = default;

  // True once a call of this object found the server lost (not
  // operational, timed out) or had a wait given up by its caller, so that
  // it, and possibly later calls, collected less than asked; number and
  // description are those of the first such failure. A refusal of one
  // object (no access, no such object) is no such failure.
  virtual bool CollectionCut(int32_t& number, std::string& description) const = 0;

  // Makes the calls that follow one collection of a server that its caller
  // tells as a whole (a scheduled line, an Export Plus run): a call that
  // cannot reach the server at all (not operational, no answer within the
  // bound) cuts it as a server lost part-way does. Its set-up logs why once
  // and shows no message of its own, since the caller tells the cut, and
  // every later call for that server returns at once with that failure.
  // Without it each call tries the server again and a set-up that fails
  // tells the user (a browse window's click, which has a collector of its
  // own).
  virtual void BeginCollection() = 0;
};
