#include "ComFactory.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "AppFolder.h"
#include "InstanceLock.h"
#include "TextParts.h"

namespace velmo::com {

namespace {

// Why this thread's last write of the class registry failed.
thread_local std::string tRegistryFailure;

// "VELMORCCom.Exch55.1" -> "velmorccom.exch55": a trailing numeric component
// is a version.
std::string BaseProgId(const std::string& progId) {
  std::string p = text::LowerAscii(progId);
  auto dot = p.rfind('.');
  if (dot != std::string::npos && dot + 1 < p.size() &&
      std::all_of(p.begin() + dot + 1, p.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
      std::count(p.begin(), p.end(), '.') >= 2)
    p.erase(dot);
  return p;
}

std::mutex gMutex;
std::map<std::string, std::function<ComObject*()>>& Builtins() {
  static std::map<std::string, std::function<ComObject*()>> m;
  return m;
}
std::map<std::string, void*>& Loaded() {
  static std::map<std::string, void*> m;
  return m;
}

// The registry file as last read, kept while the file is unchanged: a
// collection creates an object per directory object, and reading and
// parsing the file each time cost more than the object. Each creation
// still looks at the file once (stat), so a registration or removal by
// any process is seen by the next creation.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  int64_t modified = 0;  // ns
  int64_t changed = 0;   // ns
  bool operator==(const FileIdentity&) const = default;
};

struct RegistryCache {
  std::filesystem::path file;
  FileIdentity identity;
  std::shared_ptr<const std::vector<Registration>> regs;
};

std::shared_ptr<const std::vector<Registration>> CurrentRegistry(const std::filesystem::path& file) {
  static std::mutex mutex;
  static RegistryCache cache;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    std::lock_guard g(mutex);
    cache = {};
    return std::make_shared<const std::vector<Registration>>();
  }
  FileIdentity now{st.st_dev,
                   st.st_ino,
                   st.st_size,
                   static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                   static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
  {
    std::lock_guard g(mutex);
    if (cache.regs && cache.file == file && cache.identity == now) return cache.regs;
  }
  auto regs = std::make_shared<const std::vector<Registration>>(ReadRegistry(file));
  // A file changed within the file system's timestamp granularity of the
  // read could change again unseen by its stamp: such a recent file is read
  // afresh each time until it has been quiet for a while.
  const auto age = std::chrono::system_clock::now().time_since_epoch() - std::chrono::nanoseconds(now.changed);
  std::lock_guard g(mutex);
  if (age > std::chrono::seconds(2))
    cache = {file, now, regs};
  else
    cache = {};
  return regs;
}

bool WriteRegistry(const std::filesystem::path& file, const std::vector<Registration>& regs, std::string& why) {
  auto tmp = file;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    if (out) {
      out << "# ProgID\tlibrary\tclass\n";
      for (auto& r : regs) out << r.progId << '\t' << r.library << '\t' << r.className << '\n';
      out.flush();
    }
    if (!out) {
      why = "Cannot write \"" + tmp.string() + "\": " + std::strerror(errno);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, file, ec);
  if (ec) why = "Cannot write \"" + file.string() + "\": " + ec.message();
  return !ec;
}

std::string LibraryText(const std::filesystem::path& libraryFile) {
  std::error_code ec;
  auto lib = std::filesystem::weakly_canonical(libraryFile, ec);
  auto folder = std::filesystem::weakly_canonical(AppFolder(), ec);
  if (lib.parent_path() == folder) return lib.filename().string();
  return lib.string();
}

// Serialises writers of the registry file across processes: waits up to
// 10 s for a lock another writer holds; a lock file that cannot be used
// fails at once. why says what kept the lock from being taken.
struct RegistryWriteLock {
  FileLock lock;
  std::string why;
  RegistryWriteLock() {
    const std::string file = RegistryFile().string() + ".lock";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      std::error_code error;
      const FileLock::Outcome outcome = lock.Try(file, FileLock::Mode::Exclusive, error);
      if (outcome == FileLock::Outcome::Taken) return;
      if (outcome == FileLock::Outcome::Failed) {
        why = "Cannot lock \"" + file + "\": " + error.message();
        return;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        why = "\"" + file + "\" stayed locked by another program for 10 s";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
};

}  // namespace

std::string LastRegistryFailure() { return tRegistryFailure; }

std::filesystem::path RegistryFile() { return AppFolder() / "VelmorcastClasses.reg"; }

std::vector<Registration> ReadRegistry(const std::filesystem::path& file) {
  std::vector<Registration> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    Registration r;
    if (std::getline(ls, r.progId, '\t') && std::getline(ls, r.library, '\t') && std::getline(ls, r.className))
      out.push_back(r);
  }
  return out;
}

bool RegisterClasses(const std::filesystem::path& libraryFile,
                     const std::vector<std::pair<std::string, std::string>>& classes) {
  tRegistryFailure.clear();
  RegistryWriteLock guard;
  if (!guard.lock.Held()) {
    tRegistryFailure = guard.why;
    return false;
  }
  auto file = RegistryFile();
  auto regs = ReadRegistry(file);
  for (auto& [progId, cls] : classes) {
    regs.erase(std::remove_if(regs.begin(), regs.end(),
                              [&](const Registration& r) { return text::EqualNoCase(r.progId, progId); }),
               regs.end());
    regs.push_back({progId, LibraryText(libraryFile), cls});
  }
  return WriteRegistry(file, regs, tRegistryFailure);
}

bool UnregisterLibrary(const std::filesystem::path& libraryFile) {
  tRegistryFailure.clear();
  RegistryWriteLock guard;
  if (!guard.lock.Held()) {
    tRegistryFailure = guard.why;
    return false;
  }
  auto file = RegistryFile();
  auto regs = ReadRegistry(file);
  auto text = LibraryText(libraryFile);
  regs.erase(std::remove_if(regs.begin(), regs.end(), [&](const Registration& r) { return r.library == text; }),
             regs.end());
  return WriteRegistry(file, regs, tRegistryFailure);
}

std::filesystem::path LibraryOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) && info.dli_fname) return std::filesystem::absolute(info.dli_fname);
  return {};
}

