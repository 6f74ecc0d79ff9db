#include "Mdifrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "AppFolder.h"
#include "AppSchema.h"
#include "ComError.h"
#include "Database.h"
#include "DatabaseMaintenance.h"
#include "DateText.h"
#include "DefaultColumnSets.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "WriteJournal.h"
#include "frmReadme.h"
#include "frmSplash.h"
#include "modExch.h"
#include "modGlobals.h"

using velmo::ui::Ui;
namespace db = velmo::db;

Mdifrm* gMdifrm = nullptr;

namespace {

// The status bar's first panel: it asks for no width of its own and draws
// its text elided in the middle to the width it is given, the whole text
// as its tooltip, so a long text ("Printed to" and a deep path) never
// widens the main window.
class StatusTextPanel : public QLabel {
 public:
  using QLabel::QLabel;
  QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }
  QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent* e) override {
    QFrame::paintEvent(e);
    QPainter painter(this);
    const QRect area = contentsRect();
    style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                          fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()), foregroundRole());
  }
  bool event(QEvent* e) override {
    if (e->type() == QEvent::ToolTip) setToolTip(text());
    return QLabel::event(e);
  }
};

const std::string kConnectionPrefix = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";

std::string ProductCaption() { return std::string(kProductTitle) + " " + kVersionText; }

// Opens a window through its entry. The program installs every entry when
// it starts; a test that stands in for some windows leaves the others empty,
// and an empty entry does nothing.
template <class F, class... A>
void Open(const F& seam, A&&... args) {
  if (seam) seam(std::forward<A>(args)...);
}

// Sets a flag for the time of one call and puts it back however the call
// ends.
template <class T>
class FlagScope {
 public:
  FlagScope(T& flag, T during, T after) : flag_(flag), after_(after) { flag_ = during; }
  ~FlagScope() { flag_ = after_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  T& flag_;
  T after_;
};

// The hourglass for the time of one call.
using WaitCursor = velmo::ui::WaitCursor;

}  // namespace

// ------------------------------------------------------------------ ImageList

void ImageList::Add(const std::string& key, const QIcon& icon) {
  for (size_t i = 0; i < keys_.size(); ++i)
    if (keys_[i] == key) {
      icons_[i] = icon;
      return;
    }
  keys_.push_back(key);
  icons_.push_back(icon);
}

bool ImageList::Has(const std::string& key) const {
  for (const auto& k : keys_)
    if (k == key) return true;
  return false;
}

QIcon ImageList::Item(const std::string& key) const {
  for (size_t i = 0; i < keys_.size(); ++i)
    if (keys_[i] == key) return icons_[i];
  return QIcon();
}

QIcon ProgramIcon() {
  static const QIcon icon = [] {
    QIcon made;
    for (int size : {16, 24, 32, 48, 64}) made.addPixmap(ProductPicture(size));
    return made;
  }();
  return icon;
}

// --------------------------------------------------------------------- Mdifrm

MdifrmSeams& Mdifrm::Seams() {
  static MdifrmSeams seams;
  return seams;
}

Mdifrm::Mdifrm(QWidget* parent) : QMainWindow(parent) {
  setObjectName("Mdifrm");
  setWindowTitle("Velmorine for Exchange");
  resize(900, 640);
  setWindowIcon(ProgramIcon());
  // The toolbar is shown and hidden through the View menu only.
  setContextMenuPolicy(Qt::NoContextMenu);

  mdiArea_ = new QMdiArea(this);
  mdiArea_->setObjectName("MdiArea");
  setCentralWidget(mdiArea_);

  gMdifrm = this;
  gMainWindow = this;
  gMdiArea = mdiArea_;

  FillImgListVLMR(ImgListVLMR);
  FillImgListTvw(ImgListTvw);
  FillImgListTab(ImgListTab);

  BuildMenus();
  BuildPopupMenu();
  BuildToolbar();
  BuildStatusBar();

  MDIForm_Initialize();
  MDIForm_Load();
}

Mdifrm::~Mdifrm() {
  if (gMdifrm == this) gMdifrm = nullptr;
  if (gMainWindow == this) gMainWindow = nullptr;
  if (gMdiArea == mdiArea_) gMdiArea = nullptr;
}

// ------------------------------------------------------------- life cycle

