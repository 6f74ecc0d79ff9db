#include "UpDown.h"

#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QToolButton>

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
  up_ = new QToolButton(this);
  up_->setObjectName("up");
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setObjectName("down");
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
  }
  setFocusPolicy(Qt::NoFocus);
  connect(up_, &QToolButton::clicked, this, [this] { ClickUp(); });
  connect(down_, &QToolButton::clicked, this, [this] { ClickDown(); });
}

void UpDown::resizeEvent(QResizeEvent*) {
  const int h = height() / 2;
  up_->setGeometry(0, 0, width(), h);
  down_->setGeometry(0, h, width(), height() - h);
}

void UpDown::SetValue(int value) {
  if (value < min_ || value > max_ || value == value_) return;
  value_ = value;
  emit Change();
}

void UpDown::SetRange(int min, int max) {
  min_ = min;
  max_ = max;
  if (value_ < min_) value_ = min_;
  if (value_ > max_) value_ = max_;
}

void UpDown::Step(int delta) {
  if (!isEnabled()) return;
  int v = value_ + delta;
  if (v > max_) v = wrap_ ? min_ : max_;
  if (v < min_) v = wrap_ ? max_ : min_;
  if (v != value_) {
    value_ = v;
    emit Change();
  }
}

void UpDown::ClickUp() {
  if (!isEnabled()) return;
  Step(1);
  emit UpClick();
}

void UpDown::ClickDown() {
  if (!isEnabled()) return;
  Step(-1);
  emit DownClick();
}

bool RefusedByDigitRule(const QKeyEvent& event) {
  if (event.matches(QKeySequence::Paste)) return true;
  const QString text = event.text();
  if (text.isEmpty()) return false;
  const QChar c = text.at(0);
  if (c.isDigit() && c.unicode() < 128) return false;
  if (c.unicode() == 8) return false;  // Backspace
  return c.unicode() >= 32 && c.unicode() != 127;
}

