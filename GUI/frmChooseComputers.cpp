// The network picker.
#include "DialogControls.h"
#include "frmChooseComputers.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>

#include <map>
#include <memory>
#include <vector>

#include "ComError.h"
#include "ComFactory.h"
#include "Directory.h"
#include "IExch55.h"
#include "WaitCursor.h"
#include "frmFavourites.h"
#include "modExch.h"

namespace {

constexpr int kImageRole = Qt::UserRole + 2;
const char* const kEnterprise = "Enterprise";
const char* const kPlaceholder = "Finding Exchange servers...";

// The six pictures of ImageList1, drawn once.
QIcon Picture(const std::string& key) {
  static std::map<std::string, QIcon> pictures;
  auto it = pictures.find(key);
  if (it != pictures.end()) return it->second;
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, true);
  if (key == "Net") {
    p.setBrush(QColor(70, 130, 200));
    p.drawEllipse(1, 1, 14, 14);
    p.setPen(QColor(230, 240, 255));
    p.drawLine(1, 8, 15, 8);
    p.drawLine(8, 1, 8, 15);
  } else if (key == "Domain") {
    p.setBrush(QColor(240, 200, 80));
    p.drawRect(1, 4, 14, 10);
    p.drawRect(1, 2, 6, 3);
  } else if (key == "Computer" || key == "CompSearch") {
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(2, 2, 12, 9);
    p.drawRect(5, 12, 6, 2);
    if (key == "CompSearch") {
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(QColor(40, 40, 40), 1.5));
      p.drawEllipse(7, 5, 6, 6);
      p.drawLine(12, 10, 15, 14);
    }
  } else {
    p.setBrush(Qt::white);
    p.setPen(QColor(60, 60, 60));
    p.drawRect(2, 2, 11, 11);
    if (key == "CBWithTick") {
      p.setPen(QPen(QColor(0, 120, 0), 2));
      p.drawLine(4, 8, 7, 11);
      p.drawLine(7, 11, 12, 4);
    }
  }
  p.end();
  return pictures[key] = QIcon(pm);
}

// Pre-order walk: the tree's nodes in index order.
void Walk(QTreeWidgetItem* node, std::vector<QTreeWidgetItem*>& out) {
  out.push_back(node);
  for (int i = 0; i < node->childCount(); ++i) Walk(node->child(i), out);
}

}  // namespace