void Mdifrm::MDIForm_Initialize() {
  gstrDBPath = velmo::AppPath("\\velmo.mdb").string();
  const std::string connectionText = kConnectionPrefix + gstrDBPath;

  std::unique_ptr<db::Catalog> catalog;
  try {
    catalog = std::make_unique<db::Catalog>();
  } catch (const velmo::ComError& e) {
    LogFailure("MDIForm_Initialize DBObjectCreation Failed", e);
    return;
  } catch (const std::exception& e) {
    LogFailure("MDIForm_Initialize DBObjectCreation Failed", velmo::E_FAIL_, e.what());
    return;
  }

  try {
    catalog->Create(connectionText);
    catalog->ReleaseConnection();
  } catch (const velmo::ComError& e) {
    if (e.Number() == db::kDbFileExists) {
      catalog.reset();
      CompactDB();
    } else {
      LogFailure("MDIForm_Initialize DBCreation Failed", e);
      Ui().MsgBox("Error occured while creating database : \r\n" + velmo::NumberText(e.Number()) + "\r\n" +
                      e.Description(),
                  velmo::ui::vbInformation, kProductTitle);
      return;
    }
  } catch (const std::exception& e) {
    LogFailure("MDIForm_Initialize DBCreation Failed", velmo::E_FAIL_, e.what());
    Ui().MsgBox("Error occured while creating database : \r\n" + velmo::NumberText(velmo::E_FAIL_) + "\r\n" +
                    e.what(),
                velmo::ui::vbInformation, kProductTitle);
    return;
  }

  if (gConn) return;
  try {
    gConn = std::make_unique<db::Connection>();
  } catch (const std::exception& e) {
    LogFailure("MDIForm_Initialize ConnectionObjectCreation Failed", velmo::E_FAIL_, e.what());
    return;
  }
  // A file that is there but cannot be opened (damaged, no database, a
  // folder of that name) is reported once, as one that cannot be created
  // is; it is left as it is, and the program runs on with the connection
  // closed (it still names the file, so later failures do too).
  auto openFailed = [](int32_t number, const std::string& description) {
    Ui().MsgBox("Error occured while opening database : \r\n" + velmo::NumberText(number) + "\r\n" + description,
                velmo::ui::vbInformation, kProductTitle);
  };
  try {
    gConn->SetProvider("Microsoft.Jet.OLEDB.4.0");
    if (gConn->State() == db::adStateClosed) gConn->Open(connectionText, "", "", -1);
  } catch (const velmo::ComError& e) {
    LogFailure("MDIForm_Initialize OpenConnection Failed", e);
    openFailed(e.Number(), e.Description());
    return;
  } catch (const std::exception& e) {
    LogFailure("MDIForm_Initialize OpenConnection Failed", velmo::E_FAIL_, e.what());
    openFailed(velmo::E_FAIL_, e.what());
    return;
  }
  ConvertOldDatabase(*gConn);
  // Rows that an unfinished collection left (a program ended between two
  // of its pages, or its take-back was refused) go at the start. A file
  // that another program holds locked is not waited for: a server's rows
  // of that kind then go before its next read or collection.
  try {
    db::RemoveUnfinishedRows(gstrDBPath, "", false);
  } catch (const velmo::ComError& e) {
    LogFailure("MDIForm_Initialize RemoveUnfinishedRows Failed", e);
  } catch (const std::exception& e) {
    LogFailure("MDIForm_Initialize RemoveUnfinishedRows Failed", velmo::E_FAIL_, e.what());
  }
}

void Mdifrm::MDIForm_Load() {
  CreateAppTables(gConn.get());

  try {
    if (!gConn) throw velmo::ComError(db::kDbClosed, "The connection to the database is not open.");
    db::Recordset rs;
    rs.Open("select * from VELMORCCustomReports", *gConn, db::adOpenKeyset, db::adLockOptimistic);
    if (rs.State() == db::adStateOpen) {
      const bool empty = rs.RecordCount() == 0;
      rs.Close();
      if (empty) WriteCustomFieldNamesToDB(gConn.get());
    } else {
      LogFailure("MDIForm_Load RecordsetObjectOpen Failed", velmo::E_FAIL_, "");
    }
  } catch (const velmo::ComError& e) {
    LogFailure("MDIForm_Load RecordsetObjectOpen Failed", e);
  } catch (const std::exception& e) {
    LogFailure("MDIForm_Load RecordsetObjectOpen Failed", velmo::E_FAIL_, e.what());
  }

  std::error_code ec;
  std::filesystem::create_directory(velmo::AppPath("\\Export"), ec);

  setWindowTitle(QString::fromStdString(ProductCaption()));
}

void Mdifrm::MDIForm_Activate() {
  if (iConnectCount != 0 || activating_) return;
  FlagScope<bool> guard(activating_, true, false);

  SetReportCommandsEnabled(false);

  RunCommand("MDIForm_Activate", [this] {
    long defaults = -1;
    std::string server;
    try {
      if (!gConn) throw velmo::ComError(db::kDbClosed, "The connection to the database is not open.");
      db::Recordset rs;
      rs.Open("select * from VELMORCFavourites where IsDefaultSrv='Yes'", *gConn, db::adOpenKeyset,
              db::adLockOptimistic);
      defaults = rs.RecordCount();
      if (defaults > 0) {
        rs.MoveFirst();
        server = rs[0L].Text();
      }
      rs.Close();
    } catch (const velmo::ComError& e) {
      LogFailure("MDIForm_Activate RecordsetObjectOpen Failed", e);
    }

    if (defaults == 0) {
      Open(Seams().showConnectDialog);
    } else if (defaults > 0) {
      strFavoriteORDefaultServer = server;
      iFavoriteORDefaultServer = 0;
      iConnectCount = 1;
      if (Seams().connectInProgressWindow) {
        Seams().connectInProgressWindow();
        if (gbConnected) Open(Seams().showConnectedWindow);
        if (gbShowConnectDialog) Open(Seams().showConnectDialog);
      }
    }
  });

  iConnectCount = 1;
}

