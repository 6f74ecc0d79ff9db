// The remote registry over registry-editor exports: file formats, value
// types, order, buffer sizes, typed reads, connecting, opening and handles.
#include <atomic>
#include <cstring>
#include <thread>

#include "RegistryTestUtil.h"

namespace velmo::test {
namespace {

class Formats : public RegistryTest {
 protected:
  ProvidersFolder folder;
};

TEST_F(Formats, BothExportFormatsReadTheSame) {
  // Windows-1252 text and 8-bit hex strings; UTF-16LE text and hex strings.
  folder.Write("OLD.reg",
               "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"Owner\"=\"M\xFCller \x80\"\r\n"
               "\"Home\"=hex(2):25,57,25,5c,c5,00\r\n\"Hosts\"=hex(7):61,00,d8,00,00\r\n"
               "\"Count\"=dword:0000002a\r\n");
  folder.Write("NEW.reg", Utf16File("Windows Registry Editor Version 5.00\r\n\r\n"
                                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"Owner\"=\"Müller €\"\r\n"
                                    "\"Home\"=hex(2):25,00,57,00,25,00,5c,00,c5,00,00,00\r\n"
                                    "\"Hosts\"=hex(7):61,00,00,00,d8,00,00,00,00,00\r\n\"Count\"=dword:0000002a\r\n"));
  // An 8-bit export that is valid UTF-8 is read as UTF-8.
  folder.Write("UTF8.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\n\"Owner\"=\"Müller €\"\n");
  for (const char* server : {"OLD", "NEW", "UTF8"}) {
    SCOPED_TRACE(server);
    HKEY root = Connect(server);
    HKEY key = Open(root, "SOFTWARE\\Vendor");
    std::string s;
    EXPECT_EQ(QueryString(key, "Owner", s), ERROR_SUCCESS);
    EXPECT_EQ(s, "Müller €");
    if (std::string(server) != "UTF8") {
      EXPECT_EQ(Names(key, true), (std::vector<std::string>{"Owner", "Home", "Hosts", "Count"}));
      auto home = Raw(key, "Home");
      EXPECT_EQ(home.type, REG_EXPAND_SZ);
      EXPECT_EQ(home.data, std::string("%W%\\Å") + '\0');
      std::vector<std::string> hosts;
      EXPECT_EQ(QueryMultiString(key, "Hosts", hosts), ERROR_SUCCESS);
      EXPECT_EQ(hosts, (std::vector<std::string>{"a", "Ø"}));
      DWORD n = 0;
      EXPECT_EQ(QueryDword(key, "Count", n), ERROR_SUCCESS);
      EXPECT_EQ(n, 42u);
    }
    RegCloseKey(key);
    RegCloseKey(root);
  }
}

TEST_F(Formats, EveryValueType) {
  folder.Write("T.reg", Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\T]\r\n"
                                  "@=\"default text\"\r\n"
                                  "\"Sz1\"=hex(1):68,00,69,00,00,00\r\n"
                                  "\"Dword\"=dword:DEADBEEF\r\n"
                                  "\"ShortDword\"=dword:7\r\n"
                                  "\"Bin\"=hex:00,01,fe,FF\r\n"
                                  "\"Empty\"=hex:\r\n"
                                  "\"None\"=hex(0):01\r\n"
                                  "\"Multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\r\n"
                                  "\"Qword\"=hex(b):08,07,06,05,04,03,02,01\r\n"
                                  "\"HexDword\"=hex(4):2a,00,00,00\r\n"
                                  "\"Big\"=hex(5):00,00,00,2a\r\n"));
  HKEY root = Connect("T");
  HKEY k = Open(root, "T");
  const struct {
    const char* name;
    DWORD type;
    std::string data;
  } cases[] = {
      {"", REG_SZ, std::string("default text") + '\0'},
      {"Sz1", REG_SZ, std::string("hi") + '\0'},
      {"Dword", REG_DWORD, "\xEF\xBE\xAD\xDE"},
      {"ShortDword", REG_DWORD, std::string("\x07\0\0\0", 4)},
      {"Bin", REG_BINARY, std::string("\x00\x01\xFE\xFF", 4)},
      {"Empty", REG_BINARY, ""},
      {"None", REG_NONE, "\x01"},
      {"Multi", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
      {"Qword", REG_QWORD, "\x08\x07\x06\x05\x04\x03\x02\x01"},
      {"HexDword", REG_DWORD, std::string("\x2A\0\0\0", 4)},
      {"Big", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x2A", 4)},
  };
  for (const auto& c : cases) {
    auto v = Raw(k, c.name);
    EXPECT_EQ(v.type, c.type) << c.name;
    EXPECT_EQ(v.data, c.data) << c.name;
  }
  EXPECT_EQ(Raw(k, nullptr).data, std::string("default text") + '\0');
  DWORD d = 0;
  EXPECT_EQ(QueryDword(k, "Dword", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 0xDEADBEEFu);
  std::uint64_t q = 0;
  EXPECT_EQ(QueryQword(k, "Qword", q), ERROR_SUCCESS);
  EXPECT_EQ(q, 0x0102030405060708ull);
  std::vector<BYTE> bin;
  EXPECT_EQ(QueryBinary(k, "Bin", bin), ERROR_SUCCESS);
  EXPECT_EQ(bin, (std::vector<BYTE>{0, 1, 0xFE, 0xFF}));
  RegCloseKey(k);
  RegCloseKey(root);
}

TEST_F(Formats, ContinuationLinesEscapesAndComments) {
  folder.Write("C.reg",
               "REGEDIT4\r\n; exported for the tests\r\n[HKEY_LOCAL_MACHINE\\C]\r\n"
               "\"Long\"=hex:01,02,03,\\\r\n  04,05,\\\r\n  06\r\n"
               "\"After\"=dword:00000001\r\n"
               "\"Dir\"=\"C:\\\\Temp\\\\\"\r\n"
               "\"Quote\"=\"say \\\"hi\\\" [now]; = ok\"\r\n"
               "\"A\\\\B \\\"C\\\"\"=\"named with escapes\"\r\n"
               "\"Odd\"=\"a\\qb\"\r\n"
               "  \"Spaced\"  =  dword:00000002  \r\n");
  HKEY root = Connect("C");
  HKEY k = Open(root, "C");
  EXPECT_EQ(Raw(k, "Long").data, "\x01\x02\x03\x04\x05\x06");
  EXPECT_EQ(Names(k, true),
            (std::vector<std::string>{"Long", "After", "Dir", "Quote", "A\\B \"C\"", "Odd", "Spaced"}));
  const std::pair<const char*, const char*> strings[] = {
      {"Dir", "C:\\Temp\\"}, {"Quote", "say \"hi\" [now]; = ok"}, {"Odd", "a\\qb"}};
  for (auto [name, want] : strings) {
    std::string s;
    EXPECT_EQ(QueryString(k, name, s), ERROR_SUCCESS);
    EXPECT_EQ(s, want);
  }
  RegCloseKey(k);
  RegCloseKey(root);
}

TEST_F(Formats, MalformedExportsAreRefused) {
  const char* bad[] = {
      "",
      "Windows Registry Editor Version 4.00\n[HKEY_LOCAL_MACHINE\\K]\n",
      "REGEDIT4\n\"v\"=dword:00000001\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:123456789\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex:01,1g\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex:01,\\\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"open\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\nv=dword:00000001\n",
  };
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(ValidateSnapshot(folder.Write("BAD.reg", text), &error)) << text;
    HKEY h = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegConnectRegistryA("BAD", HKEY_LOCAL_MACHINE, &h), ERROR_BADDB) << text;
    EXPECT_EQ(h, nullptr);
  }
  std::string error;
  ValidateSnapshot(folder.Write("BAD.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:x\n"), &error);
  EXPECT_EQ(error.rfind("line 4:", 0), 0u) << error;
}

class Keys : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    folder.Write("O.reg",
                 "REGEDIT4\n"
                 "[HKEY_LOCAL_MACHINE\\Order\\Zeta]\n\"z\"=dword:00000001\n\"a\"=dword:00000002\n"
                 "[HKEY_LOCAL_MACHINE\\Order\\Alpha]\n"
                 "[HKEY_LOCAL_MACHINE\\Order\\Gone]\n"
                 "[HKEY_LOCAL_MACHINE\\Order\\Mid\\Deep\\Deeper]\n"
                 "[HKEY_CURRENT_USER\\Software\\Other]\n\"ignored\"=hex:01,\\\n  02\n"
                 "[HKEY_LOCAL_MACHINE\\Order\\Zeta]\n\"m\"=dword:00000003\n\"A\"=dword:00000009\n\"z\"=-\n"
                 "[-HKEY_LOCAL_MACHINE\\Order\\Gone]\n");
    root = Connect("O");
  }
  void TearDown() override {
    RegCloseKey(root);
    RegistryTest::TearDown();
  }
  ProvidersFolder folder;
  HKEY root = nullptr;
};

