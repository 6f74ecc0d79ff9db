#pragma once
// Typing as a user does: a control is given the focus in its shown,
// active window, and each key goes to whatever widget holds the focus
// (QApplication::focusWidget(), else the active window), never straight to
// an inner child.
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <string>

#include "QtTestApp.h"

namespace velmo::test {

// Shows the control's window, makes it the active window and gives the
// control the focus. True when the focus is where a user's keys would go
// to the control: on it, or on a widget that takes keys for it.
inline bool FocusControl(QWidget* control) {
  QWidget* window = control->window();
  if (!window->isVisible()) window->show();
  window->raise();
  window->activateWindow();
  PumpEvents();
  control->setFocus(Qt::OtherFocusReason);
  PumpEvents();
  QWidget* focus = QApplication::focusWidget();
  return focus && (focus == control || control->isAncestorOf(focus) || focus->focusProxy() == control ||
                   control->focusProxy() == focus);
}

// The key code a character is typed with.
inline int KeyOf(QChar c) {
  if (c.isLetter() && c.unicode() < 128) return Qt::Key_A + (c.toUpper().unicode() - 'A');
  if (c.isDigit()) return Qt::Key_0 + (c.unicode() - '0');
  return c.unicode() < 128 ? c.unicode() : 0;
}

// One key pressed and released at the focus widget, or at the active
// window itself when none of its controls holds the focus.
inline void PressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {}) {
  QWidget* focus = QApplication::focusWidget();
  if (!focus) focus = QApplication::activeWindow();
  if (!focus) return;
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QCoreApplication::sendEvent(focus, &press);
  // The press may have moved the focus or closed the window.
  if (QWidget* still = QApplication::focusWidget()) {
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(still, &release);
  }
}

// Types the text at the focus widget, one key per character (capitals with
// Shift held).
inline void TypeText(const std::string& text) {
  for (char ch : text) {
    const QChar c = QLatin1Char(ch);
    const bool shifted = c.isUpper();
    PressKey(KeyOf(c), shifted ? Qt::ShiftModifier : Qt::NoModifier, QString(c));
  }
}

// Focuses the control and types into it.
inline bool TypeInto(QWidget* control, const std::string& text) {
  if (!FocusControl(control)) return false;
  TypeText(text);
  return true;
}

}  // namespace velmo::test
