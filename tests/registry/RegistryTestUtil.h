#pragma once
// Helpers for the remote-registry tests: a temporary providers folder that
// VELMORCAST_PROVIDERS points at, snapshot files in either export encoding,
// and short ways to read keys and values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "RemoteRegistry.h"

namespace velmo::test {

using namespace velmo::reg;

class ProvidersFolder {
 public:
  ProvidersFolder() {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("velmo-reg-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_ / "registry");
    if (const char* old = std::getenv("VELMORCAST_PROVIDERS")) {
      hadOld_ = true;
      old_ = old;
    }
    ::setenv("VELMORCAST_PROVIDERS", dir_.c_str(), 1);
  }
  explicit ProvidersFolder(const std::filesystem::path& existing) : ProvidersFolder() {
    ::setenv("VELMORCAST_PROVIDERS", existing.c_str(), 1);
  }
  ~ProvidersFolder() {
    if (hadOld_)
      ::setenv("VELMORCAST_PROVIDERS", old_.c_str(), 1);
    else
      ::unsetenv("VELMORCAST_PROVIDERS");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ProvidersFolder(const ProvidersFolder&) = delete;
  ProvidersFolder& operator=(const ProvidersFolder&) = delete;

  const std::filesystem::path& dir() const { return dir_; }

  // Writes registry/<fileName> with exactly these bytes.
  std::filesystem::path Write(const std::string& fileName, const std::string& bytes) const {
    auto p = dir_ / "registry" / fileName;
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
    return p;
  }

 private:
  std::filesystem::path dir_;
  bool hadOld_ = false;
  std::string old_;
};

// UTF-8 text as code points.
inline std::u32string CodePoints(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = n == 0 ? c : c & (0x3F >> n);
    for (int k = 1; k <= n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += n + 1;
  }
  return out;
}

// A version 5 export: byte-order mark and UTF-16LE.
inline std::string Utf16File(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (char32_t cp : CodePoints(utf8)) {
    auto unit = [&](char32_t u) {
      out.push_back(static_cast<char>(u & 0xFF));
      out.push_back(static_cast<char>(u >> 8));
    };
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

// A REGEDIT4 export in Windows-1252 (Latin-1 letters and the euro sign).
inline std::string Cp1252File(const std::string& utf8) {
  std::string out;
  for (char32_t cp : CodePoints(utf8)) out.push_back(cp == 0x20AC ? '\x80' : static_cast<char>(cp));
  return out;
}

// The hex list a given export writes for a text (terminating NUL included).
inline std::string HexText(const std::string& utf8, bool unicode) {
  static const char* digits = "0123456789abcdef";
  std::string bytes = unicode ? Utf16File(utf8).substr(2) : Cp1252File(utf8);
  bytes.append(unicode ? 2 : 1, '\0');
  std::string out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out += ',';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

inline HKEY Connect(const char* server) {
  HKEY h = nullptr;
  EXPECT_EQ(RegConnectRegistryA(server, HKEY_LOCAL_MACHINE, &h), ERROR_SUCCESS) << server;
  return h;
}

inline HKEY Open(HKEY parent, const char* path) {
  HKEY h = nullptr;
  EXPECT_EQ(RegOpenKeyExA(parent, path, 0, KEY_READ, &h), ERROR_SUCCESS) << path;
  return h;
}

inline std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char buf[512];
    DWORD n = sizeof buf;
    LONG rc = RegEnumKeyExA(key, i, buf, &n, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      break;
    }
    names.emplace_back(buf, n);
  }
  return names;
}

inline std::vector<std::string> ValueNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char buf[512];
    DWORD n = sizeof buf;
    LONG rc = RegEnumValueA(key, i, buf, &n, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      break;
    }
    names.emplace_back(buf, n);
  }
  return names;
}

struct RawValue {
  LONG rc = ERROR_SUCCESS;
  DWORD type = REG_NONE;
  std::string data;
};

// A value's type and bytes, asking for the size first as callers do.
inline RawValue Raw(HKEY key, const char* name) {
  RawValue v;
  DWORD size = 0;
  v.rc = RegQueryValueExA(key, name, nullptr, &v.type, nullptr, &size);
  if (v.rc != ERROR_SUCCESS) return v;
  v.data.assign(size, '\x7f');
  v.rc = RegQueryValueExA(key, name, nullptr, &v.type, reinterpret_cast<BYTE*>(v.data.data()), &size);
  v.data.resize(size);
  return v;
}

// Checks that every handle a test opened was closed again.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = OpenHandleCount(); }
  void TearDown() override { EXPECT_EQ(OpenHandleCount(), baseline_) << "handles left open"; }

 private:
  std::size_t baseline_ = 0;
};

}  // namespace velmo::test