void Mdifrm::MDIForm_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  clock_->stop();

  try {
    if (!gConn) throw velmo::ComError(db::kDbClosed, "The connection to the database is not open.");
    gConn->Execute("delete * from VELMORCFilterCustomize");
  } catch (const velmo::ComError& e) {
    LogFailure("MDIForm_Unload Delete Failed", e);
  } catch (const std::exception& e) {
    LogFailure("MDIForm_Unload Delete Failed", velmo::E_FAIL_, e.what());
  }

  if (gConn) {
    try {
      if (gConn->State() == db::adStateOpen) gConn->Close();
    } catch (const velmo::ComError& e) {
      LogFailure("MDIForm_Unload Connection Object Close Failed", e);
    } catch (const std::exception& e) {
      LogFailure("MDIForm_Unload Connection Object Close Failed", velmo::E_FAIL_, e.what());
    }
    gConn.reset();
  }
}

void Mdifrm::closeEvent(QCloseEvent* event) {
  if (unloaded_) {
    event->accept();
    return;
  }
  // The child windows go first; one that refuses to close keeps the
  // program open.
  mdiArea_->closeAllSubWindows();
  for (QMdiSubWindow* child : mdiArea_->subWindowList())
    if (!child->isHidden()) {
      event->ignore();
      return;
    }
  MDIForm_Unload();
  event->accept();
}

void Mdifrm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (iConnectCount == 0) QTimer::singleShot(0, this, [this] { MDIForm_Activate(); });
}

void Mdifrm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && iConnectCount == 0)
    QTimer::singleShot(0, this, [this] { MDIForm_Activate(); });
}

// ------------------------------------------------------------- controls

QAction* Mdifrm::AddItem(QMenu* menu, const char* name, const char* caption, const char* shortcut,
                         void (Mdifrm::*handler)()) {
  QAction* action = menu->addAction(QString::fromUtf8(caption));
  action->setObjectName(name);
  if (shortcut) action->setShortcut(QKeySequence(QString::fromLatin1(shortcut)));
  if (handler) ConnectCommand(action, std::string(name) + "_Click", [this, handler] { (this->*handler)(); });
  return action;
}

QAction* Mdifrm::AddSeparator(QMenu* menu, const char* name) {
  QAction* action = menu->addSeparator();
  action->setObjectName(name);
  return action;
}

void Mdifrm::ConnectCommand(QAction* action, const std::string& context, std::function<void()> command) {
  connect(action, &QAction::triggered, this,
          [this, context, command = std::move(command)] { RunCommand(context.c_str(), command); });
}

