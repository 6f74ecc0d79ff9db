#pragma once
// Windows drawn offscreen for a person to look at (kept under the build
// folder's window-shots folder), and the captions of a window that do not
// show their whole text: cut off at their edge or covered by a control
// beside it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "QtTestApp.h"

namespace velmo::test {

namespace fs = std::filesystem;

inline fs::path ShotFolder() {
  const fs::path folder = fs::path(VELMO_BINARY_DIR) / "window-shots";
  fs::create_directories(folder);
  return folder;
}

inline void SaveShot(QWidget* window, const std::string& name) {
  PumpEvents();
  const QPixmap picture = window->grab();
  EXPECT_FALSE(picture.isNull()) << name;
  EXPECT_TRUE(picture.save(QString::fromStdString((ShotFolder() / (name + ".png")).string()))) << name;
}

// The text a label shows: with a buddy, "&" marks the access key and
// "&&" is a literal ampersand.
inline QString Displayed(const QLabel* label) {
  QString text = label->text();
  if (!label->buddy()) return text;
  text.replace(QRegularExpression("&(?!&)"), "");
  return text.replace("&&", "&");
}

// Every caption of the window whose text does not show whole, with why.
inline std::vector<std::string> ClippedCaptions(QWidget* window) {
  std::vector<std::string> faults;
  auto name = [](const QWidget* w) { return w->objectName().toStdString() + " \"" + w->property("text").toString().toStdString() + "\""; };
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (!label->isVisibleTo(window) || label->text().isEmpty() || label->textFormat() == Qt::RichText) continue;
    const QRect inside = label->contentsRect();
    if (label->wordWrap()) {
      if (label->heightForWidth(inside.width()) > label->height())
        faults.push_back(name(label) + ": wrapped text taller than the label");
      continue;
    }
    const QFontMetrics metrics(label->font());
    int width = 0;
    const QStringList lines = Displayed(label).remove('\r').split('\n');
    for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
    const int height = metrics.lineSpacing() * static_cast<int>(lines.size());
    if (width > inside.width())
      faults.push_back(name(label) + ": needs " + std::to_string(width) + " px, has " + std::to_string(inside.width()));
    if (height > inside.height() + metrics.leading() + 2)
      faults.push_back(name(label) + ": needs " + std::to_string(height) + " px high, has " + std::to_string(inside.height()));
    // Where the text is drawn must not lie under a control beside it.
    const QRect text = QStyle::alignedRect(label->layoutDirection(), label->alignment(),
                                           QSize(std::min(width, inside.width()), std::min(height, inside.height())),
                                           inside)
                           .translated(label->pos());
    for (QObject* object : label->parentWidget()->children()) {
      auto* sibling = qobject_cast<QWidget*>(object);
      if (!sibling || sibling == label || !sibling->isVisibleTo(window) || sibling->isWindow()) continue;
      // Only what lies above the label in the drawing order covers it.
      if (label->parentWidget()->children().indexOf(sibling) < label->parentWidget()->children().indexOf(label)) continue;
      if (sibling->geometry().intersects(text))
        faults.push_back(name(label) + ": covered by " + sibling->objectName().toStdString());
    }
  }
  for (QAbstractButton* box : window->findChildren<QAbstractButton*>()) {
    if (!box->isVisibleTo(window) || box->text().isEmpty()) continue;
    if (!qobject_cast<QCheckBox*>(box) && !qobject_cast<QRadioButton*>(box)) continue;
    if (box->sizeHint().width() > box->width())
      faults.push_back(name(box) + ": needs " + std::to_string(box->sizeHint().width()) + " px, has " +
                       std::to_string(box->width()));
  }
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    if (!button->isVisibleTo(window) || button->text().isEmpty()) continue;
    const int width = button->fontMetrics().horizontalAdvance(QString(button->text()).remove('&'));
    if (width + 6 > button->width())
      faults.push_back(name(button) + ": needs " + std::to_string(width + 6) + " px, has " + std::to_string(button->width()));
  }
  return faults;
}

inline std::string JoinedLines(const std::vector<std::string>& lines) {
  std::ostringstream out;
  for (const auto& line : lines) out << line << "\n";
  return out.str();
}

// Shows the window at the program's font (8 points), draws it into the
// window-shots folder and checks that every caption shows whole; the font
// before comes back.
inline void ShotAtProgramFont(QWidget* window, const std::string& name) {
  const QFont before = QApplication::font();
  QFont font = before;
  font.setPointSize(8);
  QApplication::setFont(font);
  window->show();
  PumpEvents();
  EXPECT_EQ(JoinedLines(ClippedCaptions(window)), "") << name;
  SaveShot(window, name);
  QApplication::setFont(before);
}

}  // namespace velmo::test
