#pragma once
// The one seam through which code talks to the user: message boxes, input
// boxes, the folder picker and the mail-profile chooser. The main program
// installs a windowed implementation; an unattended run gives every box its
// cautious answer and logs it; tests answer from a script.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velmo::ui {

// Buttons and icons of a message box, combined by addition.
enum : int {
  vbOKOnly = 0,
  vbOKCancel = 1,
  vbAbortRetryIgnore = 2,
  vbYesNoCancel = 3,
  vbYesNo = 4,
  vbRetryCancel = 5,
  vbCritical = 16,
  vbQuestion = 32,
  vbExclamation = 48,
  vbInformation = 64,
  vbDefaultButton2 = 256,
  vbDefaultButton3 = 512,
};

// Answers of a message box.
enum : int { vbOK = 1, vbCancel = 2, vbAbort = 3, vbRetry = 4, vbIgnore = 5, vbYes = 6, vbNo = 7 };

// The answer a box gives when nobody can click it: its default button.
int DefaultAnswer(int buttons);

// A printer and its job settings as the printer set-up dialog shows and
// returns them. paper is a QPageSize::PageSizeId value (-1: the device's
// own default); orientation 0 portrait, 1 landscape; duplex a
// QPrinter::DuplexMode value. file is the PDF file the user named for the
// PDF device ("" for a new file in the application's Print folder).
struct PrinterSettings {
  std::string device;
  std::string file;
  int paper = -1;
  int orientation = 0;
  int copies = 1;
  int duplex = 0;
  bool operator==(const PrinterSettings&) const = default;
};

// A save-file dialog: what it opens on and, after OK, what was chosen.
// filters are shown in order ("SQLite database (*.mdb)"); filterIndex is
// the 1-based filter shown first and, on return, the one chosen. With
// confirmOverwrite the dialog itself asks before an existing file is
// chosen.
struct SaveFileRequest {
  std::string title;
  std::string folder;
  std::vector<std::string> filters;
  int filterIndex = 1;
  bool confirmOverwrite = true;
};

class UiSeam {
 public:
  virtual ~UiSeam() = default;
  // A message box; returns the button clicked.
  virtual int MsgBox(const std::string& prompt, int buttons, const std::string& title) = 0;
  // An input box; false on Cancel. value holds the default on entry.
  virtual bool InputBox(const std::string& prompt, const std::string& title, std::string& value) = 0;
  // The folder picker owned by a window (an id from RegisterWindow, 0 for
  // none); "" when cancelled.
  virtual std::string BrowseForFolder(long ownerWindowId) = 0;
  // The mail-profile chooser; false on Cancel.
  virtual bool ChooseProfile(const std::vector<std::string>& profiles, long ownerWindowId,
                             std::string& chosen) = 0;
  // True when nobody is there to answer.
  virtual bool Unattended() const = 0;
  // The printer set-up dialog, pre-set from settings; true on OK with the
  // user's choice written back. The base answers Cancel.
  virtual bool PrinterSetup(PrinterSettings& settings, long ownerWindowId);
  // The save-file dialog; the chosen path ("" on Cancel) with
  // request.filterIndex set to the filter chosen. The base answers Cancel.
  virtual std::string SaveFileName(SaveFileRequest& request, long ownerWindowId);
};

// The installed seam (an UnattendedUi until a program installs another).
UiSeam& Ui();
std::shared_ptr<UiSeam> SetUi(std::shared_ptr<UiSeam> ui);  // returns the previous one

// Gives every box its cautious answer (No, Cancel or Abort where it offers
// one, else OK), every input box, folder picker and profile chooser its
// Cancel, and hands each one's text to a sink (a log writer), so
// unattended code never blocks.
class UnattendedUi : public UiSeam {
 public:
  using Sink = std::function<void(const std::string& what)>;
  explicit UnattendedUi(Sink sink = {}) : sink_(std::move(sink)) {}
  int MsgBox(const std::string& prompt, int buttons, const std::string& title) override;
  bool InputBox(const std::string& prompt, const std::string& title, std::string& value) override;
  std::string BrowseForFolder(long ownerWindowId) override;
  bool ChooseProfile(const std::vector<std::string>& profiles, long ownerWindowId,
                     std::string& chosen) override;
  bool Unattended() const override { return true; }

 private:
  Sink sink_;
};

// Window handles passed between components are ids, resolved here; never a
// pointer cut to 32 bits.
long RegisterWindow(void* window);
void UnregisterWindow(long id);
void* WindowFromId(long id);

}  // namespace velmo::ui
