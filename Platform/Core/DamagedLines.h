#pragma once
// The damaged lines a reader of a text file meets, kept for its log: the
// first kMaxLoggedLines of them by line number one by one, the others only
// counted, so that what is kept stays the same size whatever the file holds.
#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

namespace velmo {

inline constexpr int kMaxLoggedLines = 20;

// T has an int member `line` (from 1; 0 for the file as a whole).
template <class T>
class DamagedLines {
 public:
  // Notes a line, in any order; a line already kept keeps its first note.
  void Add(T entry) {
    const auto at = std::upper_bound(kept_.begin(), kept_.end(), entry.line,
                                     [](int line, const T& e) { return line < e.line; });
    if (at != kept_.begin() && std::prev(at)->line == entry.line) return;
    if (kept_.size() == static_cast<size_t>(kMaxLoggedLines)) {
      ++more_;
      if (at == kept_.end()) return;
      kept_.pop_back();
    }
    kept_.insert(at, std::move(entry));
  }
  // The kept lines, in line order.
  auto begin() const { return kept_.begin(); }
  auto end() const { return kept_.end(); }
  bool empty() const { return kept_.empty(); }
  // How many were noted beyond those kept.
  size_t More() const { return more_; }
  size_t Count() const { return kept_.size() + more_; }

 private:
  std::vector<T> kept_;
  size_t more_ = 0;
};

}  // namespace velmo
