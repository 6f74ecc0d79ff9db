#pragma once
// Shared by the print component's tests: the application, a fresh
// application folder with a scripted UI, report grids, PDF text and the
// driving of modal windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ComFactory.h"
#include "FlexGrid.h"
#include "IVLMRPrinter.h"
#include "PrintControlVariables.h"
#include "Printers.h"
#include "QtTestApp.h"
#include "TestHome.h"
#include "ScriptedUi.h"
#include "Ui.h"

namespace previewtest {

// A report grid: row 0 the captions "Cap01"..., column 0 empty and 0 wide,
// cells "R<row>C<col>" (rows with 5 digits so no label holds another).
inline std::unique_ptr<velmo::FlexGrid> ReportGrid(int rows, int cols, int rowHeight = 300, int colWidth = 1500) {
  auto g = std::make_unique<velmo::FlexGrid>();
  std::vector<std::vector<std::string>> data(static_cast<size_t>(rows + 1));
  for (int r = 0; r <= rows; ++r) {
    auto& row = data[static_cast<size_t>(r)];
    row.resize(static_cast<size_t>(cols + 1));
    for (int c = 1; c <= cols; ++c) {
      char buf[32];
      if (r == 0)
        std::snprintf(buf, sizeof buf, "Cap%02d", c);
      else
        std::snprintf(buf, sizeof buf, "R%05dC%02d", r, c);
      row[static_cast<size_t>(c)] = buf;
    }
  }
  g->SetData(std::move(data));
  g->FixedRows(1);
  g->FixedCols(1);
  g->ColWidth(0, 0);
  for (int c = 1; c <= cols; ++c) g->ColWidth(c, colWidth);
  for (int r = 0; r <= rows; ++r) g->RowHeight(r, rowHeight);
  return g;
}

// What the program's callers hand the component.
inline void CallerSettings(IVLMRPrinter& p, velmo::FlexGrid* grid) {
  p.SourceGrid(grid);
  p.Title1("Velmorine for Exchange Server v1.4.2", ALIGNCENTRE, "Times New Roman", 14);
  p.TitleSeprator(true);
  p.Title2("Mailboxes General - 'SRV1'", ALIGNLEFT);
  p.Title3("12/9/2026 11:00:00 AM", ALIGNLEFT);
  p.FixedRowShade(true);
}

// Each test: its own application folder, a scripted UI and the PDF device
// as the current printer.
class PreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velmo::test::TestApp("test_preview");
    ui_ = std::make_shared<velmo::ui::ScriptedUi>();
    previousUi_ = velmo::ui::SetUi(ui_);
    savedPrinter_ = velmo::printers::Current();
    velmo::ui::PrinterSettings pdf;
    pdf.device = velmo::printers::kPdfDevice;
    velmo::printers::SetCurrent(pdf);
  }
  void TearDown() override {
    velmo::printers::SetCurrent(savedPrinter_);
    velmo::ui::SetUi(previousUi_);
  }
  std::shared_ptr<IVLMRPrinter> NewPrinter() {
    auto p = velmo::com::CreateObject<IVLMRPrinter>("VLMRPreview.IVLMRPrinter");
    p->ProductName("Velmorine for Exchange Server (Velmorcast)");
    return p;
  }
  // The PDF files the jobs wrote, and anything else left in Print/.
  std::vector<std::filesystem::path> PrintFolder() const {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(home_ / "Print", ec)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> m;
    for (const auto& s : ui_->shown())
      if (s.kind == "MsgBox") m.push_back(s.prompt);
    return m;
  }

  velmo::test::TestHome home_;
  std::shared_ptr<velmo::ui::ScriptedUi> ui_;
  std::shared_ptr<velmo::ui::UiSeam> previousUi_;
  velmo::ui::PrinterSettings savedPrinter_;
};

// Output of a command.
inline std::string Run(const std::string& command) {
  std::string out;
  if (FILE* f = ::popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    ::pclose(f);
  }
  return out;
}
// A path as one word of a shell command.
inline std::string Quoted(const std::filesystem::path& p) {
  std::string q = "'";
  for (const char c : p.string()) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}
inline int PdfPages(const std::filesystem::path& pdf) {
  const std::string info = Run("pdfinfo " + Quoted(pdf) + " 2>/dev/null");
  const auto at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}
inline std::string PdfPageText(const std::filesystem::path& pdf, int page) {
  return Run("pdftotext -layout -f " + std::to_string(page) + " -l " + std::to_string(page) + " " + Quoted(pdf) +
             " - 2>/dev/null");
}
inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The visible top-level window of that name, or nullptr.
inline QWidget* Window(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == name && w->isVisible()) return w;
  return nullptr;
}
// Runs step once the window of that name shows (checked every 10 ms).
inline void WhenShown(const char* name, std::function<void(QWidget*)> step, int triesLeft = 500) {
  QTimer::singleShot(10, [=] {
    if (QWidget* w = Window(name))
      step(w);
    else if (triesLeft > 0)
      WhenShown(name, step, triesLeft - 1);
  });
}
// Types a key into the focused widget, as a user does.
inline void Type(int key) {
  if (!QApplication::focusWidget()) velmo::test::PumpEvents();
  QWidget* target = QApplication::focusWidget();
  if (!target) target = QApplication::activeWindow();
  if (!target) return;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
}
// A member of a control array.
template <class T>
T* Member(QWidget* w, const char* name, int index) {
  for (T* c : w->findChildren<T*>(name))
    if (c->property("Index").toInt() == index) return c;
  return nullptr;
}

}  // namespace previewtest
