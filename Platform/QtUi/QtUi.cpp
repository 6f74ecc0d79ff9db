#include "QtUi.h"

#include <QDialogButtonBox>
#include <QPrintDialog>
#include <QPrinter>
#include <filesystem>
#include <memory>

#include "Printers.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace velmo {

namespace {

QString Title(const std::string& title) {
  if (!title.empty()) return QString::fromStdString(title);
  return QGuiApplication::applicationDisplayName();
}

// Dialogs without a given owner sit over the window the user works in.
QWidget* ActiveOwner() {
  if (QWidget* w = QApplication::activeModalWidget()) return w;
  return QApplication::activeWindow();
}

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

// The windows of the seam open now, the innermost last.
std::vector<QPointer<QDialog>>& OpenQuestions() {
  static std::vector<QPointer<QDialog>> open;
  return open;
}

// Every window of the seam runs here, so that CancelOpenQuestions reaches
// it whatever it asks.
int Ask(QDialog& dialog) {
  OpenQuestions().emplace_back(&dialog);
  const int result = dialog.exec();
  auto& open = OpenQuestions();
  open.erase(std::remove_if(open.begin(), open.end(), [&](const QPointer<QDialog>& d) { return !d || d == &dialog; }),
             open.end());
  return result;
}

}  // namespace

void QtUi::CancelOpenQuestions() {
  // A copy: a window closed here leaves the list once its caller goes on.
  const std::vector<QPointer<QDialog>> open = OpenQuestions();
  for (auto it = open.rbegin(); it != open.rend(); ++it) {
    if (!*it) continue;
    // A box the window itself opened (a file dialog's "replace?") first.
    for (QDialog* inner : (*it)->findChildren<QDialog*>())
      if (inner->isVisible()) inner->close();
    // Closing takes a message box's escape button; one without any (Abort,
    // Retry, Ignore) refuses to close and is rejected.
    (*it)->close();
    if (*it && (*it)->isVisible()) (*it)->reject();
  }
}

QWidget* QtUi::OwnerFromId(long ownerWindowId) {
  void* p = ui::WindowFromId(ownerWindowId);
  if (!p) return nullptr;
  // Only a pointer that is a live widget is used.
  for (QWidget* w : QApplication::allWidgets())
    if (static_cast<void*>(w) == p) return w;
  return nullptr;
}

