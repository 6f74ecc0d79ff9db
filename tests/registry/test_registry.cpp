// The remote registry over registry-editor exports: file formats, value
// types, order, buffer sizes, typed reads, connecting, opening and handles.
#include <atomic>
#include <cstring>
#include <thread>

#include "RegistryTestUtil.h"

namespace velmo::test {
namespace {

const char* kHkey = "HKEY_LOCAL_MACHINE";

// The same content as each export format writes it.
std::string VendorExport(bool unicode) {
  std::string text = std::string(unicode ? "Windows Registry Editor Version 5.00" : "REGEDIT4") +
                     "\r\n\r\n[" + kHkey + "\\SOFTWARE\\Vendor]\r\n" +
                     "\"Owner\"=\"Maria Müller\"\r\n"
                     "\"Price\"=\"5 €\"\r\n"
                     "\"Count\"=dword:0000002a\r\n"
                     "\"Home\"=hex(2):" + HexText("%SystemRoot%\\Åse", unicode) + "\r\n" +
                     "\"Hosts\"=hex(7):" + HexText(std::string("EX1") + '\0' + "Ødegård" + '\0', unicode) +
                     "\r\n\r\n[" + kHkey + "\\SOFTWARE\\Vendor\\Sub]\r\n@=\"x\"\r\n";
  return unicode ? Utf16File(text) : Cp1252File(text);
}

class Formats : public RegistryTest {
 protected:
  ProvidersFolder folder;
};

TEST_F(Formats, BothExportFormatsReadTheSame) {
  folder.Write("OLD.reg", VendorExport(false));
  folder.Write("NEW.reg", VendorExport(true));
  ASSERT_EQ(VendorExport(false).substr(0, 8), "REGEDIT4");
  ASSERT_EQ(VendorExport(true).substr(0, 2), "\xFF\xFE");
  for (const char* server : {"OLD", "NEW"}) {
    SCOPED_TRACE(server);
    HKEY root = Connect(server);
    HKEY key = Open(root, "SOFTWARE\\Vendor");
    std::string s;
    EXPECT_EQ(QueryString(key, "Owner", s), ERROR_SUCCESS);
    EXPECT_EQ(s, "Maria Müller");
    EXPECT_EQ(QueryString(key, "Price", s), ERROR_SUCCESS);
    EXPECT_EQ(s, "5 €");
    DWORD n = 0;
    EXPECT_EQ(QueryDword(key, "Count", n), ERROR_SUCCESS);
    EXPECT_EQ(n, 42u);
    auto home = Raw(key, "Home");
    EXPECT_EQ(home.type, REG_EXPAND_SZ);
    EXPECT_EQ(home.data, std::string("%SystemRoot%\\Åse") + '\0');
    auto hosts = Raw(key, "Hosts");
    EXPECT_EQ(hosts.type, REG_MULTI_SZ);
    EXPECT_EQ(hosts.data, std::string("EX1") + '\0' + "Ødegård" + '\0' + '\0');
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"Owner", "Price", "Count", "Home", "Hosts"}));
    EXPECT_EQ(SubkeyNames(key), std::vector<std::string>{"Sub"});
    RegCloseKey(key);
    RegCloseKey(root);
  }
}

