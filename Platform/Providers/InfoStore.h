#pragma once
// Information stores over Extended MAPI: the stand-in for MAPIInitialize,
// MAPILogonEx, the session's message-store table, OpenMsgStore, store and
// session log-off, the store management interface (GetMailboxTable,
// GetPublicFolderTable) and HrQueryAllRows / PpropFindProp, with the same
// flags, property tags and result codes.
//
// The installed subsystem is file-backed unless a test installs another
// (SetMapiSubsystem). Its files, in the providers folder (ProviderFolder.h):
//  - "profiles.txt" (Profiles.h): the profiles a logon can use and their
//    home servers;
//  - "stores/<SERVER>.txt", one per server, matched without regard to case:
//      [Server]
//      Organization=Velmor          (optional; when given, a store DN must
//      Site=Lakeside                 name this organisation and site)
//      [Private]
//      one line per mailbox, TAB-separated, in mailbox-table order:
//        display name, NT account (DOMAIN\name), size in bytes, items,
//        last logon, last logoff, e-mail address (the mailbox DN),
//        storage-limit state (1, 2, 4 or 8), associated items
//      [Public]
//      one line per public folder:
//        display name, size in bytes, items, created, last access,
//        owners, contacts, folder path, associated items
//    Times are UTC, "yyyy-mm-dd hh:mm:ss". An empty field means the
//    property is absent from that row. A server without a [Public] section
//    has no public store. A line that cannot be read (a value of the wrong
//    form, a line outside the sections) is logged once with its file and
//    line number (ProviderFolder.h) and left out; the rest of the file is
//    read.
//
// A session logs on with a profile: explicitly by name (flags without
// MAPI_LOGON_UI), or through the profile chooser of the UI seam
// (velmo::ui::Ui().ChooseProfile, owner = the uiParam window id) when the
// name is empty and MAPI_LOGON_UI is set; Cancel gives MAPI_E_USER_CANCEL.
// An unknown profile gives MAPI_E_LOGON_FAILED. The session's store table
// lists the private store of the profile's home server and, when that server
// has one, its public store. Either store's management interface reads the
// mailbox or public-folder table of any server named by its DN
// "/o=ORG/ou=SITE/cn=Configuration/cn=Servers/cn=SERVER"; a server without
// a store file, or without that store, gives MAPI_E_NOT_FOUND.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmo::mapi {

// Results.
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t MAPI_E_CALL_FAILED = static_cast<int32_t>(0x80004005);  // E_FAIL
inline constexpr int32_t E_NOINTERFACE = static_cast<int32_t>(0x80004002);
inline constexpr int32_t MAPI_E_NO_SUPPORT = static_cast<int32_t>(0x80040102);
inline constexpr int32_t MAPI_E_NOT_FOUND = static_cast<int32_t>(0x8004010F);
inline constexpr int32_t MAPI_E_LOGON_FAILED = static_cast<int32_t>(0x80040111);
inline constexpr int32_t MAPI_E_USER_CANCEL = static_cast<int32_t>(0x80040113);
inline constexpr int32_t MAPI_E_NETWORK_ERROR = static_cast<int32_t>(0x80040115);
inline constexpr int32_t MAPI_E_CORRUPT_DATA = static_cast<int32_t>(0x8004011B);
inline constexpr int32_t MAPI_E_NOT_INITIALIZED = static_cast<int32_t>(0x80040605);
inline constexpr int32_t MAPI_E_INVALID_PARAMETER = static_cast<int32_t>(0x80070057);

// Flags.
inline constexpr uint32_t MAPI_LOGON_UI = 0x00000001;
inline constexpr uint32_t MAPI_NEW_SESSION = 0x00000002;
inline constexpr uint32_t MAPI_EXPLICIT_PROFILE = 0x00000010;
inline constexpr uint32_t MAPI_NT_SERVICE = 0x00010000;
inline constexpr uint32_t MAPI_BEST_ACCESS = 0x00000010;
inline constexpr uint32_t LOGOFF_PURGE = 0x00000004;
inline constexpr uint32_t RELOP_EQ = 4;

// Property types and tags.
inline constexpr uint32_t PT_LONG = 0x0003;
inline constexpr uint32_t PT_ERROR = 0x000A;
inline constexpr uint32_t PT_I8 = 0x0014;
inline constexpr uint32_t PT_STRING8 = 0x001E;
inline constexpr uint32_t PT_SYSTIME = 0x0040;
inline constexpr uint32_t PT_BINARY = 0x0102;
constexpr uint32_t PROP_TYPE(uint32_t tag) { return tag & 0xFFFF; }
constexpr uint32_t PROP_ID(uint32_t tag) { return tag >> 16; }
constexpr uint32_t CHANGE_PROP_TYPE(uint32_t tag, uint32_t type) { return (tag & 0xFFFF0000) | type; }

inline constexpr uint32_t PR_ENTRYID = 0x0FFF0102;
inline constexpr uint32_t PR_MDB_PROVIDER = 0x34140102;
inline constexpr uint32_t PR_DISPLAY_NAME = 0x3001001E;
inline constexpr uint32_t PR_EMAIL_ADDRESS = 0x3003001E;
inline constexpr uint32_t PR_CREATION_TIME = 0x30070040;
inline constexpr uint32_t PR_MESSAGE_SIZE = 0x0E080003;           // low 32 bits of the size
inline constexpr uint32_t PR_MESSAGE_SIZE_EXTENDED = 0x0E080014;  // the whole 64-bit size
inline constexpr uint32_t PR_CONTENT_COUNT = 0x36020003;
inline constexpr uint32_t PR_ASSOC_CONTENT_COUNT = 0x36170003;
inline constexpr uint32_t PR_NT_USER_NAME = 0x66A0001E;
inline constexpr uint32_t PR_LAST_LOGON_TIME = 0x66A20040;
inline constexpr uint32_t PR_LAST_LOGOFF_TIME = 0x66A30040;
inline constexpr uint32_t PR_STORAGE_LIMIT_INFORMATION = 0x66A40003;
inline constexpr uint32_t PR_LAST_ACCESS_TIME = 0x66A90040;
inline constexpr uint32_t PR_FOLDER_PATHNAME = 0x66B5001E;
inline constexpr uint32_t PR_OWNER_COUNT = 0x66B60003;
inline constexpr uint32_t PR_CONTACT_COUNT = 0x66B70003;

