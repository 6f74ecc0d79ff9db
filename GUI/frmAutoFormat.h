#pragma once
// The shared modal progress window: the connect (iEPInfo 0) and Export
// Plus's retrieve (1) and export or print (2) run from its activation, with
// a status line and a Cancel button. The operation runs on the
// user-interface thread; while the directory layer waits on a server it
// calls DirectoryWaitHook, which lets events run, and Export Plus yields
// between its steps, so the window stays painted and Cancel stays
// clickable.
#include <QDialog>

#include <chrono>
#include <string>

#include "CollectionLock.h"

class QLabel;
class QPushButton;

class frmAutoFormat : public QDialog {
  Q_OBJECT

 public:
  explicit frmAutoFormat(QWidget* parent = nullptr);
  ~frmAutoFormat() override;

  // 0 connect (the value on load), 1 retrieve, 2 export or print, 3 wait
  // while another program collects the Export Plus server.
  short iEPInfo = 0;
  // Operation 3: the lock it waits to take, and how the wait ended.
  velmo::exporting::CollectionLock* collectionLock = nullptr;
  velmo::exporting::CollectionLock::Outcome collectionOutcome = velmo::exporting::CollectionLock::Outcome::GivenUp;

  QLabel* lblStatus = nullptr;
  QPushButton* cmdCancel = nullptr;
  QLabel* lblAutoFormat = nullptr;

  // Shows the window modally, runs the operation chosen by iEPInfo and
  // closes the window when it returns.
  void ShowModal();
  // The operation (the window's activation).
  void Form_Activate();
  // While connecting or waiting for another program's collection: gives
  // it up at once, without a question.
  // For Export Plus: asks the cancel question; Yes tells Export Plus to
  // stop and hides the window.
  void cmdCancel_Click();
  // True once Cancel gave the running connect up.
  bool ConnectCancelled() const { return connectCancelled_; }
  // True once Cancel gave the running operation up (the connect, or
  // Export Plus's run after its question's Yes): its directory waits end.
  bool WaitsGivenUp() const;

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
  void WaitForCollection();

  std::string cancelQuestion_;
  bool running_ = false;
  bool connectCancelled_ = false;
  bool waitCancelled_ = false;
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

// Shows a text in the first panel of the main window's status bar, at once.
void SetStatusText(const std::string& text);
// Empties that panel when it still tells of earlier work that stopped or
// kept rows back (a wait given up, a collection stopped, rows of an
// unfinished collection not shown): called as later work begins.
void ClearStoppedStatusText();

// Escape taken as the wish to stop waiting: while ProcessEvents runs, the
// user's other keys and clicks are dropped on every window, as a
// collection holds them off.
class EscapeWatch : public QObject {
 public:
  // Lets pending events run once with the watch on.
  void ProcessEvents();
  bool pressed = false;
  // A button whose click is taken as Escape too (the Close of a window
  // whose wait it gives up), and whether it was clicked.
  QWidget* alsoStops = nullptr;
  bool stopClicked = false;
  // Escape gave up a wait for another program's write lock of the
  // database (DatabaseLockWaitHook).
  bool lockWaitGivenUp = false;
  // The status text a lock wait put up, and the one it replaced.
  bool lockWaitShown = false;
  std::string beforeLockWait;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// The watch of the browse window collecting now, or of the Export Plus
// window checking that its server answers (nullptr when none): the wait
// hook serves it, so Escape gives the directory's waits up.
extern EscapeWatch* gCollectionEscape;

// Puts back the status text that the watch's lock wait replaced, once
// nothing waits any more (before any box of the work that waited).
void EndLockWaitText(EscapeWatch& escape);

// The program's wait hook for the directory layer (velmo::ads::SetWaitHook),
// called every 50 ms or so while a directory call waits: on the
// user-interface thread it lets pending events run, so windows repaint and
// posted work is done; user input reaches only the open progress window
// (its Cancel) or a collecting browse window's Escape, and waits for the
// others. While a page's rows are being written (velmo::ads::PacingWork)
// it only repaints: no question opens inside the write transaction, and
// input waits until the commit is done. False, to give the wait up, once
// the progress window's Cancel gave its operation up, Escape was pressed
// during a browse window's collection or a stop signal came. On any other
// thread it does nothing.
bool DirectoryWaitHook();

// The program's lock-wait hook for the database layer
// (velmo::db::SetLockWaitHook), called while a statement waits for another
// program's write lock: as DirectoryWaitHook does for a directory wait, so
// a collecting browse window's Escape gives the wait up; that window's
// status text says meanwhile that the database is locked. While a page's
// rows are being written it only repaints, as the wait hook does then.
bool DatabaseLockWaitHook();
