// libFuzzer target: any bytes as a server's registry export. The snapshot
// is connected to and walked as the collector walks it: every key opened,
// every subkey and value enumerated and every value read, with buffers too
// small and large enough. Beyond not crashing: what a read hands out fits
// the buffer, an enumeration ends with ERROR_NO_MORE_ITEMS, and every
// handle opened is closed.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzFolder.h"
#include "RemoteRegistry.h"

using namespace velmo::reg;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void ReadValues(HKEY key) {
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD chars = sizeof name, type = 0, size = 0;
    LONG rc = RegEnumValueA(key, i, name, &chars, nullptr, &type, nullptr, &size);
    if (rc == ERROR_NO_MORE_ITEMS) return;
    if (rc == ERROR_MORE_DATA) continue;  // a name longer than the buffer
    Check(rc == ERROR_SUCCESS && chars < sizeof name && name[chars] == '\0');
    if (std::strlen(name) != chars) continue;  // a NUL inside the name: not found by it
    std::vector<BYTE> data(size + 1, 0xEE);
    DWORD cb = size;
    Check(RegQueryValueExA(key, name, nullptr, &type, data.data(), &cb) == ERROR_SUCCESS && cb == size);
    Check(data[size] == 0xEE);
    if (size > 0) {
      cb = size - 1;
      Check(RegQueryValueExA(key, name, nullptr, &type, data.data(), &cb) == ERROR_MORE_DATA && cb == size);
    }
    DWORD d;
    std::uint64_t q;
    std::string s;
    std::vector<std::string> m;
    std::vector<BYTE> b;
    QueryDword(key, name, d);
    QueryQword(key, name, q);
    QueryString(key, name, s);
    QueryMultiString(key, name, m);
    QueryBinary(key, name, b);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static velmo::fuzz::FuzzFolder folder;
  const auto file = folder.Write("registry/FUZZ.reg", data, size);
  std::string error;
  ValidateSnapshot(file, &error);

  const std::size_t before = OpenHandleCount();
  HKEY root = nullptr;
  if (RegConnectRegistryA("fuzz", HKEY_LOCAL_MACHINE, &root) == ERROR_SUCCESS) {
    // Breadth first, a bounded number of keys: no recursion on the depth.
    std::deque<HKEY> open{root};
    int walked = 0;
    while (!open.empty()) {
      HKEY key = open.front();
      open.pop_front();
      ReadValues(key);
      for (DWORD i = 0; walked < 2000; ++i) {
        char name[300];
        DWORD chars = sizeof name;
        LONG rc = RegEnumKeyExA(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_MORE_DATA) continue;
        Check(rc == ERROR_SUCCESS && chars < sizeof name);
        HKEY sub = nullptr;
        // Names holding "\" open a path instead: either is fine.
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
          open.push_back(sub);
          ++walked;
        }
      }
      Check(RegCloseKey(key) == ERROR_SUCCESS);
    }
  } else {
    Check(root == nullptr);
  }
  Check(OpenHandleCount() == before);
  return 0;
}
