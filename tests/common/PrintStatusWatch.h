#pragma once
// Watches the print component's status windows as they show: one entry per
// window, the delay its job waits before it prints (its Timer1's interval,
// -1 without one), so a test tells a batch's jobs (no delay) from a single
// job's one-second grace without timing the run.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

namespace velmo::test {

class PrintStatusWatch : public QObject {
 public:
  PrintStatusWatch() { qApp->installEventFilter(this); }
  ~PrintStatusWatch() override { qApp->removeEventFilter(this); }

  std::vector<int> delays;
  // Called for each status window as it shows.
  std::function<void(QWidget*)> onShow;

  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Show && o->isWidgetType() && o->objectName() == "frmPrintStatus") {
      auto* timer = o->findChild<QTimer*>("Timer1");
      delays.push_back(timer ? timer->interval() : -1);
      if (onShow) onShow(static_cast<QWidget*>(o));
    }
    return false;
  }
};

}  // namespace velmo::test
