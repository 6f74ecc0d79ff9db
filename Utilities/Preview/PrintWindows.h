#pragma once
// The print component's windows: the preview, its two option dialogs and
// the status window of a print run. Each serves the settings of one
// component object. Each control's object name is the name its window's code
// uses for it; members of a control array share one name and tell themselves
// apart by the property "Index".
#include <QDialog>
#include <QImage>
#include <memory>

#include "PrintControlVariables.h"
#include "Printers.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTimer;

namespace vlmrpreview {

// Shows PrinterProblemMessage titled ProductName, followed by why (a last
// line of its own, since the message ends with a line break) when given.
void ShowPrinterProblem(const PrintControlVariables& v, const std::string& why = "");

// The printer set-up dialog over owner: on OK the choice becomes the
// current printer and PrinterChanged is set; Cancel changes nothing.
void ShowPrinterDialog(QWidget* owner, PrintControlVariables& v);

// "Page Selection": sets PageSelection (0 nothing, 1 all, 2 current page).
class frmPageSelection : public QDialog {
  Q_OBJECT
 public:
  frmPageSelection(PrintControlVariables& v, QWidget* parent);

 protected:
  void showEvent(QShowEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  PrintControlVariables& v_;
  QRadioButton* opPageSelection1_;
  QRadioButton* opPageSelection2_;
  QPushButton* OKButton_;
};

// "Printer Option": the page number on or off and its corner.
class frmPageSettings : public QDialog {
  Q_OBJECT
 public:
  frmPageSettings(PrintControlVariables& v, QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  PrintControlVariables& v_;
  QCheckBox* chkPageNo_;
  QComboBox* cbPageAlign_;
};

// "Printer Status": prints every page one second after it shows (at once
// in batch mode); Esc or a close before then prints nothing, after it ends
// the job after the current page, and once the job has ended, while the
// window closes, deletes the file it wrote. The outcome goes to
// LastJobOutcome. In batch mode the window neither takes the keyboard nor
// blocks its parent's window, and Esc pressed there acts as Esc here.
class frmPrintStatus : public QDialog {
  Q_OBJECT
 public:
  frmPrintStatus(PrintControlVariables& v, QWidget* parent);
  ~frmPrintStatus() override;
  bool JobPending() const { return jobPending_; }
  // Shows the window and returns once it has closed: modal for a single
  // job, for a job of a batch not (see the constructor).
  void Run();

 protected:
  void showEvent(QShowEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void reject() override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void Timer1_Timer();
  void StopPendingOrEndedJob();
  PrintControlVariables& v_;
  QLabel* lblStatus_;
  QProgressBar* ProgBar_;
  QTimer* Timer1_;
  std::unique_ptr<velmo::FlexGrid> sData_, sHeader_;
  QWidget* pbSource_;
  bool jobPending_ = true;
  bool running_ = false;
  bool cancel_ = false;
};

// "Print Preview": one page at a time, fitted or at actual size.
class frmPreview : public QDialog {
  Q_OBJECT
 public:
  frmPreview(PrintControlVariables& v, QWidget* parent);
  ~frmPreview() override;

  void CopyMorePagesA(int colFrom, int colTo, int rowFrom, int rowTo);
  void SetWindowForZoomIn();
  void SetWindowForZoomOut();
  // The composed page (printer page size at 15 twips per pixel).
  const QImage& PageImage() const { return pageImage_; }
  bool FitToWindow() const { return fitToWindow_; }
  // True once the window has closed itself (a failure while loading).
  bool Closed() const { return closing_; }
  // The window's activation steps: caption, and a pending re-layout.
  void Activate();

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void reject() override;
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void Load();
  void Relayout();
  void ShowPage();
  void UpdateMoveButtons();
  void ToggleZoom();
  void MoveToPage(int index);
  void ShowPageOptions();
  void ClosePreview();
  void PrintFromPreview();
  void SetupPrinter();
  // Runs a command, trapping its failures: PrinterProblemMessage, then the
  // window closes.
  template <class F>
  void Trap(F&& f);
  void Freeze(bool on);

  PrintControlVariables& v_;
  velmo::printers::PageGeometry page_;
  QPushButton* cmdOperations_[5];
  QPushButton* cmdMove_[4];
  QLabel* lbPageNo_;
  QWidget* pbBase_;
  QWidget* pbData_;
  QWidget* pbTempData_;
  QWidget* pbTemp_;
  std::unique_ptr<velmo::FlexGrid> GData_, sHeader_;
  QScrollBar* HS_;
  QScrollBar* VS_;
  QMenu* PrintPopup_;
  QAction* MenuPrint_;
  QAction* MenuSetup_;
  QAction* MenuZoomin_;
  QAction* MenuZoomOut_;
  QAction* MenuOption_;
  QAction* MenuClose_;
  QImage pageImage_;
  bool fitToWindow_ = true;
  bool busy_ = false;
  bool cancel_ = false;
  bool closing_ = false;
  long windowId_ = 0;
};

}  // namespace vlmrpreview