void Mdifrm::BuildMenus() {
  QMenuBar* bar = menuBar();

  mnuReport = bar->addMenu("&Report");
  mnuReport->setObjectName("mnuReport");
  mnuNewReport = AddItem(mnuReport, "mnuNewReport", "&New Report...", "Ctrl+N", nullptr);
  mnuNewReport->setVisible(false);
  mnuSep1 = AddSeparator(mnuReport, "mnuSep1");
  mnuSep1->setVisible(false);
  mnuFilter = AddItem(mnuReport, "mnuFilter", "&Filter...", "Ctrl+L", &Mdifrm::mnuFilter_Click);
  mnuCustomize = AddItem(mnuReport, "mnuCustomize", "C&ustomize", "Ctrl+U", &Mdifrm::mnuCustomize_Click);
  mnuExport = AddItem(mnuReport, "mnuExport", "&Export...", "Ctrl+E", &Mdifrm::mnuExport_Click);
  mnuSep2 = AddSeparator(mnuReport, "mnuSep2");
  mnuPreview = AddItem(mnuReport, "mnuPreview", "Pre&view", "Ctrl+V", &Mdifrm::mnuPreview_Click);
  mnuPrint = AddItem(mnuReport, "mnuPrint", "&Print...", "Ctrl+P", &Mdifrm::mnuPrint_Click);
  mnuSep3 = AddSeparator(mnuReport, "mnuSep3");
  mnuExit = AddItem(mnuReport, "mnuExit", "E&xit", "Ctrl+Q", &Mdifrm::mnuExit_Click);

  mnuTools = bar->addMenu("&Tools");
  mnuTools->setObjectName("mnuTools");
  mnuConnectToServer = AddItem(mnuTools, "mnuConnectToServer", "&Connect to Exchange Server", nullptr,
                               &Mdifrm::mnuConnectToServer_Click);
  mnuListAllServers = AddItem(mnuTools, "mnuListAllServers", "&List Exchange Servers", nullptr,
                              &Mdifrm::mnuListAllServers_Click);
  mnuListAllServers->setVisible(false);
  mnuSep4 = AddSeparator(mnuTools, "mnuSep4");
  mnuSep4->setVisible(false);
  mnuSep5 = AddSeparator(mnuTools, "mnuSep5");
  mnuAddRemoveFav = AddItem(mnuTools, "mnuAddRemoveFav", "Add/Remove &Favorites", nullptr,
                            &Mdifrm::mnuAddRemoveFav_Click);
  mnuFavSep = AddSeparator(mnuTools, "mnuFavSep");
  mnuCustomReport =
      AddItem(mnuTools, "mnuCustomReport", "Custom &Report...", nullptr, &Mdifrm::mnuCustomReport_Click);
  mnuSep6 = AddSeparator(mnuTools, "mnuSep6");
  mnuSchedule = AddItem(mnuTools, "mnuSchedule", "&Schedule", nullptr, &Mdifrm::mnuSchedule_Click);
  mnuPlusSep = AddSeparator(mnuTools, "mnuPlusSep");
  mnuExportPlus = AddItem(mnuTools, "mnuExportPlus", "&ExportPlus", nullptr, &Mdifrm::mnuExportPlus_Click);
  mnuPrintPlusSep = AddSeparator(mnuTools, "mnuPrintPlusSep");
  mnuPrintPlus = AddItem(mnuTools, "mnuPrintPlus", "&PrintPlus", nullptr, &Mdifrm::mnuPrintPlus_Click);

  mnuView = bar->addMenu("&View");
  mnuView->setObjectName("mnuView");
  const char* viewCaptions[2] = {"Show &ToolBar", "&Show Tree"};
  for (int i = 0; i < 2; ++i) {
    mnuViewAll[i] = mnuView->addAction(viewCaptions[i]);
    mnuViewAll[i]->setObjectName("mnuViewAll");
    mnuViewAll[i]->setProperty("Index", i);
    mnuViewAll[i]->setCheckable(true);
    mnuViewAll[i]->setChecked(true);
    ConnectCommand(mnuViewAll[i], "mnuViewAll_Click", [this, i] { mnuViewAll_Click(i); });
  }

  mnuWindow = bar->addMenu("&Window");
  mnuWindow->setObjectName("mnuWindow");
  const char* arrangeCaptions[3] = {"&Cascade", "Tile &Horizontally", "Tile &Vertically"};
  for (int i = 0; i < 3; ++i) {
    mnuSubWindow[i] = mnuWindow->addAction(arrangeCaptions[i]);
    mnuSubWindow[i]->setObjectName("mnuSubWindow");
    mnuSubWindow[i]->setProperty("Index", i);
    ConnectCommand(mnuSubWindow[i], "mnuSubWindow_Click", [this, i] { mnuSubWindow_Click(i); });
  }
  mnuSep7 = AddSeparator(mnuWindow, "mnuSep7");
  mnuSep7->setVisible(false);
  const char* allCaptions[3] = {"Minimize All", "Maximize All", "Close All"};
  for (int i = 0; i < 3; ++i) {
    mnuAll[i] = mnuWindow->addAction(allCaptions[i]);
    mnuAll[i]->setObjectName("mnuAll");
    mnuAll[i]->setProperty("Index", i);
    mnuAll[i]->setVisible(false);
    ConnectCommand(mnuAll[i], "mnuAll_Click", [this, i] { mnuAll_Click(i); });
  }
  connect(mnuWindow, &QMenu::aboutToShow, this, &Mdifrm::FillWindowList);

  mnuHelp = bar->addMenu("&Help");
  mnuHelp->setObjectName("mnuHelp");
  mnuContents = AddItem(mnuHelp, "mnuContents", "&Contents...", nullptr, &Mdifrm::mnuContents_Click);
  mnuSep8 = AddSeparator(mnuHelp, "mnuSep8");
  mnuReadme = AddItem(mnuHelp, "mnuReadme", "&Readme...", nullptr, &Mdifrm::mnuReadme_Click);
  mnuSep9 = AddSeparator(mnuHelp, "mnuSep9");
  mnuLicense = AddItem(mnuHelp, "mnuLicense", "&License...", nullptr, &Mdifrm::mnuLicense_Click);
  mnuSep10 = AddSeparator(mnuHelp, "mnuSep10");
  mnuAbout = AddItem(mnuHelp, "mnuAbout", "&About Velmorine for Exchange Server", nullptr,
                     &Mdifrm::mnuAbout_Click);
}

