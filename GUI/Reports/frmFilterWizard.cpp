#include "DialogControls.h"
#include "TextParts.h"
#include "frmFilterWizard.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QToolBar>

#include "ComError.h"
#include "Database.h"
#include "DatabaseMaintenance.h"
#include "FilterItem.h"
#include "Mdifrm.h"
#include "Ui.h"
#include "modExch.h"
#include "modGlobals.h"

namespace {

using velmo::text::Trim;

namespace db = velmo::db;

bool Contains(const std::string& text, const char* literal) { return text.find(literal) != std::string::npos; }

void LogError(const std::string& context, const std::exception& e) {
  if (auto* com = dynamic_cast<const velmo::ComError*>(&e))
    LogFailure(context, *com);
  else
    LogFailure(context, velmo::E_FAIL_, e.what());
}

const char* const kAddCaption = "&Add To Filter";
const char* const kAndCaption = "'&AND' To Filter";

// A small picture for an editing button: its sign drawn in the middle.
QIcon SignIcon(const QString& sign, const QColor& colour) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  QFont font = p.font();
  font.setBold(true);
  font.setPixelSize(11);
  p.setFont(font);
  p.setPen(colour);
  p.drawText(pixmap.rect(), Qt::AlignCenter, sign);
  return QIcon(pixmap);
}

}  // namespace

frmFilterWizard::frmFilterWizard(QWidget* parent) : QDialog(parent) {
  setObjectName("frmFilterWizard");
  setWindowTitle("Velmorcast Filter");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(5865 / 15, 3855 / 15);

  auto combo = [&](const char* name, QRect where) {
    auto* c = new QComboBox(this);
    c->setObjectName(name);
    c->setEditable(false);
    c->setGeometry(where);
    return c;
  };
  auto button = [&](const char* name, const char* caption, QRect where) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setGeometry(where);
    return b;
  };
  cbField = combo("cbField", Twips(120, 120, 2055, 315));
  cbOperator = combo("cbOperator", Twips(2280, 120, 975, 315));
  cbData = combo("cbData", Twips(3360, 120, 2295, 315));
  cmdAdd = button("cmdAdd", kAddCaption, Twips(360, 600, 1335, 375));
  cmdORToFilter = button("cmdORToFilter", "O&R to Filter", Twips(3600, 600, 1335, 375));

  tbFilter = new QToolBar(this);
  tbFilter->setObjectName("tbFilter");
  tbFilter->setGeometry(Twips(3240, 1320, 2415, 465));
  tbFilter->setIconSize(QSize(16, 16));
  tbFilter->setContentsMargins(0, 0, 0, 0);
  tbFilter->setStyleSheet("QToolBar { spacing: 0px; padding: 0px; } QToolButton { padding: 1px; }");
  const struct {
    const char* sign;
    const char* tip;
    QColor colour;
  } buttons[] = {{"+(", "Insert '('", Qt::darkGreen},      {"+)", "Insert ')'", Qt::darkGreen},
                 {"-(", "Delete '('", Qt::darkRed},        {"-)", "Delete ')'", Qt::darkRed},
                 {"X", "Delete Condition", Qt::darkRed}, {"XX", "Delete All", Qt::darkRed}};
  for (int i = 0; i < 6; ++i) {
    QAction* a = tbFilter->addAction(SignIcon(buttons[i].sign, buttons[i].colour), buttons[i].tip);
    a->setObjectName(QString("tbFilter%1").arg(i + 1));
    a->setToolTip(buttons[i].tip);
    connect(a, &QAction::triggered, this, [this, i] { tbFilter_ButtonClick(i + 1); });
  }

  lbFilter = new QListWidget(this);
  lbFilter->setObjectName("lbFilter");
  lbFilter->setGeometry(Twips(120, 1800, 5535, 1425));
  cmdOk = button("cmdOk", "OK", Twips(1735, 3360, 1120, 375));
  cmdOk->setDefault(true);
  cmdCancel = button("cmdCancel", "Cancel", Twips(2935, 3360, 1120, 375));
  List1 = new QListWidget(this);
  List1->setObjectName("List1");
  List1->hide();

  connect(cbField, qOverload<int>(&QComboBox::activated), this, [this] { cbField_Click(); });
  connect(cmdAdd, &QPushButton::clicked, this, [this] { cmdAdd_Click(); });
  connect(cmdORToFilter, &QPushButton::clicked, this, [this] { cmdORToFilter_Click(); });
  connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOk_Click(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  for (QWidget* w : std::initializer_list<QWidget*>{cbField, cbOperator, cbData, cmdAdd, cmdORToFilter, lbFilter,
                                                   cmdOk, cmdCancel})
    w->installEventFilter(this);
  setTabOrder(cbField, cbOperator);
  setTabOrder(cbOperator, cbData);
  setTabOrder(cbData, cmdAdd);
  setTabOrder(cmdAdd, cmdORToFilter);
  setTabOrder(cmdORToFilter, lbFilter);
  setTabOrder(lbFilter, cmdOk);
  setTabOrder(cmdOk, cmdCancel);
}

