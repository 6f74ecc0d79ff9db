#pragma once
// CDO 1.x and the Exchange ACL object, as far as public-folder permissions
// need them: a mail session ("MAPI.Session") that logs on with a mail
// profile, finds the public store and its top-level folders and turns
// address-entry ids into names, and the ACL object ("MSExchange.aclobject")
// that lists a folder's permission entries.
//
// Both are created by ProgID through the object factory once RegisterCdo
// ran (letter case does not matter):
//   auto session = velmo::com::CreateObject<velmo::cdo::ISession>("MAPI.Session");
//   auto acl = velmo::com::CreateObject<velmo::cdo::IAclObject>("MSExchange.aclobject");
// They read the mail profiles and the public-store snapshots of the
// information-store provider (InfoStore.h). When no information-store
// backend is configured (no profiles), creating either object fails with
// 0x80040154 "Class not registered", as on a machine without CDO.
//
// Failures are thrown as velmo::ComError with MAPI's numbers.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ComError.h"
#include "ComFactory.h"

namespace velmo::cdo {

inline constexpr int32_t MAPI_E_NOT_FOUND = Hr(0x8004010F);
inline constexpr int32_t MAPI_E_LOGON_FAILED = Hr(0x80040111);
inline constexpr int32_t MAPI_E_USER_CANCEL = Hr(0x80040113);
inline constexpr int32_t MAPI_E_NOT_INITIALIZED = Hr(0x80040605);
inline constexpr int32_t CDO_E_NOT_LOGGED_ON = MAPI_E_NOT_INITIALIZED;

// The MAPI property tag of the public-folder root's entry id, read from an
// information store's Fields.
inline constexpr long PR_IPM_PUBLIC_FOLDERS_ENTRYID = 0x66310102;

class Folders;

class Folder {
 public:
  virtual ~Folder() = default;
  virtual std::string Name() const = 0;
  virtual std::string ID() const = 0;
  // The folder's subfolders (for the root: the top-level public folders).
  virtual std::shared_ptr<Folders> GetFolders() = 0;
};
using FolderPtr = std::shared_ptr<Folder>;

// A folder collection: Item takes an index from 1 or a folder name
// (compared without regard to case, as MAPI does); an unknown one throws
// MAPI_E_NOT_FOUND.
class Folders {
 public:
  virtual ~Folders() = default;
  virtual long Count() const = 0;
  virtual FolderPtr Item(long index) = 0;
  virtual FolderPtr Item(const std::string& name) = 0;
};

class InfoStore {
 public:
  virtual ~InfoStore() = default;
  virtual std::string Name() const = 0;
  virtual std::string ID() const = 0;
  // A field by property tag, as text; an unknown tag throws MAPI_E_NOT_FOUND.
  virtual std::string Fields(long propertyTag) = 0;
};
using InfoStorePtr = std::shared_ptr<InfoStore>;

class InfoStores {
 public:
  virtual ~InfoStores() = default;
  virtual long Count() const = 0;
  virtual InfoStorePtr Item(long index) = 0;  // from 1
};

class AddressEntry {
 public:
  virtual ~AddressEntry() = default;
  virtual std::string Name() const = 0;
  virtual std::string ID() const = 0;
};

class ISession {
 public:
  static constexpr const char* IID = "CDO.Session";
  virtual ~ISession() = default;
  // Logon(ProfileName, ProfilePassword, ShowDialog, NewSession, ParentWindow)
  // with CDO's optional arguments. ShowDialog (default true) lets the user
  // choose a profile through the UI seam's profile chooser, owned by the
  // window id ParentWindow; Cancel throws MAPI_E_USER_CANCEL. Without the
  // dialog the named profile is used; an unknown or empty name throws
  // MAPI_E_LOGON_FAILED.
  virtual void Logon(const std::optional<std::string>& profileName, const std::optional<std::string>& profilePassword,
                     std::optional<bool> showDialog, std::optional<bool> newSession,
                     std::optional<long> parentWindow) = 0;
  // The session's information stores: the public store first (Item(1)).
  virtual std::shared_ptr<InfoStores> GetInfoStores() = 0;
  virtual FolderPtr GetFolder(const std::string& folderId, const std::string& storeId) = 0;
  virtual std::shared_ptr<AddressEntry> GetAddressEntry(const std::string& entryId) = 0;
  virtual void Logoff() = 0;
  // The profile the session logged on with ("" before Logon).
  virtual std::string ProfileName() const = 0;
};

// One permission entry: ID is "ID_ACL_DEFAULT", "ID_ACL_ANONYMOUS" or an
// address-entry id; Rights the MAPI rights bits.
class ACE {
 public:
  virtual ~ACE() = default;
  virtual std::string ID() const = 0;
  virtual long Rights() const = 0;
};

class ACEs {
 public:
  virtual ~ACEs() = default;
  virtual long Count() const = 0;
  virtual std::shared_ptr<ACE> Item(long index) = 0;  // from 1
};

class IAclObject {
 public:
  static constexpr const char* IID = "MSExchange.ACLObject";
  virtual ~IAclObject() = default;
  // The folder whose permissions are to be read.
  virtual void CDOItem(const FolderPtr& folder) = 0;
  // Its permission entries; throws when no folder was set. A line of the
  // permissions file that cannot be read is logged and left out.
  virtual std::shared_ptr<ACEs> GetACEs() = 0;
};

// Both classes are registered in the application folder's class registry
// with the providers library (ProviderClasses.cpp). RegisterCdo registers
// them in process as well (again: harmless), for callers without the
// registry.
void RegisterCdo();
// New objects; nullptr when no information-store backend is configured
// (creation then fails as "Class not registered").
com::ComObject* NewSession();
com::ComObject* NewAclObject();

}  // namespace velmo::cdo