TEST_F(Keys, StoredOrderMergesAndRemovals) {
  HKEY order = Open(root, "Order");
  EXPECT_EQ(Names(order, false), (std::vector<std::string>{"Zeta", "Alpha", "Mid"}));
  // A key named twice is one key; a value named again keeps its place.
  HKEY zeta = Open(order, "Zeta");
  EXPECT_EQ(Names(zeta, true), (std::vector<std::string>{"a", "m"}));
  DWORD d = 0;
  EXPECT_EQ(QueryDword(zeta, "a", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 9u);
  // Keys named only inside a longer path exist, without values.
  HKEY deep = Open(order, "Mid\\Deep");
  EXPECT_EQ(Names(deep, false), std::vector<std::string>{"Deeper"});
  EXPECT_TRUE(Names(deep, true).empty());
  for (HKEY k : {deep, zeta, order}) RegCloseKey(k);
}

TEST_F(Keys, Opening) {
  const std::pair<const char*, LONG> failures[] = {
      {"Order\\Nowhere", ERROR_FILE_NOT_FOUND}, {"Order\\Zeta\\More", ERROR_FILE_NOT_FOUND},
      {"Software", ERROR_FILE_NOT_FOUND},  // other hives are not served
      {"\\Order", ERROR_BAD_PATHNAME}};
  for (auto [path, rc] : failures) {
    HKEY h = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(root, path, 0, KEY_READ, &h), rc) << path;
    EXPECT_EQ(h, nullptr);
  }
  HKEY h = nullptr;
  EXPECT_EQ(RegOpenKeyExA(root, "Order", 0, KEY_WRITE, &h), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExA(root, "Order", 0, KEY_ALL_ACCESS, &h), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExA(root, "Order", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
  // Names without regard to case, a trailing "\", "" for the same key again.
  HKEY a = Open(root, "order\\ZETA\\");
  HKEY b = Open(a, "");
  EXPECT_NE(a, b);
  DWORD d = 0;
  EXPECT_EQ(QueryDword(b, "M", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 3u);
  RegCloseKey(a);
  RegCloseKey(b);
}

class Buffers : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    folder.Write("B.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\B\\Short]\n[HKEY_LOCAL_MACHINE\\B\\" + name32 +
                              "]\n[HKEY_LOCAL_MACHINE\\B\\After]\n[HKEY_LOCAL_MACHINE\\B]\n\"" + name32 +
                              "\"=\"a string of 22 bytes\"\n\"Level\"=dword:00000005\n\"Ab\"=\"ab\"\n");
    root = Connect("B");
    key = Open(root, "B");
  }
  void TearDown() override {
    RegCloseKey(key);
    RegCloseKey(root);
    RegistryTest::TearDown();
  }
  const std::string name32 = "9004 Directory Synchronization A";  // 32 characters
  ProvidersFolder folder;
  HKEY root = nullptr, key = nullptr;
};

TEST_F(Buffers, NamesLongerThanTheBuffer) {
  char buf[64];
  DWORD n = 32;
  EXPECT_EQ(RegEnumKeyExA(key, 0, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buf, n), "Short");
  // 32 characters and the NUL do not fit in 32: nothing is written, the size
  // needed comes back, and the next index is still there.
  std::memset(buf, '#', sizeof buf);
  n = 32;
  EXPECT_EQ(RegEnumKeyExA(key, 1, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(n, 33u);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(RegEnumKeyExA(key, 1, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buf, n), name32);
  n = 32;
  EXPECT_EQ(RegEnumKeyExA(key, 2, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  n = 32;
  EXPECT_EQ(RegEnumKeyExA(key, 3, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  n = 32;
  EXPECT_EQ(RegEnumValueA(key, 0, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(n, 33u);
}

TEST_F(Buffers, DataLargerThanTheBuffer) {
  // A 4-byte number offered for a string, by enumeration and by name: too
  // small, type and size needed come back, nothing is written.
  struct {
    DWORD number = 0xCCCCCCCC;
    DWORD guard = 0xABABABAB;
  } target;
  char name[64];
  DWORD n = sizeof name, type = 0, size = 4;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &n, nullptr, &type, reinterpret_cast<BYTE*>(&target.number), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(std::string(name, n), name32);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 21u);
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key, name32.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&target.number), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 21u);
  EXPECT_EQ(target.number, 0xCCCCCCCCu);
  EXPECT_EQ(target.guard, 0xABABABABu);
  // A larger buffer: the size becomes the data's size.
  char text[64];
  size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(key, name32.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 21u);
  EXPECT_STREQ(text, "a string of 22 bytes");
  EXPECT_EQ(RegQueryValueExA(key, "Level", nullptr, nullptr, reinterpret_cast<BYTE*>(text), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(Buffers, WrongTypeReads) {
  // The raw read reports the stored type and leaves the decision to the
  // caller: a short string fits a 4-byte buffer and succeeds as REG_SZ.
  DWORD type = 0, number = 0, size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "Ab", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 3u);
  // The typed reads refuse another type and leave the output alone.
  DWORD d = 77;
  EXPECT_EQ(QueryDword(key, "Ab", d), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(QueryDword(key, "Missing", d), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(d, 77u);
  std::string s = "kept";
  EXPECT_EQ(QueryString(key, "Level", s), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(s, "kept");
  std::vector<std::string> m;
  EXPECT_EQ(QueryMultiString(key, "Ab", m), ERROR_UNSUPPORTED_TYPE);
  std::vector<BYTE> b;
  EXPECT_EQ(QueryBinary(key, "Level", b), ERROR_UNSUPPORTED_TYPE);
  std::uint64_t q = 0;
  EXPECT_EQ(QueryQword(key, "Level", q), ERROR_UNSUPPORTED_TYPE);
  folder.Write("W.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE]\n\"Odd\"=hex(4):01,02\n");
  HKEY w = Connect("W");
  EXPECT_EQ(QueryDword(w, "Odd", d), ERROR_INVALID_DATA);
  RegCloseKey(w);
}

class Connecting : public RegistryTest {
 protected:
  ProvidersFolder folder;
  const std::string body = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:00000001\n";
};

TEST_F(Connecting, ServerNames) {
  folder.Write("Ex1.REG", body);
  for (const char* name : {"EX1", "ex1", "\\\\Ex1"}) {
    HKEY h = Connect(name);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  }
  // Unknown servers, and names that are paths, even where a path would
  // reach a snapshot.
  folder.Write("../OUTSIDE.reg", body);
  std::filesystem::create_directories(folder.dir() / "registry" / "sub");
  folder.Write("sub/IN.reg", body);
  for (const char* name : {"EX2", "EX", "", "../OUTSIDE", "sub/IN", "sub\\IN", ".."}) {
    HKEY h = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegConnectRegistryA(name, HKEY_LOCAL_MACHINE, &h), ERROR_BAD_NETPATH) << name;
    EXPECT_EQ(h, nullptr);
  }
  HKEY h = nullptr;
  HKEY users = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000003u)));
  EXPECT_EQ(RegConnectRegistryA("EX1", users, &h), ERROR_INVALID_HANDLE);
  std::filesystem::create_directories(folder.dir() / "registry" / "DIR.reg");
  EXPECT_EQ(RegConnectRegistryA("DIR", HKEY_LOCAL_MACHINE, &h), ERROR_ACCESS_DENIED);
  std::filesystem::remove_all(folder.dir() / "registry");
  EXPECT_EQ(RegConnectRegistryA("EX1", HKEY_LOCAL_MACHINE, &h), ERROR_BAD_NETPATH);
}

TEST_F(Connecting, HandlesAreClosedOnce) {
  folder.Write("H.reg", body);
  std::size_t before = OpenHandleCount();
  HKEY root = Connect("H");
  HKEY k = Open(root, "K");
  EXPECT_EQ(OpenHandleCount(), before + 2);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
  DWORD d = 0, n = 0;
  char buf[16];
  EXPECT_EQ(QueryDword(k, "v", d), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegEnumValueA(k, 0, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegEnumKeyExA(k, 0, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExA(k, "v", nullptr, nullptr, nullptr, &n), ERROR_INVALID_HANDLE);
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyExA(k, "", 0, KEY_READ, &again), ERROR_INVALID_HANDLE);
  // The local predefined key is not a connection to a server.
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &again), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
  EXPECT_EQ(OpenHandleCount(), before);
}

TEST_F(Connecting, ChangedSnapshotServesNewConnectionsOnly) {
  folder.Write("CH.reg", body);
  HKEY oldRoot = Connect("CH");
  HKEY oldKey = Open(oldRoot, "K");
  folder.Write("CH.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:00000002\n\"w\"=dword:00000003\n");
  HKEY newRoot = Connect("CH");
  HKEY newKey = Open(newRoot, "K");
  DWORD d = 0;
  EXPECT_EQ(QueryDword(oldKey, "v", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 1u);
  EXPECT_EQ(QueryDword(newKey, "v", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 2u);
  for (HKEY h : {oldKey, oldRoot, newKey, newRoot}) RegCloseKey(h);
}

TEST_F(Connecting, ManyThreadsAtOnce) {
  folder.Write("MT.reg", body);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        HKEY r = nullptr, k = nullptr;
        DWORD d = 0;
        if (RegConnectRegistryA("MT", HKEY_LOCAL_MACHINE, &r) || RegOpenKeyExA(r, "K", 0, KEY_READ, &k) ||
            QueryDword(k, "v", d) || d != 1 || RegCloseKey(k) || RegCloseKey(r))
          ++failures;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace velmo::test
