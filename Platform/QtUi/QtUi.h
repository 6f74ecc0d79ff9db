#pragma once
// The UI seam shown as windows: the program installs it with
// velmo::ui::SetUi(std::make_shared<velmo::QtUi>()). Every box is modal and
// must be opened on the thread that runs the application's event loop.
//
// Owner windows given by id (velmo::ui::RegisterWindow) must have been
// registered with a QWidget pointer; an id that does not resolve to a live
// widget opens the dialog without an owner.
#include <string>
#include <vector>

#include "Ui.h"

class QWidget;

namespace velmo {

class QtUi : public ui::UiSeam {
 public:
  // Buttons and icons as vbOKOnly..vbRetryCancel, vbCritical..vbInformation
  // and vbDefaultButton2/3 combine them; returns vbOK..vbNo. An empty title
  // shows the application's name. The prompt is shown as plain text.
  int MsgBox(const std::string& prompt, int buttons, const std::string& title) override;
  // value holds the default on entry and the typed text after OK.
  bool InputBox(const std::string& prompt, const std::string& title, std::string& value) override;
  // Folders only, no title text; "" when cancelled.
  std::string BrowseForFolder(long ownerWindowId) override;
  // The dialog "frmChooseProfile" with the list "lstProfiles" and the
  // buttons "cmdOk" and "cmdCancel"; the entry equal to `chosen` on entry is
  // selected first. With no profile to offer it returns false at once.
  bool ChooseProfile(const std::vector<std::string>& profiles, long ownerWindowId,
                     std::string& chosen) override;
  bool Unattended() const override { return false; }
  // The print dialog in set-up form (no page range), opened on the given
  // printer; its Properties carry paper and orientation. Its "Print to
  // File (PDF)" entry is the PDF device with the file the user names.
  bool PrinterSetup(ui::PrinterSettings& settings, long ownerWindowId) override;
  // The file dialog in save form ("dlgSaveFile"), opened in the folder
  // with the filters; asks before replacing a file when the request says so.
  std::string SaveFileName(ui::SaveFileRequest& request, long ownerWindowId) override;

  // Closes every window of the seam that is open now (message, input,
  // folder, file, profile and printer set-up) as its Cancel; a message box
  // takes its escape button, the cautious answer. For a stop: nobody is
  // left to answer them.
  static void CancelOpenQuestions();

  // The live widget registered under the id, or nullptr.
  static QWidget* OwnerFromId(long ownerWindowId);
};

}  // namespace velmo
