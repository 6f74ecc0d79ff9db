// The connect dialog.
#include "frmConnect.h"

#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "ComError.h"
#include "Mdifrm.h"
#include "TextParts.h"
#include "DialogControls.h"
#include "Ui.h"
#include "frmAutoFormat.h"
#include "frmFavourites.h"
#include "modExch.h"
#include "modExchConnect.h"
#include "modGlobals.h"

using velmo::ui::Ui;

frmConnect* gfrmConnect = nullptr;

namespace {

// The layout's positions are in twips; 15 twips make a pixel.

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The login name of a user id in the account database ("" when it has no
// entry): what names the user when the environment does not.
std::string AccountName(uid_t uid) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 4096);
  for (;;) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    return rc == 0 && found && found->pw_name ? found->pw_name : "";
  }
}

void SetMainStatus(const std::string& text) {
  if (!gMdifrm) return;
  if (QLabel* panel = gMdifrm->Panel(1)) panel->setText(QString::fromStdString(text));
}

}  // namespace

std::string DefaultConnectUser() {
  // As a local logon's domain is its computer's name: without USERDOMAIN
  // the domain is the short host name in upper case.
  std::string domain = Env("USERDOMAIN");
  if (domain.empty()) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) {
      domain = host;
      domain = velmo::text::UpperAscii(domain.substr(0, domain.find('.')));
    }
  }
  std::string name = Env("USERNAME");
  if (name.empty()) name = Env("USER");
  if (name.empty()) name = AccountName(::getuid());
  return domain + "\\" + name;
}

