// The remote registry on exports at the edges: keys nested as deep as the
// registry allows and deeper, and keys and values by the ten thousand.
#include "RegistryTestUtil.h"
#include "TextFile.h"

namespace velmo::test {
namespace {

class Limits : public RegistryTest {
 protected:
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    velmo::ReadLines(folder.dir() / "VelmorcastErrorLog.log", lines);
    return lines;
  }
  ProvidersFolder folder;
};

std::string Nested(size_t levels) {
  std::string path = "HKEY_LOCAL_MACHINE";
  for (size_t i = 0; i < levels; ++i) path += i % 2 ? "\\k" : "\\K";
  return path;
}

TEST_F(Limits, KeysDeeperThanTheRegistryAllowsAreRefusedWithFileAndLine) {
  // 512 levels is the limit and is served, to the last key.
  folder.Write("D512.reg", "REGEDIT4\n\n[" + Nested(512) + "]\n\"leaf\"=dword:00000007\n");
  HKEY root = Connect("D512");
  std::string path;
  for (size_t i = 0; i < 512; ++i) path += i ? "\\K" : "K";
  HKEY leaf = Open(root, path);
  DWORD d = 0;
  EXPECT_EQ(QueryDword(leaf, "leaf", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 7u);
  for (HKEY h : {leaf, root}) RegCloseKey(h);

  // One level more, and a key nested 300,000 levels (its removal too), are
  // refused at their line; the file is logged once however often it is
  // asked for, and again once it changed.
  for (const auto& [name, body, line] : std::vector<std::tuple<std::string, std::string, int>>{
           {"D513", "REGEDIT4\n\n[" + Nested(513) + "]\n", 3},
           {"DEEP", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n[" + Nested(300000) + "]\n", 3},
           {"GONE", "REGEDIT4\n[-" + Nested(300000) + "]\n", 2}}) {
    auto file = folder.Write(name + ".reg", body);
    std::string error;
    EXPECT_FALSE(ValidateSnapshot(file, &error));
    EXPECT_EQ(error, "line " + std::to_string(line) + ": key nested deeper than the registry's limit of 512 levels");
    const size_t before = Log().size();
    for (int i = 0; i < 3; ++i) {
      HKEY h = reinterpret_cast<HKEY>(1);
      EXPECT_EQ(RegConnectRegistryA(name.c_str(), HKEY_LOCAL_MACHINE, &h), ERROR_BADDB) << name;
      EXPECT_EQ(h, nullptr);
    }
    auto log = Log();
    ASSERT_EQ(log.size(), before + 1) << name;
    EXPECT_NE(log.back().find("      13      Line " + std::to_string(line) + " of '" + file.string() +
                              "' cannot be read: key nested deeper than the registry's limit of 512 levels      Registry"),
              std::string::npos)
        << log.back();
  }
  folder.Write("D513.reg", "REGEDIT4\n\n\n[" + Nested(513) + "]\n");
  HKEY h = nullptr;
  EXPECT_EQ(RegConnectRegistryA("D513", HKEY_LOCAL_MACHINE, &h), ERROR_BADDB);
  EXPECT_NE(Log().back().find("Line 4 of"), std::string::npos);
}

TEST_F(Limits, TensOfThousandsOfSiblingsKeepTheirOrderAndAreFoundInAnyCase) {
  constexpr int kKeys = 30000;
  std::string body = "REGEDIT4\n";
  for (int i = 0; i < kKeys; ++i) body += "[HKEY_LOCAL_MACHINE\\Many\\Key" + std::to_string(i) + "]\n";
  // Named again in another case: the same key, in its first place; values
  // set, replaced, removed and set again.
  body += "[HKEY_LOCAL_MACHINE\\MANY\\KEY7]\n";
  for (int i = 0; i < kKeys; ++i) body += "\"v" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
  for (int i = 0; i < kKeys; i += 2) body += "\"V" + std::to_string(i) + "\"=-\n";
  body += "\"v0\"=dword:00000009\n\"V1\"=dword:00000008\n";
  body += "[-HKEY_LOCAL_MACHINE\\Many\\key5]\n[HKEY_LOCAL_MACHINE\\Many\\Key5]\n";
  folder.Write("WIDE.reg", body);

  HKEY root = Connect("WIDE");
  HKEY many = Open(root, "many");
  auto keys = Names(many, false);
  ASSERT_EQ(keys.size(), static_cast<size_t>(kKeys));
  EXPECT_EQ(keys[0], "Key0");
  EXPECT_EQ(keys[4], "Key4");
  EXPECT_EQ(keys[5], "Key6");  // removed, and named again: last
  EXPECT_EQ(keys.back(), "Key5");
  EXPECT_EQ(keys[kKeys - 2], "Key" + std::to_string(kKeys - 1));
  HKEY seven = Open(many, "kEy7");
  auto values = Names(seven, true);
  ASSERT_EQ(values.size(), static_cast<size_t>(kKeys / 2 + 1));
  EXPECT_EQ(values[0], "v1");
  EXPECT_EQ(values[1], "v3");
  EXPECT_EQ(values.back(), "v0");
  DWORD d = 0;
  EXPECT_EQ(QueryDword(seven, "V1", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 8u);
  EXPECT_EQ(QueryDword(seven, "v2", d), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(QueryDword(seven, "V29999", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 9u);
  HKEY five = Open(root, "Many\\key5");
  EXPECT_TRUE(Names(five, true).empty());
  for (HKEY h : {five, seven, many, root}) RegCloseKey(h);
}

}  // namespace
}  // namespace velmo::test
