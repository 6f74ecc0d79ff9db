// "MAPI.Session" and "MSExchange.aclobject" over the information-store
// provider's files:
//  - the profiles ("profiles.txt", Profiles.h) name the home server a
//    session logs on to;
//  - the home server's store file ("stores/<SERVER>.txt", InfoStore.h)
//    gives the public store (its [Public] section; the top-level folders
//    are the lines whose folder path has one component) and, through the
//    [Private] sections of every store file, the names of address entries
//    (an address-entry id is a mailbox's e-mail address field, its DN);
//  - "publicacl/<SERVER>.txt" holds the permission entries of the public
//    store's top-level folders, one per line:
//      folder name <TAB> member id <TAB> rights
//    member id: ID_ACL_DEFAULT, ID_ACL_ANONYMOUS or an address-entry id;
//    rights: decimal or 0x-hexadecimal. A line that is not of this form is
//    logged once with its file and line number (ProviderFolder.h) and left
//    out; the folder keeps its other entries.
#include "Cdo.h"

#include <filesystem>

#include "ComFactory.h"
#include "Profiles.h"
#include "ProviderFolder.h"
#include "Ui.h"

namespace velmo::cdo {
namespace {

using providers::EqualsNoCase;

using Sections = std::vector<providers::Section>;

// A store file's sections as the file is now; nullptr when there is none.
// The information-store provider reads (and logs) the rows themselves.
std::shared_ptr<const Sections> StoreSections(const std::string& name) {
  static providers::ProviderCache<Sections> cache("Public folders");
  if (name.empty() || name.find_first_of("/\\") != std::string::npos) return nullptr;
  return cache.Get("stores/" + name, [](const providers::ProviderText& text) {
    return providers::ParseSections(text.bytes, &text.bad);
  });
}

std::shared_ptr<const Sections> StoreFile(const std::string& server) { return StoreSections(server + ".txt"); }

struct AclLine {
  std::string folder, member;
  long rights = 0;
};

// "folder <TAB> member <TAB> rights" lines; a line of another form is
// logged and left out.
std::vector<AclLine> ParseAcl(const providers::ProviderText& text) {
  std::vector<AclLine> out;
  for (const auto& r : providers::ParseRecords(text.bytes, &text.bad)) {
    auto rights = providers::ParseNumber(r.Field(2));
    if (r.fields.size() != 3 || r.Field(0).empty() || r.Field(1).empty())
      text.bad.Report(r.line, "a line holds a folder name, a member and the rights, separated by TAB");
    else if (!rights || *rights > 0xFFFFFFFFull)
      text.bad.Report(r.line, "the rights '" + r.Field(2) + "' are not a number");
    else
      out.push_back({r.Field(0), r.Field(1), static_cast<long>(*rights)});
  }
  return out;
}

std::string TrimSlashes(std::string s) {
  while (!s.empty() && (s.front() == '\\' || s.front() == '/')) s.erase(s.begin());
  while (!s.empty() && s.back() == '\\') s.pop_back();
  return s;
}

class FolderImpl;

class FoldersImpl : public Folders {
 public:
  explicit FoldersImpl(std::vector<FolderPtr> items) : items_(std::move(items)) {}
  long Count() const override { return static_cast<long>(items_.size()); }
  FolderPtr Item(long index) override {
    if (index < 1 || index > Count()) throw ComError(MAPI_E_NOT_FOUND, "The folder was not found.");
    return items_[index - 1];
  }
  FolderPtr Item(const std::string& name) override {
    for (const auto& f : items_)
      if (EqualsNoCase(f->Name(), name)) return f;
    throw ComError(MAPI_E_NOT_FOUND, "The folder was not found.");
  }

 private:
  std::vector<FolderPtr> items_;
};

class FolderImpl : public Folder {
 public:
  FolderImpl(std::string server, std::string name, std::string id, std::vector<FolderPtr> children)
      : server_(std::move(server)), name_(std::move(name)), id_(std::move(id)), children_(std::move(children)) {}
  std::string Name() const override { return name_; }
  std::string ID() const override { return id_; }
  std::shared_ptr<Folders> GetFolders() override { return std::make_shared<FoldersImpl>(children_); }
  const std::string& Server() const { return server_; }

