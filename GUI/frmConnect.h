#pragma once
// The connect dialog: the user names a server (typed or picked from the
// favourites), optionally with Connect As credentials, and may make it the
// default server or add it to the favourites. OK records the pending
// connect in the main window and runs the connect in the progress window;
// the dialog stays open behind it until the connect is over.
//
// The dialog has one instance while it is loaded (ConnectDialog() loads it,
// running its Load; UnloadConnectDialog() removes it). Cancel only hides
// it; Escape unloads it.
#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class frmConnect : public QDialog {
  Q_OBJECT

 public:
  explicit frmConnect(QWidget* parent = nullptr);
  ~frmConnect() override;

  QLabel* lblServerName = nullptr;
  QComboBox* cboServerName = nullptr;
  QLabel* lblNotes = nullptr;
  QPushButton* cmdOk = nullptr;
  QPushButton* cmdCancel = nullptr;
  QPushButton* cmdOptions = nullptr;
  QGroupBox* frOptions = nullptr;
  QCheckBox* chkDefault = nullptr;
  QCheckBox* chkFavorites = nullptr;
  QCheckBox* chkConnectAs = nullptr;
  QLabel* lblUserName = nullptr;
  QLineEdit* txtUserName = nullptr;
  QLabel* lblPassword = nullptr;
  QLineEdit* txtPassword = nullptr;

  void Form_Load();
  void cboServerName_Change();
  void chkConnectAs_Click();
  void cmdOptions_Click();
  void cmdOk_Click();
  void cmdCancel_Click();
  // Escape (27) unloads the dialog without confirming.
  void CloseOnEscape(int KeyCode);

  // Shows the dialog modally; returns when it is hidden or unloaded.
  void ShowModal();

  // The server box's text, as the dialog reads it.
  std::string ServerText() const;
  // The Connect As user, password and the two option boxes, as the
  // progress window reads them.
  bool ConnectAsTicked() const;
  std::string UserNameText() const;
  std::string PasswordText() const;
  bool FavoritesTicked() const;
  bool DefaultTicked() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  bool loaded_ = false;
  int optionsHeight_ = 0;
};

// The loaded connect dialog, or nullptr.
extern frmConnect* gfrmConnect;
// The connect dialog, loaded (its Load run) when it is not.
frmConnect& ConnectDialog();
// Unloads the connect dialog when it is loaded.
void UnloadConnectDialog();
// Shows the connect dialog modally and unloads it when the show returns
// (what the main window's Connect, Custom Report and start-up do).
void ShowConnectDialogAndUnload();

// The default Connect As user, always "DOMAIN\name": the domain is
// USERDOMAIN, else (as a local logon's) the short host name in upper case;
// the name is USERNAME, else the login name in USER, else the name the
// account database gives the process's user id.
std::string DefaultConnectUser();
