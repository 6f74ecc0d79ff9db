#pragma once
// Helpers for the remote-registry tests: a providers folder that
// VELMORCAST_PROVIDERS points at while a test runs (and VELMORCAST_HOME, so
// the error log lands there too), UTF-16LE export files,
// and short ways to read keys and values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "RemoteRegistry.h"

namespace velmo::test {

using namespace velmo::reg;

class ProvidersFolder {
 public:
  // A fresh temporary folder, or (given) an existing one left in place.
  explicit ProvidersFolder(std::filesystem::path existing = {}) : dir_(std::move(existing)) {
    if (dir_.empty()) {
      dir_ = std::filesystem::temp_directory_path() /
             ("velmo-reg-" + std::to_string(::getpid()) + "-" + std::to_string(std::random_device{}()));
      std::filesystem::create_directories(dir_ / "registry");
      owned_ = true;
    }
    ::setenv("VELMORCAST_PROVIDERS", dir_.c_str(), 1);
    if (!owned_) return;
    if (const char* home = std::getenv("VELMORCAST_HOME")) oldHome_ = home;
    ::setenv("VELMORCAST_HOME", dir_.c_str(), 1);
  }
  ~ProvidersFolder() {
    ::unsetenv("VELMORCAST_PROVIDERS");
    if (oldHome_)
      ::setenv("VELMORCAST_HOME", oldHome_->c_str(), 1);
    else if (owned_)
      ::unsetenv("VELMORCAST_HOME");
    std::error_code ec;
    if (owned_) std::filesystem::remove_all(dir_, ec);
  }
  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path Write(const std::string& fileName, const std::string& bytes) const {
    auto p = dir_ / "registry" / fileName;
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
    return p;
  }

 private:
  std::filesystem::path dir_;
  bool owned_ = false;
  std::optional<std::string> oldHome_;
};

// UTF-8 text (Basic Multilingual Plane) as a version 5 export file:
// byte-order mark and UTF-16LE.
inline std::string Utf16File(const std::string& s) {
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 0 : c < 0xE0 ? 1 : 2;
    char32_t cp = n == 0 ? c : c & (0x3F >> n);
    for (int k = 1; k <= n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += n + 1;
    out.push_back(static_cast<char>(cp & 0xFF));
    out.push_back(static_cast<char>(cp >> 8));
  }
  return out;
}

inline HKEY Connect(const char* server) {
  HKEY h = nullptr;
  EXPECT_EQ(RegConnectRegistryA(server, HKEY_LOCAL_MACHINE, &h), ERROR_SUCCESS) << server;
  return h;
}

inline HKEY Open(HKEY parent, const std::string& path) {
  HKEY h = nullptr;
  EXPECT_EQ(RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &h), ERROR_SUCCESS) << path;
  return h;
}

// Subkey (values = false) or value names, in enumeration order.
inline std::vector<std::string> Names(HKEY key, bool values) {
  std::vector<std::string> names;
  char buf[512];
  for (DWORD i = 0;; ++i) {
    DWORD n = sizeof buf;
    LONG rc = values ? RegEnumValueA(key, i, buf, &n, nullptr, nullptr, nullptr, nullptr)
                     : RegEnumKeyExA(key, i, buf, &n, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      return names;
    }
    names.emplace_back(buf, n);
  }
}

struct RawValue {
  DWORD type = REG_NONE;
  std::string data;
};

// A value's type and bytes, asking for the size first as callers do.
inline RawValue Raw(HKEY key, const char* name) {
  RawValue v;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &v.type, nullptr, &size), ERROR_SUCCESS) << name;
  v.data.assign(size, '\x7f');
  EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &v.type, reinterpret_cast<BYTE*>(v.data.data()), &size),
            ERROR_SUCCESS);
  v.data.resize(size);
  return v;
}

// Fails a test that leaves handles open.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = OpenHandleCount(); }
  void TearDown() override { EXPECT_EQ(OpenHandleCount(), baseline_) << "handles left open"; }

 private:
  std::size_t baseline_ = 0;
};

}  // namespace velmo::test
