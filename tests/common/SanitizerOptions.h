#pragma once
// The sanitizer options this test was started with, as NAME=value texts
// (set in the sanitizer build by tests/sanitizer-run.sh, absent otherwise).
// A test that starts a program with an environment of its own adds them, so
// the program's sanitizer reports land where the test's run collects them.
#include <cstdlib>
#include <string>
#include <vector>

namespace velmo::test {

inline std::vector<std::string> SanitizerOptions() {
  std::vector<std::string> out;
  for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
    if (const char* value = std::getenv(name)) out.push_back(std::string(name) + "=" + value);
  return out;
}

}  // namespace velmo::test
