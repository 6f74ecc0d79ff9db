#pragma once
// Small behaviours the dialogs share: server-name boxes that turn typed
// letters into capitals, and captions laid out so that their whole text
// shows at the font the dialog is drawn with.
class QWidget;

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
