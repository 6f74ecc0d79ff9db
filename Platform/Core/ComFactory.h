#pragma once
// Objects created by ProgID, standing in for in-process COM servers.
//
// A class library is a shared library that exports
//   extern "C" velmo::com::ComObject* VelmoCreateInstance(const char* className);
//   extern "C" int32_t DllRegisterServer();
//   extern "C" int32_t DllUnregisterServer();
// Its DllRegisterServer adds lines "ProgID<TAB>library<TAB>class" to the class
// registry file of the application folder (RegistryFile()); the library is
// written as a file name when it lies in that folder, else as a full path.
// CreateObject finds the ProgID there (without regard to case; a versioned
// ProgID "Lib.Class.1" is accepted for "Lib.Class"), loads the library once
// and asks it for the class. Classes compiled into the calling program can be
// registered in process with RegisterBuiltin.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ComError.h"

namespace velmo::com {

// Base of every object the factory makes. QueryInterface answers the
// interface named by its IID text (each interface declares
// `static constexpr const char* IID`), or nullptr.
class ComObject {
 public:
  virtual ~ComObject() = default;
  virtual void* QueryInterface(std::string_view iid) = 0;
};

inline constexpr int32_t kClassNotRegistered = Hr(0x80040154);
inline constexpr int32_t kNoInterface = Hr(0x80004002);

// The registry file: AppFolder()/"VelmorcastClasses.reg".
std::filesystem::path RegistryFile();

struct Registration {
  std::string progId;
  std::string library;  // as written in the file
  std::string className;
};
std::vector<Registration> ReadRegistry(const std::filesystem::path& file);

// Adds (or replaces) entries for one library; removes them. Used by
// DllRegisterServer and DllUnregisterServer.
bool RegisterClasses(const std::filesystem::path& libraryFile,
                     const std::vector<std::pair<std::string, std::string>>& progIdAndClass);
bool UnregisterLibrary(const std::filesystem::path& libraryFile);
// Why the last RegisterClasses or UnregisterLibrary of this thread failed
// ("" after one that succeeded): a lock another program kept past the
// wait, a lock file or registry file that cannot be used.
std::string LastRegistryFailure();

// The file of the shared library that holds the given address.
std::filesystem::path LibraryOf(const void* addressInLibrary);

// Classes of the calling program, found before the registry file.
void RegisterBuiltin(const std::string& progId, std::function<ComObject*()> make);
void UnregisterBuiltin(const std::string& progId);

// Creates the object; throws ComError(0x80040154, "Class not registered")
// when the ProgID is unknown, and the same followed by ": " and the
// loader's reason when its library cannot be loaded or lacks the class.
std::shared_ptr<ComObject> CreateObjectRaw(const std::string& progId);

// Asks the object for interface I, sharing its ownership; nullptr when it
// has none.
template <class I>
std::shared_ptr<I> QueryInterface(const std::shared_ptr<ComObject>& obj) {
  void* p = obj ? obj->QueryInterface(I::IID) : nullptr;
  return p ? std::shared_ptr<I>(obj, static_cast<I*>(p)) : nullptr;
}

// Creates the object and asks it for interface I; throws ComError
// 0x80004002 "No such interface supported" when it has none.
template <class I>
std::shared_ptr<I> CreateObject(const std::string& progId) {
  auto p = QueryInterface<I>(CreateObjectRaw(progId));
  if (!p) throw ComError(kNoInterface, "No such interface supported");
  return p;
}

}  // namespace velmo::com

// Declares the three exports of a class library. Use once per library:
//   VELMO_COM_LIBRARY({{"VELMO.Exch55Info", "Exch55Info"}},
//                     [](std::string_view cls) -> velmo::com::ComObject* { ... })
#define VELMO_COM_LIBRARY(CLASSES, MAKE)                                                    \
  namespace {                                                                             \
  /* An address inside this library, never interposed by another one. */                \
  const char velmoComLibraryAnchor = 0;                                                   \
  }                                                                                       \
  extern "C" __attribute__((visibility("default"))) velmo::com::ComObject*               \
  VelmoCreateInstance(const char* className) {                                            \
    try {                                                                                 \
      return (MAKE)(std::string_view(className));                                         \
    } catch (...) {                                                                       \
      return nullptr;                                                                     \
    }                                                                                     \
  }                                                                                       \
  extern "C" __attribute__((visibility("default"))) int32_t DllRegisterServer() {        \
    return velmo::com::RegisterClasses(velmo::com::LibraryOf(&velmoComLibraryAnchor), CLASSES) \
               ? 0                                                                        \
               : velmo::Hr(0x80004005);                                                  \
  }                                                                                       \
  extern "C" __attribute__((visibility("default"))) int32_t DllUnregisterServer() {      \
    return velmo::com::UnregisterLibrary(velmo::com::LibraryOf(&velmoComLibraryAnchor))  \
               ? 0                                                                        \
               : velmo::Hr(0x80004005);                                                  \
  }
