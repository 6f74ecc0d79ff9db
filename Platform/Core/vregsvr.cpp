// vregsvr LIBRARY [/u]: registers (or with /u unregisters) the classes of a
// class library in the application folder's class registry.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "ComFactory.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vregsvr LIBRARY [/u]\n");
    return 2;
  }
  bool unregister = argc > 2 && (std::strcmp(argv[2], "/u") == 0 || std::strcmp(argv[2], "-u") == 0);
  void* h = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
  if (!h) {
    std::fprintf(stderr, "vregsvr: %s\n", dlerror());
    return 1;
  }
  using Fn = int32_t (*)();
  auto fn = reinterpret_cast<Fn>(dlsym(h, unregister ? "DllUnregisterServer" : "DllRegisterServer"));
  if (!fn) {
    std::fprintf(stderr, "vregsvr: %s has no %s\n", argv[1], unregister ? "DllUnregisterServer" : "DllRegisterServer");
    return 1;
  }
  int32_t hr = fn();
  if (hr != 0) {
    // The library writes the registry through the shared factory, which
    // keeps why the write failed.
    const std::string why = velmo::com::LastRegistryFailure();
    std::fprintf(stderr, "vregsvr: failed with 0x%08X%s%s\n", static_cast<uint32_t>(hr), why.empty() ? "" : ": ",
                 why.c_str());
    return 1;
  }
  return 0;
}