// 16-byte identifiers, byte for byte as the store interfaces define them.
using Guid = std::array<uint8_t, 16>;
inline constexpr Guid pbExchangeProviderPrimaryUserGuid = {0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B,
                                                           0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17};
inline constexpr Guid pbExchangeProviderPublicGuid = {0x78, 0xB2, 0xFA, 0x70, 0xAF, 0xF7, 0x11, 0xCD,
                                                      0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A};
inline constexpr Guid IID_IExchangeManageStore = {0xB0, 0x10, 0x9D, 0x55, 0x72, 0xA7, 0xCD, 0x11,
                                                  0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A};

// A property value; the member that holds it follows the tag's type
// (PT_ERROR: err holds the reason, MAPI_E_NOT_FOUND for an absent one).
struct SPropValue {
  uint32_t ulPropTag = 0;
  int32_t l = 0;                 // PT_LONG
  int64_t li = 0;                // PT_I8
  uint64_t ft = 0;               // PT_SYSTIME: 100 ns units since 1601-01-01 UTC
  std::string lpszA;             // PT_STRING8 (UTF-8)
  std::vector<uint8_t> bin;      // PT_BINARY
  int32_t err = 0;               // PT_ERROR
};
using SRow = std::vector<SPropValue>;

// The value of that exact tag in a row, or nullptr.
const SPropValue* PpropFindProp(const SRow& row, uint32_t tag);

// Property equality restriction (the only kind the stand-in evaluates).
struct SPropertyRestriction {
  uint32_t relop = RELOP_EQ;
  uint32_t ulPropTag = 0;
  SPropValue prop;
};

class IMAPITable {
 public:
  virtual ~IMAPITable() = default;
  // HrQueryAllRows: every row (restricted when a restriction is given),
  // each holding the requested columns in order; an absent property is
  // a PT_ERROR value at its position.
  virtual int32_t QueryAllRows(const std::vector<uint32_t>& columns, const SPropertyRestriction* restriction,
                               std::vector<SRow>& rows) = 0;
};

class IExchangeManageStore {
 public:
  virtual ~IExchangeManageStore() = default;
  virtual int32_t GetMailboxTable(const std::string& serverDn, std::unique_ptr<IMAPITable>& table,
                                  uint32_t flags) = 0;
  virtual int32_t GetPublicFolderTable(const std::string& serverDn, std::unique_ptr<IMAPITable>& table,
                                       uint32_t flags) = 0;
};

class IMsgStore {
 public:
  virtual ~IMsgStore() = default;
  // IID_IExchangeManageStore, or E_NOINTERFACE.
  virtual int32_t QueryInterface(const Guid& iid, std::unique_ptr<IExchangeManageStore>& out) = 0;
  virtual int32_t StoreLogoff(uint32_t flags) = 0;
};

class IMAPISession {
 public:
  virtual ~IMAPISession() = default;
  // Rows with PR_ENTRYID, PR_MDB_PROVIDER and PR_DISPLAY_NAME.
  virtual int32_t GetMsgStoresTable(uint32_t flags, std::unique_ptr<IMAPITable>& table) = 0;
  virtual int32_t OpenMsgStore(long uiParam, const std::vector<uint8_t>& entryId, uint32_t flags,
                               std::unique_ptr<IMsgStore>& store) = 0;
  virtual int32_t Logoff(long uiParam, uint32_t flags) = 0;
};

// The messaging subsystem behind the free functions below.
class MapiSubsystem {
 public:
  virtual ~MapiSubsystem() = default;
  virtual int32_t Initialize(uint32_t flags) = 0;
  virtual void Uninitialize() = 0;
  virtual int32_t LogonEx(long uiParam, const std::string& profileName, const std::string& password,
                          uint32_t flags, std::unique_ptr<IMAPISession>& session) = 0;
};

int32_t MAPIInitialize(uint32_t flags);
void MAPIUninitialize();
// Logs on; MAPI_E_NOT_INITIALIZED before MAPIInitialize.
int32_t MAPILogonEx(long uiParam, const std::string& profileName, const std::string& password, uint32_t flags,
                    std::unique_ptr<IMAPISession>& session);

// Installs a subsystem (tests); nullptr reinstalls the file-backed one.
// Returns the previous one.
std::shared_ptr<MapiSubsystem> SetMapiSubsystem(std::shared_ptr<MapiSubsystem> subsystem);

// What the file-backed subsystem holds open right now: initialisations not
// yet undone, sessions not logged off, and live stores, management
// interfaces and tables. Callers check with it that they release all.
struct OpenCounts {
  int initialized = 0;
  int sessions = 0;
  int stores = 0;
  int tables = 0;
};
OpenCounts FileMapiOpenCounts();

// File times: "yyyy-mm-dd hh:mm:ss" (UTC) to 100 ns units since 1601, and
// such a count to seconds since 1970.
bool ParseFileTime(const std::string& text, uint64_t& fileTime);
int64_t FileTimeToUnixSeconds(uint64_t fileTime);

}  // namespace velmo::mapi
