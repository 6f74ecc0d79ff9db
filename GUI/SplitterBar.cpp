#include "SplitterBar.h"

#include <QMouseEvent>
#include <utility>

SplitterBar::SplitterBar(QWidget* owner, std::function<bool(QWidget*)> handles,
                         std::function<void(QWidget* target, int x)> dropped)
    : QWidget(owner), owner_(owner), handles_(std::move(handles)), dropped_(std::move(dropped)) {
  setCursor(Qt::SplitHCursor);
  setAutoFillBackground(true);
}

void SplitterBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = true;
}

void SplitterBar::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) return;
  dragging_ = false;
  const QPoint inOwner = mapTo(owner_, event->position().toPoint());
  QWidget* target = owner_->childAt(inOwner);
  while (target && target != owner_ && !handles_(target)) target = target->parentWidget();
  if (!target || target == owner_) return;
  dropped_(target, target->mapFrom(owner_, inOwner).x());
}