void RegisterBuiltin(const std::string& progId, std::function<ComObject*()> make) {
  std::lock_guard g(gMutex);
  Builtins()[BaseProgId(progId)] = std::move(make);
}

void UnregisterBuiltin(const std::string& progId) {
  std::lock_guard g(gMutex);
  Builtins().erase(BaseProgId(progId));
}

std::shared_ptr<ComObject> CreateObjectRaw(const std::string& progId) {
  const std::string key = BaseProgId(progId);
  std::function<ComObject*()> builtin;
  {
    std::lock_guard g(gMutex);
    auto it = Builtins().find(key);
    if (it != Builtins().end()) builtin = it->second;
  }
  if (builtin) {
    ComObject* o = builtin();
    if (!o) throw ComError(kClassNotRegistered, "Class not registered");
    return std::shared_ptr<ComObject>(o);
  }

  auto file = RegistryFile();
  const auto regs = CurrentRegistry(file);
  // Why a registered class could not be made: the loader's reason.
  std::string why;
  for (const auto& r : *regs) {
    if (BaseProgId(r.progId) != key) continue;
    std::filesystem::path lib(r.library);
    if (lib.is_relative()) lib = file.parent_path() / lib;
    void* handle = nullptr;
    {
      std::lock_guard g(gMutex);
      auto it = Loaded().find(lib.string());
      if (it != Loaded().end()) handle = it->second;
    }
    if (!handle) {
      // Loaded without holding the lock: a library's static initialisers may
      // register built-in classes of their own. Libraries stay loaded for the
      // life of the process, as in-process servers do while their objects
      // may live; dlopen counts repeated loads itself.
      handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_GLOBAL);
      if (!handle) {
        const char* error = dlerror();
        why = error ? error : lib.string() + ": cannot be loaded";
        break;
      }
      std::lock_guard g(gMutex);
      Loaded().emplace(lib.string(), handle);
    }
    using Make = ComObject* (*)(const char*);
    dlerror();
    auto make = reinterpret_cast<Make>(dlsym(handle, "VelmoCreateInstance"));
    if (!make) {
      const char* error = dlerror();
      why = error ? error : lib.string() + ": no VelmoCreateInstance";
      break;
    }
    ComObject* o = make(r.className.c_str());
    if (!o) {
      why = lib.string() + " has no class \"" + r.className + "\"";
      break;
    }
    return std::shared_ptr<ComObject>(o);
  }
  throw ComError(kClassNotRegistered, why.empty() ? "Class not registered" : "Class not registered: " + why);
}

}  // namespace velmo::com
