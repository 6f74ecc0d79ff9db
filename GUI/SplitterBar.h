#pragma once
// The bar between a window's tree pane and its grid pane. Dragged with the
// mouse and dropped, it tells the window on which of its controls it was
// dropped and where; the window then moves the bar and sizes the panes.
#include <QWidget>
#include <functional>

class QMouseEvent;

class SplitterBar : public QWidget {
 public:
  // handles(w): whether the window handles a drop on its control w. A drop
  // on anything else lands on the nearest such control around it, or on
  // none (then nothing happens). dropped(target, x): x in target's
  // coordinates.
  SplitterBar(QWidget* owner, std::function<bool(QWidget*)> handles,
              std::function<void(QWidget* target, int x)> dropped);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QWidget* owner_;
  std::function<bool(QWidget*)> handles_;
  std::function<void(QWidget*, int)> dropped_;
  bool dragging_ = false;
};
