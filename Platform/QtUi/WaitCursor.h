#pragma once
// A pointer shape over the whole program for the life of a guard: the
// hourglass while an operation runs, or the ordinary pointer while a
// message waits for its answer in the middle of one. Where no QApplication
// runs (console tests, the scheduled run) nothing is shown.
#include <Qt>

namespace velmo::ui {

class WaitCursor {
 public:
  // Shows `shape` when `when` holds and there is a screen to show it on.
  explicit WaitCursor(Qt::CursorShape shape = Qt::WaitCursor, bool when = true);
  ~WaitCursor() { Release(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

  // Gives the pointer back before the guard ends (a message is about to
  // be shown); later calls do nothing.
  void Release();

  // Whether some guard's pointer is shown now.
  static bool AnyShown();

 private:
  bool on_;
};

}  // namespace velmo::ui