void Mdifrm::BuildPopupMenu() {
  // Not on the menu bar: shown only on a browse window's server tree.
  popmnuRefresh = new QMenu("Refresh&Menu", this);
  popmnuRefresh->setObjectName("popmnuRefresh");
  QMenu* m = popmnuRefresh;
  popmnuRefreshServer =
      AddItem(m, "popmnuRefreshServer", "Refres&h ", nullptr, &Mdifrm::popmnuRefreshServer_Click);
  popmnuSep1 = AddSeparator(m, "popmnuSep1");
  popmnuConnect =
      AddItem(m, "popmnuConnect", "&Connect to Exchange Server", nullptr, &Mdifrm::mnuConnectToServer_Click);
  popmnuSep2 = AddSeparator(m, "popmnuSep2");
  popmnuFavExchServer = AddItem(m, "popmnuFavExchServer", "My Favorite Exchange &Servers", nullptr,
                                &Mdifrm::mnuAddRemoveFav_Click);
  popmnuFavExchServer->setVisible(false);
  popmnuAddRemoveFav =
      AddItem(m, "popmnuAddRemoveFav", "Add/Remove &Favorites", nullptr, &Mdifrm::mnuAddRemoveFav_Click);
  popmnuSep3 = AddSeparator(m, "popmnuSep3");
  popmnuCustomReport =
      AddItem(m, "popmnuCustomReport", "Custom &Report", nullptr, &Mdifrm::mnuCustomReport_Click);
  popmnuSep4 = AddSeparator(m, "popmnuSep4");
  popmnuSchedule = AddItem(m, "popmnuSchedule", "&Schedule", nullptr, &Mdifrm::mnuSchedule_Click);
  popmnuSep5 = AddSeparator(m, "popmnuSep5");
  popmnuFilter = AddItem(m, "popmnuFilter", "Fi&lter", nullptr, &Mdifrm::mnuFilter_Click);
  popmnuCustomize = AddItem(m, "popmnuCustomize", "C&ustomize", nullptr, &Mdifrm::mnuCustomize_Click);
  popmnuExport = AddItem(m, "popmnuExport", "&Export", nullptr, &Mdifrm::mnuExport_Click);
  popmnuSep6 = AddSeparator(m, "popmnuSep6");
  popmnuPreview = AddItem(m, "popmnuPreview", "Pre&view", nullptr, &Mdifrm::mnuPreview_Click);
  popmnuPrint = AddItem(m, "popmnuPrint", "&Print", nullptr, &Mdifrm::mnuPrint_Click);
  popmnuSep7 = AddSeparator(m, "popmnuSep7");
  popmnuExportPlus = AddItem(m, "popmnuExportPlus", "E&xportPlus", nullptr, &Mdifrm::mnuExportPlus_Click);
  popmnuPrintPlus = AddItem(m, "popmnuPrintPlus", "P&rintPlus", nullptr, &Mdifrm::mnuPrintPlus_Click);
  popmnuSep8 = AddSeparator(m, "popmnuSep8");
  popmnuExit = AddItem(m, "popmnuExit", "E&xit", nullptr, &Mdifrm::mnuExit_Click);
}

void Mdifrm::BuildToolbar() {
  tbVELMORC = addToolBar("tbVELMORC");
  tbVELMORC->setObjectName("tbVELMORC");
  tbVELMORC->setMovable(false);
  tbVELMORC->setIconSize(QSize(24, 24));
  tbVELMORC->toggleViewAction()->setVisible(false);

  struct ButtonDef {
    const char* key;
    const char* toolTip;
    const char* image;  // "" for none
  };
  static const ButtonDef defs[13] = {
      {"Connect", "Connect to Exchange Server", "Connect"},
      {"Filter", "Filter report", "Filter"},
      {"Customize", "Customize report", "Customize"},
      {"Export", "Export report", "Export"},
      {"Preview", "Preview report ", "Preview"},
      {"Print", "Print report ", "Print"},
      {"ExportPlus", "Export All Tabs", "Export+"},
      {"PrintPlus", "Print All Tabs", "Print+"},
      {"Favorites", "Add/Remove Favorites", "Favourites"},
      {"List Servers", "List Exchange Servers", ""},
      {"Schedule", "Schedule", "Schedule"},
      {"Help", "Help", "Help"},
      {"Exit", "Exit", "Exit"},
  };
  for (int i = 0; i < 13; ++i) {
    const ButtonDef& d = defs[i];
    QAction* button = tbVELMORC->addAction(QString::fromLatin1(d.key));
    button->setObjectName(d.key);
    button->setProperty("Index", i + 1);
    button->setProperty("Key", QString::fromLatin1(d.key));
    button->setToolTip(QString::fromLatin1(d.toolTip));
    if (*d.image) button->setIcon(ImgListVLMR.Item(d.image));
    const int index = i + 1;
    ConnectCommand(button, "tbVELMORC_ButtonClick", [this, index] { tbVELMORC_ButtonClick(index); });
    buttons_.push_back(button);
  }
}

void Mdifrm::BuildStatusBar() {
  sbVELMORC = new QStatusBar(this);
  sbVELMORC->setObjectName("sbVELMORC");
  sbVELMORC->setSizeGripEnabled(true);
  setStatusBar(sbVELMORC);
  // Panel 1 stretches and carries progress texts; the progress bar sits
  // between it and the four fixed panels.
  auto makePanel = [this](int i) {
    auto* panel = i == 0 ? new StatusTextPanel(sbVELMORC) : new QLabel(sbVELMORC);
    panel->setObjectName(QString("Panel%1").arg(i + 1));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setContentsMargins(4, 0, 4, 0);
    panels_[i] = panel;
    return panel;
  };
  sbVELMORC->addWidget(makePanel(0), 1);

  Picture1 = new QWidget(sbVELMORC);
  Picture1->setObjectName("Picture1");
  auto* row = new QHBoxLayout(Picture1);
  row->setContentsMargins(0, 0, 0, 0);
  progBar = new QProgressBar(Picture1);
  progBar->setObjectName("progBar");
  progBar->setMaximumWidth(180);
  progBar->setTextVisible(false);
  progBar->hide();
  row->addWidget(progBar);
  sbVELMORC->addPermanentWidget(Picture1);

  for (int i = 1; i < 5; ++i) {
    QLabel* panel = makePanel(i);
    panel->setMinimumWidth(i < 3 ? 60 : 80);
    sbVELMORC->addPermanentWidget(panel);
  }

  clock_ = new QTimer(this);
  clock_->setObjectName("tmrClock");
  connect(clock_, &QTimer::timeout, this, &Mdifrm::UpdateClock);
  clock_->start(1000);
  UpdateClock();
}

