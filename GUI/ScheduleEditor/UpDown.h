#pragma once
// A spin control that stands beside a text box: two small arrow buttons
// holding a value within a minimum and a maximum, optionally wrapping
// round at the ends. It never takes the focus, so clicking it leaves the
// focus in the box it steps. Change() is raised whenever the value
// changes (by the user or by code); UpClick() and DownClick() only after
// the user stepped it.
#include <QWidget>

class QToolButton;

class UpDown : public QWidget {
  Q_OBJECT

 public:
  explicit UpDown(QWidget* parent = nullptr);

  int Value() const { return value_; }
  // A value outside the range is ignored, as the control refuses it.
  void SetValue(int value);
  int Max() const { return max_; }
  void SetRange(int min, int max);
  void SetWrap(bool wrap) { wrap_ = wrap; }

  // The user's clicks on the arrows.
  void ClickUp();
  void ClickDown();

 signals:
  void Change();
  void UpClick();
  void DownClick();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Step(int delta);
  QToolButton* up_ = nullptr;
  QToolButton* down_ = nullptr;
  int value_ = 0;
  int min_ = 0;
  int max_ = 10;
  bool wrap_ = false;
};

// True when the key event would type a character the digit rule refuses:
// only the digits 0 to 9 and Backspace may be typed, and nothing pasted by
// keys; keys that type nothing (arrows, Tab, Enter, Esc) pass.
bool RefusedByDigitRule(const class QKeyEvent& event);