frmFilterWizard::~frmFilterWizard() = default;

void frmFilterWizard::ShowModal() {
  if (!loaded_) Form_Load();
  setWindowModality(Qt::ApplicationModal);
  exec();
}

void frmFilterWizard::SetListEmptyState() {
  cmdORToFilter->setEnabled(false);
  cmdAdd->setText(kAddCaption);
}

void frmFilterWizard::Form_Load() {
  loaded_ = true;
  SetListEmptyState();
  cbOperator->clear();
  cbOperator->addItem("=");
  cbOperator->addItem("<>");
  cbOperator->setCurrentIndex(0);

  SetCurrentExchWindow();
  ExchWindow* win = gfrmCurrent;
  if (!win) return;
  const std::string tabName = win->PropTabKey();
  const std::string server = win->strServerName;
  if (!gConn) {
    LogFailure("Form_Load RecordsetObjectCreation Failed", velmo::db::kDbClosed, "The connection is not open.");
    return;
  }

  // The fields: the captions of the page's built-in column set.
  try {
    db::Recordset rs;
    rs.Open("select * from VELMORCCustomReports where TabName=? and CustomReportName='Default'", *gConn,
            {db::Value(tabName)}, db::adOpenKeyset, db::adLockOptimistic);
    if (!rs.Eof()) {
      const std::string value = Trim(rs[2].Text());
      const auto semi = value.find(';');
      if (semi != std::string::npos) {
        std::string captions = value.substr(semi + 1);
        captions = captions.substr(0, captions.find(';'));
        size_t start = 0;
        for (;;) {
          const auto comma = captions.find(',', start);
          const std::string field =
              Trim(captions.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
          if (!field.empty()) cbField->addItem(QString::fromStdString(field));
          if (comma == std::string::npos) break;
          start = comma + 1;
        }
      }
    }
    rs.Close();
  } catch (const std::exception& e) {
    LogError("Form_Load RecordsetObjectOpen Failed", e);
    return;
  }
  if (cbField->count() > 0) {
    cbField->setCurrentIndex(0);
    cbField_Click();
  }

  // The saved filter of the page.
  try {
    db::Recordset rs;
    rs.Open("select * from VELMORCFilterCustomize where ServerName=? and TabName=? and QueryType='0'", *gConn,
            {db::Value(server), db::Value(tabName)}, db::adOpenKeyset, db::adLockOptimistic);
    if (!rs.Eof()) {
      cmdAdd->setText(kAndCaption);
      for (; !rs.Eof(); rs.MoveNext()) {
        const std::string value = rs[3].Text();
        if (value.empty()) continue;
        for (const auto& item : SplitFilterValue(value)) lbFilter->addItem(QString::fromStdString(item));
      }
      cmdORToFilter->setEnabled(true);
    }
    rs.Close();
  } catch (const std::exception& e) {
    LogError("Form_Load FieldValuesFromDB RecordsetObjectOpen Failed", e);
  }
}

void frmFilterWizard::cbField_Click() {
  cbData->clear();
  SetCurrentExchWindow();
  ExchWindow* win = gfrmCurrent;
  if (!win) return;
  if (!gConn) {
    LogFailure("cbField_Click RecordsetObjectCreation Failed", velmo::db::kDbClosed, "The connection is not open.");
    return;
  }
  const std::string tabName = win->PropTabKey();
  const std::string server = win->strServerName;
  const std::string table = GetTableName(tabName);
  const std::string field = Trim(cbField->currentText().toStdString());
  const TreeNodeInfo node = win->SelectedNode();
  const std::string caption = win->TypeTabCaption();
  const std::string type = win->TypeTabVisible() && caption != "Summary" ? caption : node.text;

  try {
    if (table.empty() || table.find(']') != std::string::npos || field.empty() ||
        field.find(']') != std::string::npos)
      throw velmo::ComError(velmo::db::kDbNoValueGiven, "No column '" + field + "' in table '" + table + "'.");
    // No value of rows that an unfinished collection left is offered.
    if (UnfinishedRowsCheck(server, "cbField_Click").Hides(table)) return;
    std::string sql = "select distinct [" + field + "] from [" + table + "] where ServerName = ?";
    std::vector<db::Value> params{db::Value(server)};
    if (node.text == "Connections" || node.text == "Protocols") {
      sql += " and [Directory Name] like ?";
      params.emplace_back(type + "%");
      // The protocols container of a server sits under the server; the
      // site's under "Configuration".
      if (node.valid && node.index != 1 && node.text == "Protocols")
        sql += node.parentText == "Configuration" ? " and Level='Site'" : " and Level='Server'";
    } else if ((Contains(tabName, "ServerPermissions") || Contains(tabName, "ServerGeneral") ||
                Contains(tabName, "Container")) &&
               (Contains(tabName, "General") || Contains(tabName, "Permissions"))) {
      // The page shows the selected object's rows: its path names it
      // (its directory name can differ from the node text).
      sql += " and [Object Path] = ?";
      params.emplace_back(node.key);
    }
    db::Recordset rs;
    rs.Open(sql, *gConn, params, db::adOpenKeyset, db::adLockOptimistic);
    for (; !rs.Eof(); rs.MoveNext()) {
      if (rs[0L].IsNull()) continue;
      const std::string value = Trim(rs[0L].Text());
      // A value holding "|" would split the stored filter; it is not offered.
      if (value.empty() || value.find('|') != std::string::npos) continue;
      cbData->addItem(QString::fromStdString(value));
    }
    rs.Close();
  } catch (const std::exception& e) {
    LogError("cbField_Click RecordsetObjectOpen Failed", e);
  }
  if (cbData->count() > 0) cbData->setCurrentIndex(0);
}

std::string frmFilterWizard::NewEntryText() const {
  FilterItem item;
  item.field = Trim(cbField->currentText().toStdString());
  item.op = cbOperator->currentText().toStdString();
  item.value = Trim(cbData->currentText().toStdString());
  return item.Text();
}

void frmFilterWizard::cmdAdd_Click() {
  cmdAdd->setText(kAndCaption);
  const std::string text = NewEntryText();
  lbFilter->addItem(QString::fromStdString(lbFilter->count() == 0 ? text : " AND " + text));
  cmdORToFilter->setEnabled(true);
}

void frmFilterWizard::cmdORToFilter_Click() { lbFilter->addItem(QString::fromStdString(" OR " + NewEntryText())); }

void frmFilterWizard::SetEntry(int row, const std::string& text) {
  if (QListWidgetItem* item = lbFilter->item(row)) item->setText(QString::fromStdString(text));
}

void frmFilterWizard::tbFilter_ButtonClick(int index) {
  const int selected = lbFilter->currentRow();
  if (index >= 1 && index <= 4) {
    if (selected < 0) return;
    FilterItem item;
    // Only the parenthesis runs change; the connector, field and value stay
    // as they are, whatever the value holds.
    if (!ParseFilterItem(lbFilter->item(selected)->text().toStdString(), item)) return;
    if (index == 1)
      ++item.opens;
    else if (index == 2)
      ++item.closes;
    else if (index == 3) {
      if (item.opens == 0) return;
      --item.opens;
    } else {
      if (item.closes == 0) return;
      --item.closes;
    }
    SetEntry(selected, item.Text());
    return;
  }
  if (index == 5) {
    const int count = lbFilter->count();
    if (selected < 0 || count == 0) return;
    int target = selected != count - 1 ? selected + 1 : selected - 1;
    if (selected == 0) {
      if (count > 1) {
        velmo::ui::Ui().MsgBox("Cannot Remove the first condition while there are conditions below it",
                               velmo::ui::vbInformation, kProductTitle);
        return;
      }
      delete lbFilter->takeItem(0);
    } else {
      delete lbFilter->takeItem(selected);
      if (target == lbFilter->count()) --target;
      lbFilter->setCurrentRow(target);
    }
    if (lbFilter->count() == 0) SetListEmptyState();
    return;
  }
  if (index == 6) {
    if (lbFilter->count() > 0) {
      lbFilter->clear();
      cmdORToFilter->setEnabled(false);
    }
    cmdAdd->setText(kAddCaption);
  }
}

std::vector<std::string> frmFilterWizard::Entries() const {
  std::vector<std::string> entries;
  for (int i = 0; i < lbFilter->count(); ++i) entries.push_back(lbFilter->item(i)->text().toStdString());
  return entries;
}

void frmFilterWizard::cmdOk_Click() {
  const std::vector<std::string> entries = Entries();
  int opens = 0, closes = 0;
  CountFilterParentheses(entries, opens, closes);
  if (opens != closes) {
    velmo::ui::Ui().MsgBox("Mismatched Parentheses.", velmo::ui::vbInformation, kProductTitle);
    return;
  }
  hide();
  SetCurrentExchWindow();
  ExchWindow* win = gfrmCurrent;
  if (!gConn) {
    // Nothing can be stored without the database; the view is left as it is.
    LogFailure("cmdOk_Click RecordsetObjectCreation Failed", velmo::db::kDbClosed, "The connection is not open.");
    Unload();
    return;
  }
  if (!win) {
    Unload();
    return;
  }
  const std::string server = win->strServerName;
  const std::string tabName = win->PropTabKey();
  std::string filterValue;
  for (size_t i = 0; i < entries.size(); ++i) filterValue += (i ? "|" : "") + entries[i];

  // The old row goes only together with the new one being written.
  const char* step = "cmdOk_Click Delete Failed";
  try {
    db::Transaction transaction(*gConn);
    gConn->Execute("delete from VELMORCFilterCustomize where ServerName=? and TabName=? and QueryType='0'",
                   {db::Value(server), db::Value(tabName)});
    step = "cmdOk_Click RecordsetObjectOpen Failed";
    gConn->Execute("insert into VELMORCFilterCustomize values(?,?,'0',?,'')",
                   {db::Value(server), db::Value(tabName), db::Value(filterValue)});
    transaction.Commit();
  } catch (const std::exception& e) {
    LogError(step, e);
  }

  win->DisplayInfo(GetQuery(2));
  Unload();
}

void frmFilterWizard::cmdCancel_Click() { Unload(); }

void frmFilterWizard::Unload() {
  if (isVisible() || isModal())
    done(QDialog::Rejected);
  else
    hide();
}

void frmFilterWizard::HandleDialogKey(int keyCode) {
  if (keyCode == 13)
    cmdOk_Click();
  else if (keyCode == 27)
    Unload();
}

bool frmFilterWizard::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      HandleDialogKey(13);
      return true;
    }
    if (key == Qt::Key_Escape) {
      HandleDialogKey(27);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void InstallFilterWizardSeam() {
  Mdifrm::Seams().showFilterWizard = [] {
    frmFilterWizard dialog(gMainWindow);
    dialog.ShowModal();
  };
}

namespace {
const bool kFilterWizardSeam = (InstallFilterWizardSeam(), true);
}  // namespace
