#pragma once
// The splash window shown for a second while the program starts.
#include <QWidget>

class QFrame;
class QLabel;

class frmSplash : public QWidget {
  Q_OBJECT

 public:
  explicit frmSplash(QWidget* parent = nullptr);

  // Fills the title block, version, contact and copyright lines.
  void Form_Load();

  QFrame* Frame1 = nullptr;
  QLabel* Image1 = nullptr;    // product picture
  QLabel* lblReadme = nullptr; // title block
  QLabel* Label1 = nullptr;    // version
  QLabel* Label3 = nullptr;    // "Velmorcast"
  QLabel* Label4 = nullptr;    // contact line
  QLabel* Label5 = nullptr;    // copyright line
};

// The product picture of the splash and About windows.
QPixmap ProductPicture(int size);

// The copyright line and the two contact lines of the splash and About
// windows (the splash shows the first contact line only).
extern const char* const kCopyrightLine;
extern const char* const kContactLine;
extern const char* const kWebLine;