 private:
  std::string server_, name_, id_;
  std::vector<FolderPtr> children_;
};

// The top-level folders of a server's public store, in file order.
std::vector<FolderPtr> TopLevelFolders(const std::string& server) {
  std::vector<FolderPtr> out;
  auto sections = StoreFile(server);
  if (!sections) return out;
  const providers::Section* pub = providers::FindSection(*sections, "Public");
  if (!pub) return out;
  for (const auto& r : pub->records) {
    const std::string name = r.Field(0);
    std::string path = TrimSlashes(r.Field(7));
    if (path.empty()) path = name;
    if (path.find('\\') != std::string::npos) continue;
    out.push_back(std::make_shared<FolderImpl>(server, name, "folder:" + server + ":" + name,
                                               std::vector<FolderPtr>{}));
  }
  return out;
}

bool HasPublicStore(const std::string& server) {
  auto sections = StoreFile(server);
  return sections && providers::FindSection(*sections, "Public");
}

class InfoStoreImpl : public InfoStore {
 public:
  InfoStoreImpl(std::string server, bool isPublic) : server_(std::move(server)), public_(isPublic) {}
  std::string Name() const override {
    return public_ ? "Public Folders" : "Mailbox - " + server_;
  }
  std::string ID() const override { return std::string(public_ ? "public:" : "private:") + server_; }
  std::string Fields(long tag) override {
    if (public_ && tag == PR_IPM_PUBLIC_FOLDERS_ENTRYID) return "root:" + server_;
    throw ComError(MAPI_E_NOT_FOUND, "The property was not found.");
  }

 private:
  std::string server_;
  bool public_;
};

class InfoStoresImpl : public InfoStores {
 public:
  explicit InfoStoresImpl(std::vector<InfoStorePtr> items) : items_(std::move(items)) {}
  long Count() const override { return static_cast<long>(items_.size()); }
  InfoStorePtr Item(long index) override {
    if (index < 1 || index > Count()) throw ComError(MAPI_E_NOT_FOUND, "The information store was not found.");
    return items_[index - 1];
  }

 private:
  std::vector<InfoStorePtr> items_;
};

class AddressEntryImpl : public AddressEntry {
 public:
  AddressEntryImpl(std::string id, std::string name) : id_(std::move(id)), name_(std::move(name)) {}
  std::string Name() const override { return name_; }
  std::string ID() const override { return id_; }

 private:
  std::string id_, name_;
};

bool BackendConfigured() { return !mapi::ReadProfiles().empty(); }

class Session : public com::ComObject, public ISession {
 public:
  void* QueryInterface(std::string_view iid) override {
    return iid == ISession::IID ? static_cast<ISession*>(this) : nullptr;
  }

  void Logon(const std::optional<std::string>& profileName, const std::optional<std::string>&,
             std::optional<bool> showDialog, std::optional<bool>, std::optional<long> parentWindow) override {
    const auto profiles = mapi::ReadProfiles();
    std::string chosen = profileName.value_or("");
    if (showDialog.value_or(true)) {
      // The same chooser the store-resource readers show.
      std::vector<std::string> names;
      for (const auto& p : profiles) names.push_back(p.name);
      std::string picked = chosen;
      if (!ui::Ui().ChooseProfile(names, parentWindow.value_or(0), picked))
        throw ComError(MAPI_E_USER_CANCEL, "The user canceled the logon.");
      chosen = picked;
    }
    auto profile = mapi::FindProfile(chosen);
    if (!profile)
      throw ComError(MAPI_E_LOGON_FAILED, "The information store could not be opened. [MAPI_E_LOGON_FAILED(80040111)]");
    profile_ = profile->name;
    server_ = profile->homeServer;
    loggedOn_ = true;
  }

  std::shared_ptr<InfoStores> GetInfoStores() override {
    RequireLogon();
    std::vector<InfoStorePtr> stores;
    if (StoreFile(server_)) {
      if (HasPublicStore(server_)) stores.push_back(std::make_shared<InfoStoreImpl>(server_, true));
      stores.push_back(std::make_shared<InfoStoreImpl>(server_, false));
    }
    return std::make_shared<InfoStoresImpl>(std::move(stores));
  }

  FolderPtr GetFolder(const std::string& folderId, const std::string&) override {
    RequireLogon();
    if (folderId.rfind("root:", 0) == 0) {
      const std::string server = folderId.substr(5);
      return std::make_shared<FolderImpl>(server, "IPM_SUBTREE", folderId, TopLevelFolders(server));
    }
    if (folderId.rfind("folder:", 0) == 0) {
      const std::string rest = folderId.substr(7);
      const size_t colon = rest.find(':');
      if (colon != std::string::npos) {
        const std::string server = rest.substr(0, colon);
        for (const auto& f : TopLevelFolders(server))
          if (f->ID() == folderId) return f;
      }
    }
    throw ComError(MAPI_E_NOT_FOUND, "The folder was not found.");
  }