void Mdifrm::UpdateClock() {
  auto now = velmo::Clock::now();
  panels_[3]->setText(QString::fromStdString(velmo::ShortDate(now)));
  panels_[4]->setText(QString::fromStdString(velmo::TimeText(now)));
}

QLabel* Mdifrm::Panel(int index) const {
  if (index < 1 || index > 5) return nullptr;
  return panels_[index - 1];
}

QAction* Mdifrm::Button(int index) const {
  if (index < 1 || index > static_cast<int>(buttons_.size())) return nullptr;
  return buttons_[static_cast<size_t>(index - 1)];
}

QAction* Mdifrm::Button(const std::string& key) const {
  for (QAction* b : buttons_)
    if (b->property("Key").toString().toStdString() == key) return b;
  return nullptr;
}

void Mdifrm::SetReportCommandsEnabled(bool enabled) {
  for (int i = 2; i <= 6; ++i) Button(i)->setEnabled(enabled);
  for (QAction* item : {mnuFilter, mnuCustomize, mnuExport, mnuPreview, mnuPrint}) item->setEnabled(enabled);
}

void Mdifrm::FillWindowList() {
  for (QAction* item : windowListItems_) {
    mnuWindow->removeAction(item);
    item->deleteLater();
  }
  windowListItems_.clear();
  const auto children = mdiArea_->subWindowList(QMdiArea::CreationOrder);
  QMdiSubWindow* active = mdiArea_->currentSubWindow();
  int n = 0;
  for (QMdiSubWindow* child : children) {
    if (child->isHidden()) continue;
    if (n == 0) windowListItems_.push_back(mnuWindow->addSeparator());
    ++n;
    QString caption = child->windowTitle();
    QAction* item = mnuWindow->addAction(n < 10 ? QString("&%1 %2").arg(n).arg(caption) : caption);
    item->setCheckable(true);
    item->setChecked(child == active);
    connect(item, &QAction::triggered, this, [this, child] { mdiArea_->setActiveSubWindow(child); });
    windowListItems_.push_back(item);
  }
}

// ------------------------------------------------------------------ commands

void Mdifrm::RunCommand(const char* name, const std::function<void()>& command) {
  std::exception_ptr failure;
  try {
    command();
    return;
  } catch (...) {
    failure = std::current_exception();
  }
  const velmo::ComError e = velmo::AsComError(failure, "Unknown error");
  LogFailure(std::string(name) + " Failed", e);
  Ui().MsgBox("The command could not be completed : \r\n" + velmo::NumberText(e.Number()) + "\r\n" +
                  e.Description(),
              velmo::ui::vbExclamation, kProductTitle);
}

void Mdifrm::mnuFilter_Click() {
  if (!NewestExchWindow()) return;
  Open(Seams().showFilterWizard);
}

void Mdifrm::mnuCustomize_Click() {
  if (!NewestExchWindow()) return;
  SetCurrentExchWindow();
  ExchWindow* current = gfrmCurrent;
  if (!current) return;
  if (!current->frmCustom) {
    if (!Seams().newCustomize) return;
    current->frmCustom = Seams().newCustomize(*current);
    if (!current->frmCustom) return;
  }
  ShowModally(current->frmCustom);
}

void Mdifrm::ShowModally(QWidget* window) {
  if (auto* dialog = qobject_cast<QDialog*>(window)) {
    dialog->exec();
    return;
  }
  window->setWindowModality(Qt::ApplicationModal);
  window->show();
}

void Mdifrm::mnuExport_Click() {
  if (!NewestExchWindow()) return;
  Open(Seams().exportReport);
}

void Mdifrm::mnuPreview_Click() {
  if (!NewestExchWindow()) return;
  PrintGridReport(0, 0);
}

void Mdifrm::mnuPrint_Click() {
  if (!NewestExchWindow()) return;
  PrintGridReport(1, 0);
}

void Mdifrm::mnuExit_Click() { close(); }

void Mdifrm::mnuConnectToServer_Click() {
  iFromCustomReport = 0;
  Open(Seams().showConnectDialog);
}

void Mdifrm::mnuListAllServers_Click() {
  if (!Seams().newExchWindow) return;
  FlagScope<bool> listing(blnFromListServers, true, false);
  WaitCursor hourglass;
  ExchWindow* window = Seams().newExchWindow();
  if (!window) return;
  if (OpenExchWindowSlot(window) == 0) {
    // No free slot: the window is not shown and goes away.
    window->Window()->deleteLater();
    return;
  }
  window->Window()->show();
}

void Mdifrm::mnuAddRemoveFav_Click() {
  Open(Seams().showFavourites);
}

