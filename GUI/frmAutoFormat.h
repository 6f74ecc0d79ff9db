#pragma once
// The shared modal progress window: the connect (iEPInfo 0) and Export
// Plus's retrieve (1) and export or print (2) run from its activation, with
// a status line and, for Export Plus, a Cancel button. The operation runs
// on the user-interface thread; the window yields to the event loop before
// connecting, and Export Plus yields between its steps, so the window stays
// painted and Cancel stays clickable.
#include <QDialog>

#include <chrono>
#include <string>

class QLabel;
class QPushButton;

class frmAutoFormat : public QDialog {
  Q_OBJECT

 public:
  explicit frmAutoFormat(QWidget* parent = nullptr);
  ~frmAutoFormat() override;

  // 0 connect (the value on load), 1 retrieve, 2 export or print.
  short iEPInfo = 0;

  QLabel* lblStatus = nullptr;
  QPushButton* cmdCancel = nullptr;
  QLabel* lblAutoFormat = nullptr;

  // Shows the window modally, runs the operation chosen by iEPInfo and
  // closes the window when it returns.
  void ShowModal();
  // The operation (the window's activation).
  void Form_Activate();
  // Asks the cancel question; Yes tells Export Plus to stop and hides the
  // window.
  void cmdCancel_Click();

  // The question Cancel asks for the running operation.
  const std::string& CancelQuestion() const { return cancelQuestion_; }

  // Sets the status line and repaints it at once.
  void SetStatus(const std::string& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Connect();
  void Retrieve();
  void ExportOrPrint();
  void HideCancel();

  std::string cancelQuestion_;
  bool running_ = false;
};

// The progress window that is open now, nullptr when none.
extern frmAutoFormat* gfrmAutoFormat;

// Writes the status line of the open progress window (nothing when none is
// open).
void SetProgressStatus(const std::string& text);

// The run stamp "MM_DD_YYYY_HH_MM_SS" of a local time.
std::string RunStamp(std::chrono::system_clock::time_point when);

// Shows a progress window in connect mode for the pending connect and
// stores its result in gbConnected.
void ConnectInProgressWindow();