frmConnect::frmConnect(QWidget* parent) : QDialog(parent) {
  setObjectName("frmConnect");
  setWindowTitle("Connect to Exchange Server");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(4980 / 15, 3630 / 15);

  lblServerName = new QLabel("&Server Name :", this);
  lblServerName->setObjectName("lblServerName");
  lblServerName->setGeometry(Twips(120, 150, 1095, 255));

  cboServerName = new QComboBox(this);
  cboServerName->setObjectName("cboServerName");
  cboServerName->setEditable(true);
  cboServerName->setInsertPolicy(QComboBox::NoInsert);
  // A plain drop-down: what the user typed is what connects. No completion
  // replaces "EX1" by a listed "EX10", and Enter does not swap the text for
  // a list entry that differs in case.
  cboServerName->setCompleter(nullptr);
  cboServerName->setDuplicatesEnabled(true);
  cboServerName->setGeometry(Twips(1320, 120, 3495, 315));
  lblServerName->setBuddy(cboServerName);

  lblNotes = new QLabel(this);
  lblNotes->setObjectName("lblNotes");
  lblNotes->setGeometry(Twips(120, 550, 4815, 735));
  {
    // The note is three fixed lines in a fixed box: one point smaller than
    // the dialog font, so the longest line fits.
    QFont small = lblNotes->font();
    if (small.pointSize() > 7) small.setPointSize(small.pointSize() - 1);
    lblNotes->setFont(small);
  }

  cmdOk = new QPushButton("&OK", this);
  cmdOk->setObjectName("cmdOk");
  cmdOk->setGeometry(Twips(1320, 1245, 1120, 375));
  cmdOk->setDefault(true);

  cmdCancel = new QPushButton("&Cancel", this);
  cmdCancel->setObjectName("cmdCancel");
  cmdCancel->setGeometry(Twips(2520, 1245, 1120, 375));
  cmdCancel->setAutoDefault(false);

  cmdOptions = new QPushButton("O&ptions >>", this);
  cmdOptions->setObjectName("cmdOptions");
  cmdOptions->setGeometry(Twips(3720, 1245, 1120, 375));
  cmdOptions->setAutoDefault(false);

  frOptions = new QGroupBox("Options", this);
  frOptions->setObjectName("frOptions");
  frOptions->setGeometry(Twips(80, 1630, 4815, 1935));

  chkDefault = new QCheckBox("Set as &default", frOptions);
  chkDefault->setObjectName("chkDefault");
  chkDefault->setGeometry(Twips(120, 240, 1575, 375));
  chkFavorites = new QCheckBox("Add to &Favorites", frOptions);
  chkFavorites->setObjectName("chkFavorites");
  chkFavorites->setGeometry(Twips(3000, 240, 1695, 375));
  chkConnectAs = new QCheckBox("Connect &As", frOptions);
  chkConnectAs->setObjectName("chkConnectAs");
  chkConnectAs->setGeometry(Twips(120, 720, 1575, 255));

  lblUserName = new QLabel("&User Name : ", frOptions);
  lblUserName->setObjectName("lblUserName");
  lblUserName->setGeometry(Twips(120, 1118, 1095, 255));
  txtUserName = new QLineEdit(frOptions);
  txtUserName->setObjectName("txtUserName");
  txtUserName->setGeometry(Twips(1080, 1080, 3615, 330));
  lblUserName->setBuddy(txtUserName);

  lblPassword = new QLabel("Pass&word   : ", frOptions);
  lblPassword->setObjectName("lblPassword");
  lblPassword->setGeometry(Twips(120, 1500, 1095, 255));
  txtPassword = new QLineEdit(frOptions);
  txtPassword->setObjectName("txtPassword");
  txtPassword->setEchoMode(QLineEdit::Password);
  txtPassword->setGeometry(Twips(1080, 1500, 3615, 330));
  lblPassword->setBuddy(txtPassword);

  // The captions keep their whole text at the dialog's font; the boxes
  // beside them give way.
  FitCaption(lblServerName, cboServerName);
  FitCaption(lblUserName, txtUserName);
  FitCaption(lblPassword, txtPassword);
  for (QWidget* box : {chkDefault, chkFavorites, chkConnectAs}) FitCaption(box);

  setTabOrder(cboServerName, cmdOk);
  setTabOrder(cmdOk, cmdCancel);
  setTabOrder(cmdCancel, cmdOptions);
  setTabOrder(cmdOptions, chkDefault);
  setTabOrder(chkDefault, chkFavorites);
  setTabOrder(chkFavorites, chkConnectAs);
  setTabOrder(chkConnectAs, txtUserName);
  setTabOrder(txtUserName, txtPassword);

  connect(cboServerName, &QComboBox::editTextChanged, this, [this] { cboServerName_Change(); });
  connect(cboServerName, &QComboBox::activated, this, [this] { cboServerName_Change(); });
  connect(chkConnectAs, &QCheckBox::toggled, this, [this] { chkConnectAs_Click(); });
  connect(cmdOptions, &QPushButton::clicked, this, [this] { cmdOptions_Click(); });
  connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOk_Click(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  UpperCaseTypedLetters(cboServerName);
}

frmConnect::~frmConnect() {
  if (gfrmConnect == this) gfrmConnect = nullptr;
}

void frmConnect::Form_Load() {
  if (loaded_) return;
  loaded_ = true;

  if (gMdifrm && gMdifrm->blnFromRefresh) {
    std::string node;
    if (ExchWindow* active = ActiveExchWindowOfMdi()) {
      TreeNodeInfo selected = active->SelectedNode();
      if (selected.valid) node = selected.text;
    }
    setWindowTitle(QString::fromStdString("Refresh '" + node + "'"));
    cboServerName->setEditText(QString::fromStdString(node));
    cboServerName->setEnabled(false);
  }

  for (QWidget* w : {static_cast<QWidget*>(lblUserName), static_cast<QWidget*>(txtUserName),
                     static_cast<QWidget*>(lblPassword), static_cast<QWidget*>(txtPassword)})
    w->setEnabled(false);
  cboServerName_Change();

  lblNotes->setText(QString::fromStdString(
      std::string("Note: To connect, enable the following at the Site/Server Level:") + "\r\n" +
      "           - Lightweight Directory Access Protocol (LDAP) protocol " + "\r\n" +
      "           - Windows NT Challenge/Response Authentication"));

  txtUserName->setText(QString::fromStdString(DefaultConnectUser()));
  // The password starts empty: Connect As sends exactly what was typed.
  txtPassword->clear();

  optionsHeight_ = frOptions->height();
  frOptions->hide();
  setFixedHeight(height() - optionsHeight_);

  try {
    const std::string typed = cboServerName->currentText().toStdString();
    for (const std::string& server : ReadFavouriteServers())
      cboServerName->addItem(QString::fromStdString(server));
    // Adding to the list must not replace what the box shows.
    cboServerName->setEditText(QString::fromStdString(typed));
  } catch (const velmo::ComError& e) {
    LogFailure("Connect_Form_Load RecordsetObjectOpen Failed", e);
  }
}

void frmConnect::cboServerName_Change() { cmdOk->setEnabled(!cboServerName->currentText().isEmpty()); }

void frmConnect::chkConnectAs_Click() {
  const bool on = chkConnectAs->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(lblUserName), static_cast<QWidget*>(txtUserName),
                     static_cast<QWidget*>(lblPassword), static_cast<QWidget*>(txtPassword)})
    w->setEnabled(on);
}

