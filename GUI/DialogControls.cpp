#include "DialogControls.h"

#include <QComboBox>
#include <QHeaderView>
#include <QTreeWidget>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace {

// Replaces a typed small letter by its capital: the key press is sent on
// again, to the same receiver, with the capital as its text, so the box
// handles it exactly as a typed capital.
class CapitalLetters : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (text.size() != 1 || text[0] < QLatin1Char('a') || text[0] > QLatin1Char('z')) return false;
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    QKeyEvent capital(QEvent::KeyPress, key->key(), key->modifiers() | Qt::ShiftModifier, text.toUpper(),
                      key->isAutoRepeat(), static_cast<quint16>(key->count()));
    QCoreApplication::sendEvent(watched, &capital);
    return true;
  }
};

constexpr int kCaptionGap = 4;  // pixels between a caption and its box

}  // namespace

void UpperCaseTypedLetters(QWidget* box) {
  if (!box) return;
  auto* filter = new CapitalLetters(box);
  box->installEventFilter(filter);
  if (auto* combo = qobject_cast<QComboBox*>(box))
    if (QLineEdit* edit = combo->lineEdit()) edit->installEventFilter(filter);
}

void FitCaption(QWidget* caption, QWidget* besideBox) {
  if (!caption) return;
  const int needed = caption->sizeHint().width();
  if (caption->width() < needed) caption->resize(needed, caption->height());
  if (!besideBox || besideBox->parentWidget() != caption->parentWidget()) return;
  const int textRight = caption->x() + needed + kCaptionGap;
  if (besideBox->x() >= textRight) return;
  const int right = besideBox->geometry().right();
  besideBox->setGeometry(textRight, besideBox->y(), std::max(1, right - textRight + 1), besideBox->height());
  // The caption ends where the box begins.
  caption->resize(std::min(caption->width(), besideBox->x() - caption->x()), caption->height());
}

QLabel* MakeLabel(QWidget* parent, const std::string& name, const char* caption, const QRect& geometry) {
  auto* l = MakeControl<QLabel>(parent, name, geometry);
  l->setText(caption);
  return l;
}

QPushButton* MakeButton(QWidget* parent, const std::string& name, const char* caption, const QRect& geometry) {
  auto* b = MakeControl<QPushButton>(parent, name, geometry);
  b->setText(caption);
  b->setAutoDefault(false);
  return b;
}

void ShowWholeNodeTexts(QTreeWidget* tree) {
  tree->setColumnCount(1);
  tree->header()->setStretchLastSection(false);
  tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tree->setTextElideMode(Qt::ElideNone);
  tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}
