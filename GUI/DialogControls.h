#pragma once
// Small behaviours the dialogs share: controls placed in twips, server-name
// boxes that turn typed letters into capitals, and captions laid out so that
// their whole text shows at the font the dialog is drawn with.
#include <QRect>
#include <QString>
#include <QWidget>
#include <string>

class QLabel;
class QPushButton;
class QTreeWidget;

// A rectangle given in twips, the unit the windows are laid out in (15 to
// a pixel).
inline QRect Twips(int left, int top, int width, int height) {
  return QRect(left / 15, top / 15, width / 15, height / 15);
}

// A control of type W on parent, named (its objectName) and placed.
template <class W>
W* MakeControl(QWidget* parent, const std::string& name, const QRect& geometry) {
  auto* w = new W(parent);
  w->setObjectName(QString::fromStdString(name));
  w->setGeometry(geometry);
  return w;
}
// A label with its caption; a push button that is never an automatic
// default (Enter acts only where the window says so).
QLabel* MakeLabel(QWidget* parent, const std::string& name, const char* caption, const QRect& geometry);
QPushButton* MakeButton(QWidget* parent, const std::string& name, const char* caption, const QRect& geometry);

// Letters "a" to "z" typed into the box arrive as "A" to "Z"; every other
// character, and text pasted or set by the program, passes unchanged.
// Works wherever the key presses arrive: on the box itself (an editable
// combo box takes them and hands them to its line edit) and on its inner
// line edit.
void UpperCaseTypedLetters(QWidget* box);

// Widens a caption (a label, or a check box with its text) to its whole
// text. With a box beside it, the box's left edge moves right as far as
// the caption needs (its right edge stays), so the caption is never
// covered.
void FitCaption(QWidget* caption, QWidget* besideBox = nullptr);

// Whole node texts in a one-column tree: the column is as wide as its
// widest text, and a narrow pane scrolls sideways instead of cutting texts
// short.
void ShowWholeNodeTexts(QTreeWidget* tree);