void frmConnect::cmdOptions_Click() {
  if (cmdOptions->text() != "<< O&ptions") {
    cmdOptions->setText("<< O&ptions");
    setFixedHeight(height() + optionsHeight_);
    frOptions->show();
  } else {
    cmdOptions->setText("O&ptions >>");
    setFixedHeight(height() - optionsHeight_);
    frOptions->hide();
  }
}

void frmConnect::cmdOk_Click() {
  if (!gMdifrm) return;
  gMdifrm->blnClickedOK = true;
  if (gMdifrm->blnFromRefresh) {
    UnloadConnectDialog();
    return;
  }

  // A Connect As user must name its domain; the dialog stays open to
  // correct it.
  if (chkConnectAs->isChecked()) {
    std::string dn;
    if (!ConnectAsDistinguishedName(UserNameText(), dn)) {
      Ui().MsgBox(kConnectAsFormatMessage, velmo::ui::vbInformation, kProductTitle);
      txtUserName->setFocus();
      return;
    }
  }

  gMdifrm->strFavoriteORDefaultServer = ServerText();
  gMdifrm->iFavoriteORDefaultServer = 2;

  if (gMdifrm->iFromCustomReport == 2 && gCustomReportForConnect) {
    if (CustomReportConnectTarget* report = gCustomReportForConnect()) {
      for (const std::string& text : report->ServerNodeTexts())
        if (text == gMdifrm->strFavoriteORDefaultServer) {
          UnloadConnectDialog();
          return;
        }
    }
  }

  ConnectInProgressWindow();
  if (gbConnected) ShowConnectedWindow();
}

void frmConnect::cmdCancel_Click() {
  if (gMdifrm) gMdifrm->blnClickedOK = false;
  hide();
}

void frmConnect::CloseOnEscape(int KeyCode) {
  if (KeyCode != 27) return;
  if (gMdifrm) gMdifrm->blnClickedOK = false;
  if (gfrmConnect == this)
    UnloadConnectDialog();
  else
    hide();
}

void frmConnect::reject() { CloseOnEscape(27); }

void frmConnect::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    CloseOnEscape(27);
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmConnect::ShowModal() {
  setWindowModality(Qt::ApplicationModal);
  exec();
}

std::string frmConnect::ServerText() const { return cboServerName->currentText().toStdString(); }
bool frmConnect::ConnectAsTicked() const { return chkConnectAs->isChecked(); }
std::string frmConnect::UserNameText() const { return txtUserName->text().toStdString(); }
std::string frmConnect::PasswordText() const { return txtPassword->text().toStdString(); }
bool frmConnect::FavoritesTicked() const { return chkFavorites->isChecked(); }
bool frmConnect::DefaultTicked() const { return chkDefault->isChecked(); }

frmConnect& ConnectDialog() {
  if (!gfrmConnect) {
    gfrmConnect = new frmConnect(gMdifrm);
    gfrmConnect->Form_Load();
  }
  return *gfrmConnect;
}

void UnloadConnectDialog() {
  frmConnect* dialog = gfrmConnect;
  if (!dialog) return;
  gfrmConnect = nullptr;
  SetMainStatus("");
  // Hiding ends a modal show that may still be running below this call;
  // the dialog goes once control is back in the event loop.
  dialog->hide();
  dialog->deleteLater();
}

void ShowConnectDialogAndUnload() {
  ConnectDialog().ShowModal();
  UnloadConnectDialog();
}
