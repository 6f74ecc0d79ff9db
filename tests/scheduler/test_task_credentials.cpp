// The task credentials file: private from its creation, refused by the
// reader when anyone else could have read or planted it.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "TaskCredentials.h"
#include "TestHome.h"

namespace sch = velmo::scheduler;
using velmo::test::TestHome;

namespace {

mode_t ModeOf(const std::filesystem::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

TEST(TaskCredentials, WrittenPrivateUnderAnyUmaskAndNeverOpenInBetween) {
  TestHome home;
  const mode_t oldMask = ::umask(0);
  // Every file that appears in the folder is looked at as soon as it shows.
  int in = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(in, 0);
  ASSERT_GE(::inotify_add_watch(in, home.dir().c_str(), IN_CREATE | IN_MOVED_TO | IN_ATTRIB), 0);
  std::atomic<bool> done{false};
  std::atomic<int> seen{0}, open{0};
  std::thread watcher([&] {
    alignas(inotify_event) char buf[8192];
    while (!done) {
      pollfd p{in, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      ssize_t n = ::read(in, buf, sizeof buf);
      for (ssize_t off = 0; off < n;) {
        auto* ev = reinterpret_cast<inotify_event*>(buf + off);
        if (ev->len) {
          struct stat st {};
          if (::stat((home.dir() / ev->name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            ++seen;
            if (st.st_mode & 077) ++open;
          }
        }
        off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      }
    }
  });
  for (int i = 0; i < 200; ++i)
    ASSERT_TRUE(sch::WriteTaskCredentials("VelmorcastTask", "CORP\\ops", "pw " + std::to_string(i)));
  done = true;
  watcher.join();
  ::close(in);
  ::umask(oldMask);
  EXPECT_GT(seen.load(), 0);
  EXPECT_EQ(open.load(), 0);
  const auto file = home / "VelmorcastTask.cred";
  EXPECT_EQ(sch::CredentialsFile("VelmorcastTask"), file);
  EXPECT_EQ(ModeOf(file), 0600u);
  EXPECT_EQ(TestHome::Slurp(file), "CORP\\ops\npw 199\n");
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(home.dir())) ++entries;
  EXPECT_EQ(entries, 2);  // the class registry and the one credentials file
}

TEST(TaskCredentials, ReaderTakesOnlyAPrivateFileOfItsOwnUser) {
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> arrange;
    sch::CredentialsRead expected;
  };
  const std::vector<Case> cases = {
      {"as written", [](auto&) {}, sch::CredentialsRead::Ok},
      {"owner read-only", [](auto& f) { ::chmod(f.c_str(), 0400); }, sch::CredentialsRead::Ok},
      {"group may read", [](auto& f) { ::chmod(f.c_str(), 0640); }, sch::CredentialsRead::Refused},
      {"others may read", [](auto& f) { ::chmod(f.c_str(), 0604); }, sch::CredentialsRead::Refused},
      {"group may write", [](auto& f) { ::chmod(f.c_str(), 0620); }, sch::CredentialsRead::Refused},
      {"another owner", [](auto& f) { ASSERT_EQ(::chown(f.c_str(), ::geteuid() + 1, (gid_t)-1), 0); },
       sch::CredentialsRead::Refused},
      {"a link to a private file",
       [](auto& f) {
         auto real = f.parent_path() / "elsewhere";
         std::filesystem::rename(f, real);
         std::filesystem::create_symlink(real, f);
       },
       sch::CredentialsRead::Refused},
      {"a folder", [](auto& f) { std::filesystem::remove(f); std::filesystem::create_directory(f); },
       sch::CredentialsRead::Refused},
      {"missing", [](auto& f) { std::filesystem::remove(f); }, sch::CredentialsRead::Missing},
      {"one line only", [](auto& f) { std::ofstream(f, std::ios::trunc) << "CORP\\ops"; },
       sch::CredentialsRead::Unreadable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHome home;
    ASSERT_TRUE(sch::WriteTaskCredentials("T", "CORP\\ops", "s3cret, with blanks"));
    c.arrange(home / "T.cred");
    std::string account = "x", password = "y", why;
    EXPECT_EQ(sch::ReadTaskCredentials("T", account, password, &why), c.expected);
    if (c.expected == sch::CredentialsRead::Ok) {
      EXPECT_EQ(account, "CORP\\ops");
      EXPECT_EQ(password, "s3cret, with blanks");
    } else {
      EXPECT_EQ(password, "");
      if (c.expected != sch::CredentialsRead::Missing) EXPECT_FALSE(why.empty());
    }
  }
}

TEST(TaskCredentials, AnEmptyPasswordKeepsTheSameAccountsAndFailuresSayWhy) {
  TestHome home;
  std::string a, p, error;
  const auto file = home / "T.cred";
  // step: account, password given, whether a file remains, password then read
  struct Step {
    const char* account;
    const char* password;
    bool stored;
    const char* readPassword;
  };
  const std::vector<Step> steps = {
      {"CORP\\ops", "", false, ""},        // nothing stored, nothing to keep
      {"CORP\\ops", "first", true, "first"},
      {"corp\\OPS", "", true, "first"},    // same account: kept
      {"CORP\\ops", "second", true, "second"},
      {"CORP\\other", "", false, ""},      // another account: removed
      {"CORP\\other", "third", true, "third"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(std::string(s.account) + "/" + s.password);
    ASSERT_TRUE(sch::UpdateTaskCredentials("T", s.account, s.password, &error)) << error;
    EXPECT_EQ(std::filesystem::exists(file), s.stored);
    sch::ReadTaskCredentials("T", a, p);
    EXPECT_EQ(p, s.readPassword);
  }
  // Values with line breaks cannot be stored; the stored file stays.
  EXPECT_FALSE(sch::WriteTaskCredentials("T", "CORP\\ops", "two\nlines", &error));
  EXPECT_FALSE(sch::UpdateTaskCredentials("T", "CORP\\o\rps", "x", &error));
  EXPECT_EQ(TestHome::Slurp(file), "CORP\\other\nthird\n");
  // A write that cannot land fails with its reason.
  std::filesystem::remove(file);
  std::filesystem::create_directories(file / "inside");
  error.clear();
  EXPECT_FALSE(sch::WriteTaskCredentials("T", "CORP\\ops", "pw", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(sch::RemoveTaskCredentials("T", &error));
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(home.dir())) ++entries;
  EXPECT_EQ(entries, 2);  // no temporary file left behind
}