  std::shared_ptr<AddressEntry> GetAddressEntry(const std::string& entryId) override {
    RequireLogon();
    std::error_code ec;
    auto storesDir = providers::FindProviderFile("stores");
    if (storesDir && std::filesystem::is_directory(*storesDir, ec)) {
      for (const auto& item : std::filesystem::directory_iterator(*storesDir, ec)) {
        auto sections = StoreSections(item.path().filename().string());
        if (!sections) continue;
        const providers::Section* priv = providers::FindSection(*sections, "Private");
        if (!priv) continue;
        for (const auto& r : priv->records)
          if (!r.Field(6).empty() && EqualsNoCase(r.Field(6), entryId))
            return std::make_shared<AddressEntryImpl>(entryId, r.Field(0));
      }
    }
    throw ComError(MAPI_E_NOT_FOUND, "The address entry was not found.");
  }

  void Logoff() override {
    loggedOn_ = false;
    profile_.clear();
    server_.clear();
  }

  std::string ProfileName() const override { return profile_; }

 private:
  void RequireLogon() const {
    if (!loggedOn_) throw ComError(CDO_E_NOT_LOGGED_ON, "The session is not logged on.");
  }
  bool loggedOn_ = false;
  std::string profile_, server_;
};

class ACEImpl : public ACE {
 public:
  ACEImpl(std::string id, long rights) : id_(std::move(id)), rights_(rights) {}
  std::string ID() const override { return id_; }
  long Rights() const override { return rights_; }

 private:
  std::string id_;
  long rights_;
};

class ACEsImpl : public ACEs {
 public:
  explicit ACEsImpl(std::vector<std::shared_ptr<ACE>> items) : items_(std::move(items)) {}
  long Count() const override { return static_cast<long>(items_.size()); }
  std::shared_ptr<ACE> Item(long index) override {
    if (index < 1 || index > Count()) throw ComError(MAPI_E_NOT_FOUND, "The permission entry was not found.");
    return items_[index - 1];
  }

 private:
  std::vector<std::shared_ptr<ACE>> items_;
};

class AclObject : public com::ComObject, public IAclObject {
 public:
  void* QueryInterface(std::string_view iid) override {
    return iid == IAclObject::IID ? static_cast<IAclObject*>(this) : nullptr;
  }

  void CDOItem(const FolderPtr& folder) override {
    auto impl = std::dynamic_pointer_cast<FolderImpl>(folder);
    if (!impl) throw ComError(Hr(0x80070057), "The parameter is incorrect.");
    folder_ = impl;
  }

  std::shared_ptr<ACEs> GetACEs() override {
    if (!folder_) throw ComError(MAPI_E_NOT_INITIALIZED, "No folder was given.");
    static providers::ProviderCache<std::vector<AclLine>> cache("Public folder permissions");
    std::vector<std::shared_ptr<ACE>> entries;
    const std::string& server = folder_->Server();
    if (!server.empty() && server.find_first_of("/\\") == std::string::npos) {
      if (auto lines = cache.Get("publicacl/" + server + ".txt", ParseAcl))
        for (const auto& l : *lines)
          if (EqualsNoCase(l.folder, folder_->Name())) entries.push_back(std::make_shared<ACEImpl>(l.member, l.rights));
    }
    return std::make_shared<ACEsImpl>(std::move(entries));
  }

 private:
  std::shared_ptr<FolderImpl> folder_;
};

}  // namespace

com::ComObject* NewSession() { return BackendConfigured() ? new Session() : nullptr; }
com::ComObject* NewAclObject() { return BackendConfigured() ? new AclObject() : nullptr; }

void RegisterCdo() {
  // Without an information-store backend there is no mail client: creating
  // either object fails as "Class not registered".
  com::RegisterBuiltin("MAPI.Session", []() -> com::ComObject* {
    return BackendConfigured() ? new Session() : nullptr;
  });
  com::RegisterBuiltin("MSExchange.aclobject", []() -> com::ComObject* {
    return BackendConfigured() ? new AclObject() : nullptr;
  });
}
}  // namespace velmo::cdo