void Mdifrm::mnuCustomReport_Click() {
  if (!Seams().showConnectDialog) return;
  FlagScope<bool> customReport(gbCustomReport, true, false);
  iFromCustomReport = 1;
  Seams().showConnectDialog();
}

void Mdifrm::mnuSchedule_Click() {
  Open(Seams().showSchedule);
}

void Mdifrm::mnuExportPlus_Click() {
  iFromExportPlusPrintPlus = 0;
  Open(Seams().showExportPlus);
}

void Mdifrm::mnuPrintPlus_Click() {
  iFromExportPlusPrintPlus = 1;
  Open(Seams().showExportPlus);
}

void Mdifrm::mnuViewAll_Click(int index) {
  if (index == 0) {
    tbVELMORC->setHidden(!tbVELMORC->isHidden());
    viewChecked_[0] = !viewChecked_[0];
    mnuViewAll[0]->setChecked(viewChecked_[0]);
    return;
  }
  // Show Tree works on the active child when it has the panes of a
  // browse window; otherwise nothing changes (the check mark included).
  mnuViewAll[1]->setChecked(viewChecked_[1]);
  // The current child stays current while a menu or dialog has the focus.
  QMdiSubWindow* active = mdiArea_->currentSubWindow();
  if (!active || !active->widget()) return;
  QWidget* child = active->widget();
  auto* pbTreeview = child->findChild<QWidget*>("pbTreeview");
  auto* pbSep = child->findChild<QWidget*>("pbSep");
  auto* tabType = child->findChild<QWidget*>("tabType");
  auto* tabProp = child->findChild<QWidget*>("tabProp");
  auto* pbGrd = child->findChild<QWidget*>("pbGrd");
  if (!pbTreeview || !pbSep || !tabType || !tabProp || !pbGrd) return;

  viewChecked_[1] = !viewChecked_[1];
  mnuViewAll[1]->setChecked(viewChecked_[1]);
  if (!pbTreeview->isHidden()) {
    pbTreeview->hide();
    pbSep->hide();
    const int width = child->width();
    for (QWidget* pane : {tabProp, pbGrd, tabType}) pane->setGeometry(0, pane->y(), width, pane->height());
  } else {
    pbTreeview->show();
    pbSep->show();
    const int left = pbSep->x() + pbSep->width();
    for (QWidget* pane : {tabProp, pbGrd, tabType}) pane->move(left, pane->y());
  }
}

// ------------------------------------------------------ child arrangement

namespace {

// The size a child asks for: its window's preferred size with the frame
// around it, or the size it has when its window names none.
QSize PreferredSize(const QMdiSubWindow* child) {
  const QWidget* inner = child->widget();
  if (!inner || !inner->sizeHint().isValid()) return child->size();
  return child->sizeHint();
}

QSize SmallestSize(const QMdiSubWindow* child) {
  return child->minimumSize().expandedTo(child->minimumSizeHint());
}

// The preferred size bounded by the room there is, never below the
// child's minimum.
QSize FittedSize(const QMdiSubWindow* child, const QSize& room) {
  return PreferredSize(child).boundedTo(room).expandedTo(SmallestSize(child));
}

// One cascade step: the height of a child's title bar.
int CascadeStep(const QMdiSubWindow* child) {
  QStyleOptionTitleBar option;
  option.initFrom(child);
  const int titleBar = child->style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, child);
  return std::max(titleBar, 16);
}

bool Fits(const QRect& window, const QRect& room) { return room.contains(window); }

// The children that take part in an arrangement: shown and not minimized.
QList<QMdiSubWindow*> ArrangedChildren(QMdiArea* area, QMdiArea::WindowOrder order) {
  QList<QMdiSubWindow*> children;
  for (QMdiSubWindow* child : area->subWindowList(order))
    if (!child->isHidden() && !child->isMinimized()) children.append(child);
  return children;
}

}  // namespace

void Mdifrm::PlaceNewChild(QMdiSubWindow* child) {
  if (!child) return;
  const QRect room = mdiArea_->viewport()->rect();
  const QSize size = FittedSize(child, room.size());
  QMdiSubWindow* before = nullptr;
  for (QMdiSubWindow* other : ArrangedChildren(mdiArea_, QMdiArea::CreationOrder))
    if (other != child && !other->isMaximized()) before = other;
  QPoint at(0, 0);
  if (before) {
    const int step = CascadeStep(child);
    at = before->pos() + QPoint(step, step);
    if (!Fits(QRect(at, size), room)) at = QPoint(0, 0);
  }
  child->setGeometry(QRect(at, size));
}

void Mdifrm::CascadeChildren() {
  const QList<QMdiSubWindow*> children = ArrangedChildren(mdiArea_, QMdiArea::StackingOrder);
  if (children.isEmpty()) return;
  const QRect room = mdiArea_->viewport()->rect();
  QPoint at(0, 0);
  for (QMdiSubWindow* child : children) {
    if (child->isMaximized()) child->showNormal();
    const QSize size = FittedSize(child, room.size());
    if (at != QPoint(0, 0) && !Fits(QRect(at, size), room)) at = QPoint(0, 0);
    child->setGeometry(QRect(at, size));
    child->raise();
    const int step = CascadeStep(child);
    at += QPoint(step, step);
  }
}

