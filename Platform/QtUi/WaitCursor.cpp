#include "WaitCursor.h"

#include <QApplication>

namespace velmo::ui {

namespace {
bool HaveScreen() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }
}  // namespace

WaitCursor::WaitCursor(Qt::CursorShape shape, bool when) : on_(when && HaveScreen()) {
  if (on_) QApplication::setOverrideCursor(shape);
}

void WaitCursor::Release() {
  if (on_) QApplication::restoreOverrideCursor();
  on_ = false;
}

bool WaitCursor::AnyShown() { return HaveScreen() && QApplication::overrideCursor() != nullptr; }

}  // namespace velmo::ui