frmChooseComputers::frmChooseComputers(frmFavourites* favourites, QWidget* parent)
    : QDialog(parent), favourites_(favourites) {
  setObjectName("frmChooseComputers");
  setWindowTitle("Choose Computers");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(4290 / 15, 4290 / 15);

  tvwEnterprise = new QTreeWidget(this);
  tvwEnterprise->setObjectName("tvwEnterprise");
  tvwEnterprise->setHeaderHidden(true);
  tvwEnterprise->setGeometry(Twips(120, 120, 4095, 3615));
  cmdOk = new QPushButton("&OK", this);
  cmdOk->setObjectName("cmdOk");
  cmdOk->setGeometry(Twips(1920, 3840, 1120, 375));
  cmdOk->setAutoDefault(false);
  cmdCancel = new QPushButton("&Cancel", this);
  cmdCancel->setObjectName("cmdCancel");
  cmdCancel->setGeometry(Twips(3120, 3840, 1120, 375));
  cmdCancel->setAutoDefault(false);
  setTabOrder(cmdOk, cmdCancel);

  connect(tvwEnterprise, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) {
    if (!filling_) tvwEnterprise_Expand(node);
  });
  connect(tvwEnterprise, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* node, int) { tvwEnterprise_NodeClick(node); });
  connect(cmdOk, &QPushButton::clicked, this, [this] { AddTickedServers(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  tvwEnterprise->installEventFilter(this);
}

frmChooseComputers::~frmChooseComputers() = default;

std::string frmChooseComputers::ImageKey(const QTreeWidgetItem* node) {
  return node ? node->data(0, kImageRole).toString().toStdString() : std::string();
}

void frmChooseComputers::SetImage(QTreeWidgetItem* node, const std::string& key) {
  node->setData(0, kImageRole, QString::fromStdString(key));
  node->setIcon(0, Picture(key));
}

void frmChooseComputers::Form_Load() {
  filling_ = true;
  auto* root = new QTreeWidgetItem(QStringList(kEnterprise));
  tvwEnterprise->addTopLevelItem(root);
  SetImage(root, "Net");
  tvwEnterprise->setCurrentItem(root);

  try {
    velmo::ads::DirObjectPtr network = velmo::ads::GetObject("WinNT:");
    for (const auto& domain : network->Children()) {
      auto* node = new QTreeWidgetItem(QStringList(QString::fromStdString(domain->Name())));
      root->addChild(node);
      SetImage(node, "Domain");
      auto* placeholder = new QTreeWidgetItem(QStringList(kPlaceholder));
      node->addChild(placeholder);
      SetImage(placeholder, "CompSearch");
    }
  } catch (const velmo::ComError& e) {
    // The tree shows no domains; the error log tells why.
    LogFailure("ChooseComputers_Form_Load WinNTEnumeration Failed", e);
  }
  filling_ = false;
  tvwEnterprise->expandItem(root);
}

void frmChooseComputers::tvwEnterprise_Expand(QTreeWidgetItem* node) {
  if (!node) return;
  tvwEnterprise->setCurrentItem(node);
  if (node->text(0) == kEnterprise) return;
  if (node->childCount() >= 2 || node->childCount() == 0 || node->child(0)->text(0) != kPlaceholder) return;

  tvwEnterprise->setUpdatesEnabled(false);
  velmo::ui::WaitCursor hourglass;

  delete node->takeChild(0);
  const std::string domain = node->text(0).toStdString();
  try {
    auto exch = velmo::com::CreateObject<IExch55>(IExch55::VersionIndependentProgId);
    int32_t count = 0;
    std::vector<std::string> servers;
    const int32_t hr = exch->GetExchangeServers(domain, count, servers);
    if (hr < 0) {
      LogFailure("ChooseComputers_Expand GetExchangeServers Failed", hr, exch->GetErrorInfo().description);
    } else {
      for (int32_t i = 0; i < count && i < static_cast<int32_t>(servers.size()); ++i) {
        auto* server = new QTreeWidgetItem(QStringList(QString::fromStdString(servers[static_cast<size_t>(i)])));
        node->addChild(server);
        SetImage(server, "CheckBox");
      }
    }
  } catch (const velmo::ComError& e) {
    LogFailure("ChooseComputers_Expand Exch55ObjectCreation Failed", e);
  }

  hourglass.Release();
  tvwEnterprise->setUpdatesEnabled(true);
}

void frmChooseComputers::tvwEnterprise_NodeClick(QTreeWidgetItem* node) {
  if (!node) return;
  tvwEnterprise->setCurrentItem(node);
  QTreeWidgetItem* parent = node->parent();
  if (node->childCount() != 0 || !parent || parent->text(0) == kEnterprise) return;
  SetImage(node, ImageKey(node) == "CheckBox" ? "CBWithTick" : "CheckBox");
}

void frmChooseComputers::AddTickedServers() {
  hide();
  if (!favourites_) return;
  std::vector<QTreeWidgetItem*> nodes;
  for (int i = 0; i < tvwEnterprise->topLevelItemCount(); ++i) Walk(tvwEnterprise->topLevelItem(i), nodes);
  for (QTreeWidgetItem* node : nodes) {
    if (ImageKey(node) != "CBWithTick") continue;
    const std::string name = node->text(0).toStdString();
    bool listed = false;
    for (const std::string& entry : favourites_->Entries()) listed = listed || entry == name;
    if (!listed) favourites_->InsertEntry(name);
  }
}

void frmChooseComputers::cmdCancel_Click() { hide(); }

void frmChooseComputers::reject() { hide(); }

void frmChooseComputers::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    hide();
    event->accept();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !cmdCancel->hasFocus()) {
    AddTickedServers();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool frmChooseComputers::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tvwEnterprise && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      AddTickedServers();
      return true;
    }
    if (key->key() == Qt::Key_Escape) {
      hide();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void frmChooseComputers::ShowModal() {
  setWindowModality(Qt::ApplicationModal);
  exec();
}