void Mdifrm::TileChildren(bool horizontally) {
  const QList<QMdiSubWindow*> children = ArrangedChildren(mdiArea_, QMdiArea::CreationOrder);
  if (children.isEmpty()) return;
  const QRect room = mdiArea_->viewport()->rect();
  const int n = static_cast<int>(children.size());
  QSize smallest(1, 1);
  for (QMdiSubWindow* child : children) smallest = smallest.expandedTo(SmallestSize(child));

  // Along the tiling direction as many as keep their minimum size; the
  // rest go into further columns (or rows).
  int rows, cols;
  if (horizontally) {
    rows = std::clamp(room.height() / smallest.height(), 1, n);
    cols = (n + rows - 1) / rows;
    rows = (n + cols - 1) / cols;
  } else {
    cols = std::clamp(room.width() / smallest.width(), 1, n);
    rows = (n + cols - 1) / cols;
    cols = (n + rows - 1) / rows;
  }
  for (int i = 0; i < n; ++i) {
    QMdiSubWindow* child = children[i];
    if (child->isMaximized()) child->showNormal();
    const int row = horizontally ? i % rows : i / cols;
    const int col = horizontally ? i / rows : i % cols;
    // The last window of a column (or row) takes the space left below (or
    // beside) it.
    const bool lastAlong = horizontally ? (row == rows - 1 || i == n - 1) : (col == cols - 1 || i == n - 1);
    const int left = col * room.width() / cols;
    const int top = row * room.height() / rows;
    int right = (col + 1) * room.width() / cols;
    int bottom = (row + 1) * room.height() / rows;
    if (lastAlong && horizontally) bottom = room.height();
    if (lastAlong && !horizontally) right = room.width();
    // A cell smaller than the window's minimum: the window keeps its
    // minimum and is pulled back inside the client area.
    const QSize size = QSize(right - left, bottom - top).expandedTo(SmallestSize(child));
    const QPoint at(std::max(0, std::min(left, room.width() - size.width())),
                    std::max(0, std::min(top, room.height() - size.height())));
    child->setGeometry(QRect(at, size));
  }
}

void Mdifrm::mnuSubWindow_Click(int index) {
  switch (index) {
    case 0:
      CascadeChildren();
      break;
    case 1:
      TileChildren(true);  // one above the other
      break;
    case 2:
      TileChildren(false);  // side by side
      break;
    default:
      break;
  }
}

void Mdifrm::mnuAll_Click(int index) {
  auto children = mdiArea_->subWindowList(QMdiArea::CreationOrder);
  if (index == 2) {
    for (auto it = children.rbegin(); it != children.rend(); ++it) (*it)->close();
    return;
  }
  for (QMdiSubWindow* child : children) {
    if (index == 0)
      child->showMinimized();
    else if (index == 1)
      child->showNormal();
  }
}

void Mdifrm::mnuContents_Click() {
  const std::filesystem::path help = velmo::AppPath("\\velmorc.chm");
  std::error_code ec;
  if (!std::filesystem::exists(help, ec)) {
    Ui().MsgBox("The help file \"" + help.string() + "\" was not found.", velmo::ui::vbInformation,
                kProductTitle);
    return;
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(help.string()))))
    Ui().MsgBox("No program on this computer is set up to open the help file \"" + help.string() + "\".",
                velmo::ui::vbInformation, kProductTitle);
}

void Mdifrm::ShowReadme(short mode) {
  frmReadme window(this);
  window.iReadmeORLicenseORAbout = mode;
  window.ShowModal();
}

void Mdifrm::mnuReadme_Click() { ShowReadme(0); }
void Mdifrm::mnuLicense_Click() { ShowReadme(1); }
void Mdifrm::mnuAbout_Click() { ShowReadme(2); }

void Mdifrm::popmnuRefreshServer_Click() {
  if (!Seams().showConnectDialog) return;
  // A dialog closed without an answer must not count as an earlier OK.
  blnClickedOK = false;
  {
    FlagScope<bool> refreshing(blnFromRefresh, true, false);
    Seams().showConnectDialog();
  }
  if (!blnClickedOK) return;
  ExchWindow* active = ActiveExchWindowOfMdi();
  if (!active) return;
  TreeNodeInfo node = active->SelectedNode();
  if (!node.valid) return;
  RefreshServer(node.text);
}

void Mdifrm::tbVELMORC_ButtonClick(int index) {
  switch (index) {
    case 1: mnuConnectToServer_Click(); break;
    case 2: mnuFilter_Click(); break;
    case 3: mnuCustomize_Click(); break;
    case 4: mnuExport_Click(); break;
    case 5: mnuPreview_Click(); break;
    case 6: mnuPrint_Click(); break;
    case 7: mnuExportPlus_Click(); break;
    case 8: mnuPrintPlus_Click(); break;
    case 9: mnuAddRemoveFav_Click(); break;
    case 10: break;  // List Servers: no action
    case 11: mnuSchedule_Click(); break;
    case 12: mnuContents_Click(); break;
    case 13: mnuExit_Click(); break;
    default: break;
  }
}
