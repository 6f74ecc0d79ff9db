#pragma once
// The sanitizer options this test was started with, as NAME=value texts
// (set in the sanitizer build by tests/sanitizer-run.sh, absent otherwise).
// A test that starts a program with an environment of its own adds them, so
// the program's sanitizer reports land where the test's run collects them.
// Also the room a bound that only tells a return from a hang gives.
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

// How many times longer a program of this build may take before a test
// takes it for hung: a sanitizer build runs several times slower, more so
// on a machine busy with other builds.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr int kHangRoom = 5;
#else
inline constexpr int kHangRoom = 1;
#endif

// How many times more memory a program of this build holds at its peak:
// the sanitizer build shadows every byte and keeps freed blocks in
// quarantine for a while.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr long kMemoryRoom = 2;
#else
inline constexpr long kMemoryRoom = 1;
#endif

// A bound that only tells a return from a hang (seconds, milliseconds or
// a duration), with that room.
template <class Bound>
constexpr Bound HangBound(Bound bound) {
  return bound * kHangRoom;
}

}  // namespace velmo::test
