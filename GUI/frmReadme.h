#pragma once
// One window for the Readme and License texts and the About box.
#include <QDialog>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

class frmReadme : public QDialog {
  Q_OBJECT

 public:
  explicit frmReadme(QWidget* parent = nullptr);

  // 0 Readme, 1 License, 2 About; set before Form_Load.
  short iReadmeORLicenseORAbout = 0;

  // Sets the window up for its mode.
  void Form_Load();
  // Reads "Readme.txt" (mode 0) or "License.txt" (mode 1) of the
  // application folder into the text box.
  void LoadReadmeText();
  // Form_Load, then shows the window modally.
  int ShowModal();

  QPlainTextEdit* txtReadme = nullptr;
  QPushButton* cmdClose = nullptr;
  QFrame* Frame1 = nullptr;
  QLabel* Picture1 = nullptr;
  QLabel* lblReadme = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Form_Resize();
};