int QtUi::MsgBox(const std::string& prompt, int buttons, const std::string& title) {
  if (!HaveWidgets()) return ui::DefaultAnswer(buttons);
  using SB = QMessageBox::StandardButton;
  std::vector<std::pair<SB, int>> offered;
  switch (buttons & 7) {
    case ui::vbOKCancel: offered = {{SB::Ok, ui::vbOK}, {SB::Cancel, ui::vbCancel}}; break;
    case ui::vbAbortRetryIgnore:
      offered = {{SB::Abort, ui::vbAbort}, {SB::Retry, ui::vbRetry}, {SB::Ignore, ui::vbIgnore}};
      break;
    case ui::vbYesNoCancel: offered = {{SB::Yes, ui::vbYes}, {SB::No, ui::vbNo}, {SB::Cancel, ui::vbCancel}}; break;
    case ui::vbYesNo: offered = {{SB::Yes, ui::vbYes}, {SB::No, ui::vbNo}}; break;
    case ui::vbRetryCancel: offered = {{SB::Retry, ui::vbRetry}, {SB::Cancel, ui::vbCancel}}; break;
    default: offered = {{SB::Ok, ui::vbOK}}; break;
  }

  QMessageBox box(ActiveOwner());
  box.setWindowTitle(Title(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(prompt));
  switch (buttons & 0x70) {
    case ui::vbCritical: box.setIcon(QMessageBox::Critical); break;
    case ui::vbQuestion: box.setIcon(QMessageBox::Question); break;
    case ui::vbExclamation: box.setIcon(QMessageBox::Warning); break;
    case ui::vbInformation: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  std::vector<QPushButton*> made;
  for (const auto& [standard, answer] : offered) made.push_back(box.addButton(standard));
  const size_t which = (buttons & ui::vbDefaultButton3) ? 2 : (buttons & ui::vbDefaultButton2) ? 1 : 0;
  box.setDefaultButton(made[std::min(which, made.size() - 1)]);
  Ask(box);

  QAbstractButton* clicked = box.clickedButton();
  for (size_t i = 0; i < made.size(); ++i)
    if (made[i] == clicked) return offered[i].second;
  // Closed without a button (Escape where the box offers no way out).
  return ui::DefaultAnswer(buttons);
}

bool QtUi::InputBox(const std::string& prompt, const std::string& title, std::string& value) {
  if (!HaveWidgets()) return false;
  QInputDialog dlg(ActiveOwner());
  dlg.setWindowTitle(Title(title));
  dlg.setInputMode(QInputDialog::TextInput);
  dlg.setLabelText(QString::fromStdString(prompt));
  // The prompt is text, never markup.
  if (auto* label = dlg.findChild<QLabel*>()) {
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromStdString(prompt));
  }
  dlg.setTextValue(QString::fromStdString(value));
  if (Ask(dlg) != QDialog::Accepted) return false;
  value = dlg.textValue().toStdString();
  return true;
}

std::string QtUi::BrowseForFolder(long ownerWindowId) {
  if (!HaveWidgets()) return {};
  QWidget* owner = OwnerFromId(ownerWindowId);
  QFileDialog dlg(owner ? owner : ActiveOwner());
  dlg.setFileMode(QFileDialog::Directory);
  dlg.setOption(QFileDialog::ShowDirsOnly, true);
  if (Ask(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  return dlg.selectedFiles().front().toStdString();
}

std::string QtUi::SaveFileName(ui::SaveFileRequest& request, long ownerWindowId) {
  if (!HaveWidgets()) return {};
  QWidget* owner = OwnerFromId(ownerWindowId);
  QFileDialog dlg(owner ? owner : ActiveOwner(), QString::fromStdString(request.title),
                  QString::fromStdString(request.folder));
  dlg.setObjectName("dlgSaveFile");
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setFileMode(QFileDialog::AnyFile);
  dlg.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
  QStringList filters;
  for (const auto& f : request.filters) filters << QString::fromStdString(f);
  dlg.setNameFilters(filters);
  if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
    dlg.selectNameFilter(filters[request.filterIndex - 1]);
  if (Ask(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  request.filterIndex = static_cast<int>(filters.indexOf(dlg.selectedNameFilter())) + 1;
  return dlg.selectedFiles().front().toStdString();
}

bool QtUi::ChooseProfile(const std::vector<std::string>& profiles, long ownerWindowId, std::string& chosen) {
  if (!HaveWidgets() || profiles.empty()) return false;
  QWidget* owner = OwnerFromId(ownerWindowId);
  QDialog dlg(owner ? owner : ActiveOwner());
  dlg.setObjectName("frmChooseProfile");
  dlg.setWindowTitle("Choose Profile");
  auto* list = new QListWidget(&dlg);
  list->setObjectName("lstProfiles");
  for (const auto& p : profiles) list->addItem(QString::fromStdString(p));
  auto* ok = new QPushButton("OK", &dlg);
  ok->setObjectName("cmdOk");
  ok->setDefault(true);
  auto* cancel = new QPushButton("Cancel", &dlg);
  cancel->setObjectName("cmdCancel");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(&dlg);
  layout->addWidget(list);
  layout->addLayout(buttons);

  int start = 0;
  for (size_t i = 0; i < profiles.size(); ++i)
    if (profiles[i] == chosen) start = static_cast<int>(i);
  list->setCurrentRow(start);
  QObject::connect(list, &QListWidget::currentRowChanged, ok, [ok](int row) { ok->setEnabled(row >= 0); });
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dlg, &QDialog::accept);
  QObject::connect(ok, &QPushButton::clicked, &dlg, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, &dlg, &QDialog::reject);

  if (Ask(dlg) != QDialog::Accepted || !list->currentItem()) return false;
  chosen = list->currentItem()->text().toStdString();
  return true;
}

bool QtUi::PrinterSetup(ui::PrinterSettings& settings, long ownerWindowId) {
  if (!HaveWidgets()) return false;
  std::unique_ptr<QPrinter> printer = printers::OpenPrinter(settings);
  // The PDF device opens on the file its next job would write; left as it
  // is, every job keeps writing a new file of its own.
  QString proposed;
  if (settings.device == printers::kPdfDevice) {
    proposed = QString::fromStdString(printers::PdfTarget(settings).string());
    printer->setOutputFileName(proposed);
  }
  QWidget* owner = OwnerFromId(ownerWindowId);
  QPrintDialog dlg(printer.get(), owner ? owner : ActiveOwner());
  dlg.setWindowTitle("Print Setup");
  dlg.setOption(QAbstractPrintDialog::PrintToFile, true);
  dlg.setOption(QAbstractPrintDialog::PrintPageRange, false);
  dlg.setOption(QAbstractPrintDialog::PrintSelection, false);
  dlg.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
  dlg.setOption(QAbstractPrintDialog::PrintCollateCopies, true);
  dlg.setOption(QAbstractPrintDialog::PrintShowPageSize, true);
  // A set-up, not a print: the confirming button reads OK.
  for (QDialogButtonBox* box : dlg.findChildren<QDialogButtonBox*>())
    if (QPushButton* ok = box->button(QDialogButtonBox::Ok)) ok->setText("OK");
  if (Ask(dlg) != QDialog::Accepted) return false;
  ui::PrinterSettings chosen;
  if (printer->outputFormat() == QPrinter::PdfFormat || !printer->outputFileName().isEmpty()) {
    chosen.device = printers::kPdfDevice;
    if (printer->outputFileName() != proposed || !settings.file.empty())
      chosen.file = printer->outputFileName().toStdString();
  } else {
    chosen.device = printer->printerName().toStdString();
  }
  chosen.paper = static_cast<int>(printer->pageLayout().pageSize().id());
  chosen.orientation = printer->pageLayout().orientation() == QPageLayout::Landscape ? 1 : 0;
  chosen.copies = printer->copyCount();
  chosen.duplex = static_cast<int>(printer->duplex());
  settings = chosen;
  return true;
}

}  // namespace velmo