TEST_F(Formats, EightBitExportAlreadyInUtf8StaysUtf8) {
  folder.Write("U.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"Name\"=\"Müller\"\n");
  HKEY root = Connect("U");
  HKEY key = Open(root, "K");
  std::string s;
  EXPECT_EQ(QueryString(key, "Name", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "Müller");
  RegCloseKey(key);
  RegCloseKey(root);
}

// Every kind of value line, read through the raw and the typed calls.
TEST_F(Formats, EveryValueType) {
  folder.Write("T.reg", Utf16File(std::string("Windows Registry Editor Version 5.00\r\n\r\n") +
                                  "[HKEY_LOCAL_MACHINE\\T]\r\n"
                                  "@=\"default text\"\r\n"
                                  "\"Sz\"=\"plain\"\r\n"
                                  "\"Sz1\"=hex(1):68,00,69,00,00,00\r\n"
                                  "\"Dword\"=dword:DEADBEEF\r\n"
                                  "\"ShortDword\"=dword:7\r\n"
                                  "\"Bin\"=hex:00,01,fe,FF\r\n"
                                  "\"Empty\"=hex:\r\n"
                                  "\"None\"=hex(0):01\r\n"
                                  "\"Expand\"=hex(2):25,00,57,00,25,00,00,00\r\n"
                                  "\"Multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\r\n"
                                  "\"EmptyMulti\"=hex(7):00,00\r\n"
                                  "\"Qword\"=hex(b):08,07,06,05,04,03,02,01\r\n"
                                  "\"HexDword\"=hex(4):2a,00,00,00\r\n"
                                  "\"BadDword\"=hex(4):2a,00\r\n"
                                  "\"Big\"=hex(5):00,00,00,2a\r\n"));
  HKEY root = Connect("T");
  HKEY k = Open(root, "T");

  struct Case {
    const char* name;
    DWORD type;
    std::string data;
  };
  const Case cases[] = {
      {"", REG_SZ, std::string("default text") + '\0'},
      {"Sz", REG_SZ, std::string("plain") + '\0'},
      {"Sz1", REG_SZ, std::string("hi") + '\0'},
      {"Dword", REG_DWORD, "\xEF\xBE\xAD\xDE"},
      {"ShortDword", REG_DWORD, std::string("\x07\0\0\0", 4)},
      {"Bin", REG_BINARY, std::string("\x00\x01\xFE\xFF", 4)},
      {"Empty", REG_BINARY, ""},
      {"None", REG_NONE, "\x01"},
      {"Expand", REG_EXPAND_SZ, std::string("%W%") + '\0'},
      {"Multi", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
      {"EmptyMulti", REG_MULTI_SZ, std::string(1, '\0')},
      {"Qword", 11, "\x08\x07\x06\x05\x04\x03\x02\x01"},
      {"HexDword", REG_DWORD, std::string("\x2A\0\0\0", 4)},
      {"BadDword", REG_DWORD, std::string("\x2A\0", 2)},
      {"Big", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x2A", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto v = Raw(k, c.name);
    EXPECT_EQ(v.rc, ERROR_SUCCESS);
    EXPECT_EQ(v.type, c.type);
    EXPECT_EQ(v.data, c.data);
  }
  // The default value is also what a null name reads.
  EXPECT_EQ(Raw(k, nullptr).data, std::string("default text") + '\0');

  DWORD d = 0;
  EXPECT_EQ(QueryDword(k, "Dword", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 0xDEADBEEFu);
  EXPECT_EQ(QueryDword(k, "HexDword", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 42u);
  std::uint64_t q = 0;
  EXPECT_EQ(QueryQword(k, "Qword", q), ERROR_SUCCESS);
  EXPECT_EQ(q, 0x0102030405060708ull);
  std::string s;
  EXPECT_EQ(QueryString(k, "Expand", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "%W%");
  std::vector<std::string> multi;
  EXPECT_EQ(QueryMultiString(k, "Multi", multi), ERROR_SUCCESS);
  EXPECT_EQ(multi, (std::vector<std::string>{"a", "bc"}));
  EXPECT_EQ(QueryMultiString(k, "EmptyMulti", multi), ERROR_SUCCESS);
  EXPECT_TRUE(multi.empty());
  std::vector<BYTE> bin;
  EXPECT_EQ(QueryBinary(k, "Bin", bin), ERROR_SUCCESS);
  EXPECT_EQ(bin, (std::vector<BYTE>{0, 1, 0xFE, 0xFF}));
  RegCloseKey(k);
  RegCloseKey(root);
}

TEST_F(Formats, ContinuationLinesEscapesAndComments) {
  folder.Write("C.reg",
               "REGEDIT4\r\n"
               "; exported for the tests\r\n"
               "[HKEY_LOCAL_MACHINE\\C]\r\n"
               "\"Long\"=hex:01,02,03,\\\r\n"
               "  04,05,\\\r\n"
               "  06\r\n"
               "\"After\"=dword:00000001\r\n"
               "\"Dir\"=\"C:\\\\Temp\\\\\"\r\n"
               "\"Quote\"=\"say \\\"hi\\\" [now]; = ok\"\r\n"
               "\"A\\\\B \\\"C\\\"\"=\"named with escapes\"\r\n"
               "\"Odd\"=\"a\\qb\"\r\n"
               "  \"Spaced\"  =  dword:00000002  \r\n");
  HKEY root = Connect("C");
  HKEY k = Open(root, "C");
  EXPECT_EQ(Raw(k, "Long").data, "\x01\x02\x03\x04\x05\x06");
  DWORD d = 0;
  EXPECT_EQ(QueryDword(k, "After", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 1u);
  std::string s;
  EXPECT_EQ(QueryString(k, "Dir", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "C:\\Temp\\");
  EXPECT_EQ(QueryString(k, "Quote", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "say \"hi\" [now]; = ok");
  EXPECT_EQ(QueryString(k, "A\\B \"C\"", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "named with escapes");
  EXPECT_EQ(QueryString(k, "Odd", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "a\\qb");
  EXPECT_EQ(QueryDword(k, "Spaced", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 2u);
  RegCloseKey(k);
  RegCloseKey(root);
}

TEST_F(Formats, MalformedExportsAreRefused) {
  const char* bad[] = {
      "",
      "Windows Registry Editor Version 4.00\n[HKEY_LOCAL_MACHINE\\K]\n",
      "REGEDIT4\n\"v\"=dword:00000001\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K] x\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:xyz\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:123456789\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex:01,1g\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex(z):01\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex:01,\\\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"open\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"a\" b\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\" dword:00000001\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\nv=dword:00000001\n",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=word:1\n",
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    auto file = folder.Write("BAD.reg", text);
    std::string error;
    EXPECT_FALSE(ValidateSnapshot(file, &error));
    EXPECT_FALSE(error.empty());
    HKEY h = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegConnectRegistryA("BAD", HKEY_LOCAL_MACHINE, &h), ERROR_BADDB);
    EXPECT_EQ(h, nullptr);
  }
  std::string error;
  EXPECT_FALSE(ValidateSnapshot(folder.Write("BAD.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:x\n"),
                                &error));
  EXPECT_EQ(error.rfind("line 4:", 0), 0u) << error;
}

class Order : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    folder.Write("O.reg",
                 "REGEDIT4\n"
                 "[HKEY_LOCAL_MACHINE\\Order\\Zeta]\n"
                 "\"z\"=dword:00000001\n"
                 "\"a\"=dword:00000002\n"
                 "[HKEY_LOCAL_MACHINE\\Order\\Alpha]\n"
                 "[HKEY_LOCAL_MACHINE\\Order\\Gone]\n"
                 "\"x\"=dword:00000001\n"
                 "[HKEY_LOCAL_MACHINE\\Order\\Mid\\Deep\\Deeper]\n"
                 "[HKEY_CURRENT_USER\\Software\\Other]\n"
                 "\"ignored\"=hex:01,\\\n"
                 "  02\n"
                 "[HKEY_LOCAL_MACHINE\\Order\\Zeta]\n"
                 "\"m\"=dword:00000003\n"
                 "\"A\"=dword:00000009\n"
                 "\"z\"=-\n"
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

TEST_F(Order, KeysAndValuesKeepTheStoredOrder) {
  HKEY order = Open(root, "Order");
  EXPECT_EQ(SubkeyNames(order), (std::vector<std::string>{"Zeta", "Alpha", "Mid"}));
  HKEY zeta = Open(order, "Zeta");
  // A key named twice is one key; a value named again keeps its place.
  EXPECT_EQ(ValueNames(zeta), (std::vector<std::string>{"a", "m"}));
  DWORD d = 0;
  EXPECT_EQ(QueryDword(zeta, "a", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 9u);
  EXPECT_EQ(QueryDword(zeta, "z", d), ERROR_FILE_NOT_FOUND);
  // Keys named only inside a longer path exist, without values.
  HKEY deep = Open(order, "Mid\\Deep");
  EXPECT_EQ(SubkeyNames(deep), std::vector<std::string>{"Deeper"});
  EXPECT_TRUE(ValueNames(deep).empty());
  // Other hives are not part of HKEY_LOCAL_MACHINE.
  HKEY h = nullptr;
  EXPECT_EQ(RegOpenKeyExA(root, "Software", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  for (HKEY k : {deep, zeta, order}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST_F(Order, OpeningKeys) {
  HKEY h = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(root, "Order\\Nowhere", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(RegOpenKeyExA(root, "Order\\Zeta\\More", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(root, "\\Order", 0, KEY_READ, &h), ERROR_BAD_PATHNAME);
  // The snapshot is read-only.
  EXPECT_EQ(RegOpenKeyExA(root, "Order", 0, KEY_WRITE, &h), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExA(root, "Order", 0, KEY_ALL_ACCESS, &h), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExA(root, "Order", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);

  // Names match without regard to case; a trailing "\" is accepted; an empty
  // sub key opens the same key again.
  HKEY a = Open(root, "order\\ZETA\\");
  HKEY b = Open(a, "");
  EXPECT_NE(a, b);
  EXPECT_EQ(ValueNames(b), (std::vector<std::string>{"a", "m"}));
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
    folder.Write("B.reg",
                 "REGEDIT4\n"
                 "[HKEY_LOCAL_MACHINE\\B\\Short]\n"
                 "[HKEY_LOCAL_MACHINE\\B\\" + name32 + "]\n"
                 "[HKEY_LOCAL_MACHINE\\B\\After]\n"
                 "[HKEY_LOCAL_MACHINE\\B]\n"
                 "\"" + name32 + "\"=\"a string of 22 bytes\"\n"
                 "\"Level\"=dword:00000005\n");
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

TEST_F(Buffers, SubkeyNamesLongerThanTheBuffer) {
  ASSERT_EQ(name32.size(), 32u);
  char buf[64];
  std::memset(buf, '#', sizeof buf);
  DWORD n = 32;
  EXPECT_EQ(RegEnumKeyExA(key, 0, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(n, 5u);
  EXPECT_STREQ(buf, "Short");

  // 32 characters and the NUL do not fit in 32: nothing is written, and the
  // size needed comes back; the enumeration goes on at the next index.
  std::memset(buf, '#', sizeof buf);
  n = 32;
  EXPECT_EQ(RegEnumKeyExA(key, 1, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(n, 33u);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(RegEnumKeyExA(key, 1, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(n, 32u);
  EXPECT_EQ(std::string(buf, n), name32);
  n = 32;
  EXPECT_EQ(RegEnumKeyExA(key, 2, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "After");
  n = 32;
  EXPECT_EQ(RegEnumKeyExA(key, 3, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  // Class and time: an empty class, the snapshot's time.
  char cls[4] = "xyz";
  DWORD clsLen = sizeof cls;
  FILETIME ft{};
  n = sizeof buf;
  EXPECT_EQ(RegEnumKeyExA(key, 0, buf, &n, nullptr, cls, &clsLen, &ft), ERROR_SUCCESS);
  EXPECT_EQ(clsLen, 0u);
  EXPECT_STREQ(cls, "");
  EXPECT_GT(ft.dwHighDateTime, 0u);
}

TEST_F(Buffers, ValueNamesAndDataLongerThanTheBuffer) {
  char buf[64];
  DWORD n = 32;
  EXPECT_EQ(RegEnumValueA(key, 0, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(n, 33u);

  // The name fits, the data does not: name, type and size needed come back,
  // the data buffer is left alone.
  DWORD type = 0;
  DWORD number = 0xCCCCCCCC;
  DWORD size = 4;
  n = sizeof buf;
  EXPECT_EQ(RegEnumValueA(key, 0, buf, &n, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(std::string(buf, n), name32);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 21u);
  EXPECT_EQ(number, 0xCCCCCCCCu);

  size = 4;
  n = sizeof buf;
  EXPECT_EQ(RegEnumValueA(key, 1, buf, &n, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(number, 5u);
  n = sizeof buf;
  EXPECT_EQ(RegEnumValueA(key, 2, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(Buffers, QueryValueSizes) {
  // Size only.
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, name32.c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 21u);

  // A 4-byte number offered for a string: too small, size needed, nothing
  // written past or into the number.
  struct {
    DWORD number = 0xCCCCCCCC;
    DWORD guard = 0xABABABAB;
  } target;
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key, name32.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(&target.number), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 21u);
  EXPECT_EQ(target.number, 0xCCCCCCCCu);
  EXPECT_EQ(target.guard, 0xABABABABu);

  // A larger buffer than needed: the size becomes the data's size.
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
  folder.Write("W.reg",
               "REGEDIT4\n[HKEY_LOCAL_MACHINE\\W]\n\"Str\"=\"ab\"\n\"Num\"=dword:00000003\n"
               "\"Odd\"=hex(4):01,02\n\"Blob\"=hex:01\n");
  HKEY r = Connect("W");
  HKEY w = Open(r, "W");
  DWORD type = 0, number = 0, size = 4;
  EXPECT_EQ(RegQueryValueExA(w, "Str", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 3u);

  // The typed reads refuse another type and leave the output alone.
  DWORD d = 77;
  EXPECT_EQ(QueryDword(w, "Str", d), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(QueryDword(w, "Blob", d), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(QueryDword(w, "Odd", d), ERROR_INVALID_DATA);
  EXPECT_EQ(QueryDword(w, "None", d), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(d, 77u);
  std::string s = "kept";
  EXPECT_EQ(QueryString(w, "Num", s), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(s, "kept");
  std::vector<std::string> m{"kept"};
  EXPECT_EQ(QueryMultiString(w, "Str", m), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(m.size(), 1u);
  std::vector<BYTE> b;
  EXPECT_EQ(QueryBinary(w, "Num", b), ERROR_UNSUPPORTED_TYPE);
  std::uint64_t q = 0;
  EXPECT_EQ(QueryQword(w, "Num", q), ERROR_UNSUPPORTED_TYPE);
  RegCloseKey(w);
  RegCloseKey(r);
}

class Connecting : public RegistryTest {
 protected:
  ProvidersFolder folder;
  const std::string body = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:00000001\n";
};

TEST_F(Connecting, ServerNames) {
  folder.Write("Ex1.REG", body);
  for (const char* name : {"EX1", "ex1", "\\\\Ex1"}) {
    HKEY h = nullptr;
    EXPECT_EQ(RegConnectRegistryA(name, HKEY_LOCAL_MACHINE, &h), ERROR_SUCCESS) << name;
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  }
  // Unknown servers, and names that are paths rather than server names, even
  // when such a path would reach a snapshot.
  folder.Write("../OUTSIDE.reg", body);
  std::filesystem::create_directories(folder.dir() / "registry" / "sub");
  folder.Write("sub/IN.reg", body);
  for (const char* name : {"EX2", "EX", "", "../OUTSIDE", "sub/IN", "sub\\IN", ".", ".."}) {
    HKEY h = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegConnectRegistryA(name, HKEY_LOCAL_MACHINE, &h), ERROR_BAD_NETPATH) << name;
    EXPECT_EQ(h, nullptr);
  }
  HKEY h = nullptr;
  EXPECT_EQ(RegConnectRegistryA(nullptr, HKEY_LOCAL_MACHINE, &h), ERROR_BAD_NETPATH);
  // Only HKEY_LOCAL_MACHINE is served.
  HKEY users = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000003u)));
  EXPECT_EQ(RegConnectRegistryA("EX1", users, &h), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegConnectRegistryA("EX1", HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
  // A snapshot that is not a readable file.
  std::filesystem::create_directories(folder.dir() / "registry" / "DIR.reg");
  EXPECT_EQ(RegConnectRegistryA("DIR", HKEY_LOCAL_MACHINE, &h), ERROR_ACCESS_DENIED);
}

TEST_F(Connecting, NoSnapshotFolder) {
  std::filesystem::remove_all(folder.dir() / "registry");
  HKEY h = nullptr;
  EXPECT_EQ(RegConnectRegistryA("EX1", HKEY_LOCAL_MACHINE, &h), ERROR_BAD_NETPATH);
}

TEST_F(Connecting, ProvidersFolderDefaultsToTheApplicationFolder) {
  const char* home = std::getenv("VELMORCAST_HOME");
  std::string oldHome = home ? home : "";
  ::unsetenv("VELMORCAST_PROVIDERS");
  ::setenv("VELMORCAST_HOME", folder.dir().c_str(), 1);
  EXPECT_EQ(SnapshotFolder(), folder.dir() / "providers" / "registry");
  if (home)
    ::setenv("VELMORCAST_HOME", oldHome.c_str(), 1);
  else
    ::unsetenv("VELMORCAST_HOME");
  ::setenv("VELMORCAST_PROVIDERS", folder.dir().c_str(), 1);
  EXPECT_EQ(SnapshotFolder(), folder.dir() / "registry");
}

TEST_F(Connecting, HandlesMustBeClosedOnce) {
  folder.Write("H.reg", body);
  std::size_t before = OpenHandleCount();
  HKEY root = Connect("H");
  HKEY k = Open(root, "K");
  EXPECT_EQ(OpenHandleCount(), before + 2);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
  DWORD d = 0;
  EXPECT_EQ(QueryDword(k, "v", d), ERROR_INVALID_HANDLE);
  char buf[16];
  DWORD n = sizeof buf;
  EXPECT_EQ(RegEnumValueA(k, 0, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegEnumKeyExA(k, 0, buf, &n, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExA(k, "v", nullptr, nullptr, nullptr, &n), ERROR_INVALID_HANDLE);
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyExA(k, "", 0, KEY_READ, &again), ERROR_INVALID_HANDLE);
  // The local predefined key is not a remote connection.
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &again), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
  EXPECT_EQ(OpenHandleCount(), before);
}

TEST_F(Connecting, ChangedSnapshotServesNewConnectionsOnly) {
  auto file = folder.Write("CH.reg", body);
  HKEY oldRoot = Connect("CH");
  HKEY oldKey = Open(oldRoot, "K");
  // Rewritten with another size, so the change is seen whatever the clock.
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
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        HKEY r = nullptr, k = nullptr;
        DWORD d = 0;
        if (RegConnectRegistryA("MT", HKEY_LOCAL_MACHINE, &r) != ERROR_SUCCESS ||
            RegOpenKeyExA(r, "K", 0, KEY_READ, &k) != ERROR_SUCCESS || QueryDword(k, "v", d) != ERROR_SUCCESS ||
            d != 1 || RegCloseKey(k) != ERROR_SUCCESS || RegCloseKey(r) != ERROR_SUCCESS)
          ++failures;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace velmo::test
