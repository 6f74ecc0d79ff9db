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
  int Min() const { return min_; }
  int Max() const { return max_; }
  void SetRange(int min, int max);
  void SetWrap(bool wrap) { wrap_ = wrap; }
  bool Wrap() const { return wrap_; }

  // The user's clicks on the arrows.
  void ClickUp();
  void ClickDown();

  QToolButton* upButton() const { return up_; }
  QToolButton* downButton() const { return down_; }

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

// Lets only the digits 0 to 9 and Backspace be typed into a text box;
// every other character (and pasting by keys) is swallowed. Keys that
// type nothing (arrows, Tab, Enter, Esc) pass.
void DigitsOnly(QWidget* box);
// True when the key event would type a character the digit rule refuses.
bool RefusedByDigitRule(const class QKeyEvent& event);
