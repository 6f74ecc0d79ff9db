#pragma once
// The collector against the sample organisation: the shared slapd, the
// sample provider files, and short names for the sample's paths.
#include "CollectorKit.h"
#include "SampleDirectory.h"

namespace collector_test {

inline const std::string kLakeRecipients = "o=Velmor/ou=Lakeside/cn=Recipients";
inline const std::string kHillRecipients = "o=Velmor/ou=Hilltop/cn=Recipients";
inline const std::string kLakeDn = "cn=Recipients,ou=Lakeside,o=Velmor";
inline const std::string kHillDn = "cn=Recipients,ou=Hilltop,o=Velmor";

inline std::string SampleProviders() { return (velmo::test::TestHome::SourceDir() / "sample" / "providers").string(); }

class SampleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
    SetEnv("VELMORCAST_PROVIDERS", SampleProviders());
  }
  void TearDown() override { ::unsetenv("VELMORCAST_PROVIDERS"); }

  // The rows a page writes for one object, found by display name.
  std::vector<Cells> RowsOf(const std::string& table, const std::string& displayName) {
    return kit_.Rows(table, "[Display Name] = " + velmo::db::SqlQuote(displayName));
  }

  velmo::test::UseSampleDirectory directory_;
  Kit kit_;
};

inline std::vector<std::string> Column(const std::vector<Cells>& rows, size_t i) {
  std::vector<std::string> out;
  for (const auto& r : rows) out.push_back(i < r.size() ? r[i].Text() : "<missing>");
  return out;
}

// Cells from..to (to excluded; -1 for the end) of a row, as texts.
inline std::vector<std::string> Slice(const Cells& row, size_t from, long to = -1) {
  auto t = Texts(row);
  size_t end = to < 0 ? t.size() : static_cast<size_t>(to);
  return std::vector<std::string>(t.begin() + from, t.begin() + end);
}

}  // namespace collector_test
