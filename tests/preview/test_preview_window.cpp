// The preview window driven as a user does: page moves, zoom, the pop-up
// menu, the option dialogs, printing from it and the printer set-up.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "PreviewTestSupport.h"
#include "PrintWindows.h"

using namespace previewtest;
using vlmrpreview::PrintControlVariables;
using vlmrpreview::StateOf;

namespace {

std::string Text(QWidget* w, const char* label) { return w->findChild<QLabel*>(label)->text().toStdString(); }
std::string Moves(QWidget* w) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += Member<QPushButton>(w, "cmdMove", i)->isEnabled() ? "1" : "0";
  return s;
}
void Click(QWidget* w, const char* name, int index) { Member<QPushButton>(w, name, index)->click(); }
void Save(QWidget* w, const char* name) {
  w->grab().save(QString(VELMO_BINARY_DIR "/tests/") + name);
}
std::string Label(int row, int col) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "R%05dC%02d", row, col);
  return buf;
}
// The first data row shown: the page grid's row after its caption row.
std::string FirstShown(QWidget* w) { return w->findChild<velmo::FlexGrid*>("GData")->TextMatrix(1, 1); }
void RightClick(QWidget* target) {
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), Qt::RightButton,
                    Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
}
// Shows the preview and runs steps on it; the steps close it.
void Preview(IVLMRPrinter& p, std::function<void(QWidget*)> steps) {
  bool ran = false;
  WhenShown("frmPreview", [&](QWidget* w) {
    ran = true;
    steps(w);
    if (Window("frmPreview")) Click(w, "cmdOperations", 4);
  });
  p.ShowPreview();
  EXPECT_TRUE(ran);
}

}  // namespace

TEST_F(PreviewTest, PreviewPagesMovesZoomMenuAndOptions) {
  auto grid = ReportGrid(120, 4);
  auto p = NewPrinter();
  CallerSettings(*p, grid.get());
  PrintControlVariables& v = *StateOf(p.get());
  Preview(*p, [&](QWidget* w) {
    EXPECT_EQ(w->windowTitle().toStdString(), "Print Preview  [ Velmorcast PDF ]");
    EXPECT_EQ(w->size(), QSize(766, 544));
    EXPECT_EQ(Text(w, "lbPageNo"), "Page 1 of 3");
    EXPECT_EQ(Moves(w), "0011");
    EXPECT_EQ(v.PageNumberPosition, "Bottom Right");
    EXPECT_EQ(FirstShown(w), Label(1, 1));
    Save(w, "preview_fitted.png");

    // Page moves and the states they leave.
    struct Move {
      int index;
      const char* page;
      const char* states;
    };
    for (const Move& m : {Move{2, "Page 2 of 3", "1111"}, Move{3, "Page 3 of 3", "1100"}, Move{1, "Page 2 of 3", "1111"},
                          Move{1, "Page 1 of 3", "0011"}, Move{2, "Page 2 of 3", "1111"}, Move{2, "Page 3 of 3", "1100"},
                          Move{0, "Page 1 of 3", "0011"}}) {
      Click(w, "cmdMove", m.index);
      EXPECT_EQ(Text(w, "lbPageNo"), m.page);
      EXPECT_EQ(Moves(w), m.states) << m.page;
      EXPECT_EQ(FirstShown(w), Label(v.PageTable[static_cast<size_t>(v.CurrentPage)].RowFrom, 1));
    }

    // Actual size: scroll ranges are what the page exceeds the view by.
    auto* hs = w->findChild<QScrollBar*>("HS");
    auto* vs = w->findChild<QScrollBar*>("VS");
    auto* base = w->findChild<QWidget*>("pbBase");
    Click(w, "cmdOperations", 2);
    EXPECT_EQ(Member<QPushButton>(w, "cmdOperations", 2)->text(), "&Zoom Out");
    EXPECT_TRUE(hs->isEnabled());
    const auto page = velmo::printers::GeometryOf(velmo::printers::Current());
    EXPECT_EQ(hs->maximum(), std::max(0, page.Width - base->width() * 15));
    EXPECT_EQ(vs->maximum(), std::max(0, page.Height - base->height() * 15));
    EXPECT_EQ(vs->pageStep(), base->height() * 15);
    vs->setValue(vs->maximum());
    EXPECT_EQ(w->findChild<QWidget*>("pbData")->y(), -vs->maximum() / 15);
    Save(w, "preview_actual_size.png");
    RightClick(base);
    auto* menu = w->findChild<QMenu*>("PrintPopup");
    EXPECT_TRUE(menu->isVisible());
    EXPECT_FALSE(w->findChild<QAction*>("MenuZoomin")->isEnabled());
    EXPECT_TRUE(w->findChild<QAction*>("MenuZoomOut")->isEnabled());
    menu->close();
    w->findChild<QAction*>("MenuZoomOut")->trigger();  // back to fitted
    EXPECT_EQ(Member<QPushButton>(w, "cmdOperations", 2)->text(), "&Zoom In");
    EXPECT_FALSE(hs->isEnabled());
    EXPECT_EQ(vs->value(), 0);
    RightClick(base);
    EXPECT_TRUE(w->findChild<QAction*>("MenuZoomin")->isEnabled());
    EXPECT_FALSE(w->findChild<QAction*>("MenuZoomOut")->isEnabled());
    menu->close();

    // Options: opens on the position in force; Ok moves the number and
    // returns to page 1; Cancel and Esc keep the page shown.
    Click(w, "cmdMove", 2);
    WhenShown("frmPageSettings", [](QWidget* d) {
      Save(d, "preview_options.png");
      EXPECT_EQ(d->windowTitle(), "Printer Option");
      EXPECT_TRUE(d->findChild<QCheckBox*>("chkPageNo")->isChecked());
      auto* align = d->findChild<QComboBox*>("cbPageAlign");
      EXPECT_TRUE(align->isEnabled());
      EXPECT_EQ(align->currentText(), "Bottom Right");
      align->setCurrentIndex(1);
      Click(d, "cmdOption", 0);
    });
    Click(w, "cmdOperations", 3);
    EXPECT_EQ(v.PageNumberPosition, "Top Right");
    EXPECT_EQ(Text(w, "lbPageNo"), "Page 1 of 3");
    EXPECT_EQ(Moves(w), "0011");
    Click(w, "cmdMove", 2);
    for (bool esc : {false, true}) {
      WhenShown("frmPageSettings", [esc](QWidget* d) {
        EXPECT_EQ(d->findChild<QComboBox*>("cbPageAlign")->currentText(), "Top Right");
        d->findChild<QCheckBox*>("chkPageNo")->setChecked(false);
        if (esc) {
          d->findChild<QCheckBox*>("chkPageNo")->setFocus();
          Type(Qt::Key_Escape);
        } else {
          Click(d, "cmdOption", 1);
        }
      });
      Click(w, "cmdOperations", 3);
      EXPECT_EQ(v.PageNumberPosition, "Top Right");
      EXPECT_EQ(Text(w, "lbPageNo"), "Page 2 of 3");
    }
    // Unticked and Ok: no page number.
    WhenShown("frmPageSettings", [](QWidget* d) {
      d->findChild<QCheckBox*>("chkPageNo")->setChecked(false);
      EXPECT_FALSE(d->findChild<QComboBox*>("cbPageAlign")->isEnabled());
      Click(d, "cmdOption", 0);
    });
    Click(w, "cmdOperations", 3);
    EXPECT_EQ(v.PageNumberPosition, "");
    // Esc closes the preview.
    w->activateWindow();
    w->setFocus();
    Type(Qt::Key_Escape);
    EXPECT_FALSE(Window("frmPreview"));
  });
  // A later preview starts at "Bottom Right" again.
  Preview(*p, [&](QWidget*) { EXPECT_EQ(v.PageNumberPosition, "Bottom Right"); });
}

TEST_F(PreviewTest, PrintingFromThePreview) {
  auto grid = ReportGrid(120, 4);
  auto p = NewPrinter();
  CallerSettings(*p, grid.get());
  PrintControlVariables& v = *StateOf(p.get());
  auto newest = [&] {
    auto files = PrintFolder();
    return files.empty() ? std::filesystem::path() : files.back();
  };
  Preview(*p, [&](QWidget* w) {
    Click(w, "cmdMove", 2);  // page 2
    // Enter in the page selection prints all pages.
    WhenShown("frmPageSelection", [](QWidget* d) {
      Save(d, "preview_page_selection.png");
      EXPECT_TRUE(d->findChild<QRadioButton*>("opPageSelection1")->isChecked());
      Type(Qt::Key_Return);
    });
    Click(w, "cmdOperations", 0);
    ASSERT_EQ(PrintFolder().size(), 1u);
    EXPECT_EQ(PdfPages(newest()), 3);
    EXPECT_EQ(Text(w, "lbPageNo"), "Page 2 of 3");

    // "Print Current Page" prints exactly the page shown, also after all
    // pages were printed.
    WhenShown("frmPageSelection", [](QWidget* d) {
      d->findChild<QRadioButton*>("opPageSelection2")->setChecked(true);
      d->findChild<QPushButton*>("OKButton")->click();
    });
    Click(w, "cmdOperations", 0);
    ASSERT_EQ(PrintFolder().size(), 2u);
    const auto current = PrintFolder();
    std::filesystem::path one;
    for (const auto& f : current)
      if (PdfPages(f) == 1) one = f;
    ASSERT_FALSE(one.empty());
    const std::string text = PdfPageText(one, 1);
    const auto& r = v.PageTable[2];
    for (int row = 1; row <= 120; ++row)
      EXPECT_EQ(Count(text, Label(row, 1)), row >= r.RowFrom && row <= r.RowTo ? 1 : 0) << row;
    EXPECT_EQ(Count(text, "Page 2 of 3"), 1);

    // Cancel and Esc print nothing.
    WhenShown("frmPageSelection", [](QWidget* d) { d->findChild<QPushButton*>("CancelButton")->click(); });
    Click(w, "cmdOperations", 0);
    WhenShown("frmPageSelection", [](QWidget* d) {
      d->findChild<QRadioButton*>("opPageSelection2")->setChecked(true);
      d->findChild<QPushButton*>("OKButton")->setFocus();
      Type(Qt::Key_Escape);
    });
    w->findChild<QAction*>("MenuPrint")->trigger();
    EXPECT_EQ(PrintFolder().size(), 2u);
    EXPECT_EQ(v.PageSelection, 0);

    // Esc once all pages are printing ends the job after the page being
    // printed: its file goes, the preview stays.
    QTimer poll;
    poll.setInterval(1);
    bool sent = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (sent) return;
      for (const auto& f : PrintFolder())
        if (f.extension() == ".part") {
          sent = true;
          w->activateWindow();
          w->setFocus();
          Type(Qt::Key_Escape);
        }
    });
    WhenShown("frmPageSelection", [&poll](QWidget*) {
      poll.start();
      Type(Qt::Key_Return);
    });
    Click(w, "cmdOperations", 0);
    EXPECT_TRUE(sent);
    EXPECT_EQ(PrintFolder().size(), 2u);
    EXPECT_TRUE(Window("frmPreview"));
  });
  EXPECT_TRUE(Messages().empty());

  // One page prints without asking.
  std::filesystem::remove_all(home_ / "Print");
  auto small = ReportGrid(3, 2);
  auto q = NewPrinter();
  CallerSettings(*q, small.get());
  Preview(*q, [&](QWidget* w) {
    EXPECT_EQ(Moves(w), "0000");
    Click(w, "cmdOperations", 0);
    ASSERT_EQ(PrintFolder().size(), 1u);
    EXPECT_EQ(PdfPages(PrintFolder()[0]), 1);
  });
}

TEST_F(PreviewTest, PrinterSetupFromThePreview) {
  auto grid = ReportGrid(120, 4);
  auto p = NewPrinter();
  CallerSettings(*p, grid.get());
  PrintControlVariables& v = *StateOf(p.get());
  Preview(*p, [&](QWidget* w) {
    Click(w, "cmdMove", 2);
    // Cancel: nothing changes.
    ui_->QueuePrinterSetup({}, false);
    Click(w, "cmdOperations", 1);
    EXPECT_EQ(Text(w, "lbPageNo"), "Page 2 of 3");
    EXPECT_EQ(velmo::printers::Current().device, "Velmorcast PDF");
    EXPECT_EQ(w->windowTitle().toStdString(), "Print Preview  [ Velmorcast PDF ]");
    // Landscape: laid out again, from page 1.
    velmo::ui::PrinterSettings landscape = velmo::printers::Current();
    landscape.orientation = 1;
    ui_->QueuePrinterSetup(landscape);
    Click(w, "cmdOperations", 1);
    EXPECT_EQ(velmo::printers::Current().orientation, 1);
    EXPECT_EQ(v.CurrentPage, 1);
    EXPECT_EQ(v.PageCount, 5);
    EXPECT_EQ(Text(w, "lbPageNo"), "Page 1 of 5");
    EXPECT_EQ(w->windowTitle().toStdString(), "Print Preview  [ Velmorcast PDF ]");
    EXPECT_FALSE(v.PrinterChanged);
    Save(w, "preview_landscape.png");
    // Another device: named in the caption.
    velmo::ui::PrinterSettings other = landscape;
    other.device = "Office Laser";
    ui_->QueuePrinterSetup(other);
    Click(w, "cmdOperations", 1);
    EXPECT_EQ(w->windowTitle().toStdString(), "Office Laser    Print Preview");
  });
  EXPECT_EQ(ui_->shown()[0].kind, "PrinterSetup");
}

TEST_F(PreviewTest, PreviewAfterPrintShowsItsOwnGridAndALargeGrid) {
  auto first = ReportGrid(120, 4);
  auto p = NewPrinter();
  CallerSettings(*p, first.get());
  WhenShown("frmPrintStatus", [](QWidget* w) { w->activateWindow(), w->setFocus(), Type(Qt::Key_Escape); });
  p->PrintReport();
  // 100,000 rows of 20 columns at default sizes.
  auto big = ReportGrid(100000, 20, velmo::FlexGrid().DefaultRowHeight(), velmo::FlexGrid::DefaultColWidth());
  p->SourceGrid(big.get());
  PrintControlVariables& v = *StateOf(p.get());
  Preview(*p, [&](QWidget* w) {
    EXPECT_GT(v.PageCount, 32767 / 10);
    EXPECT_EQ(Text(w, "lbPageNo"), "Page 1 of " + std::to_string(v.PageCount));
    EXPECT_EQ(FirstShown(w), Label(1, 1));
    Click(w, "cmdMove", 3);
    auto* g = w->findChild<velmo::FlexGrid*>("GData");
    EXPECT_EQ(g->TextMatrix(g->Rows() - 1, g->Cols() - 1), Label(100000, 20));
    EXPECT_EQ(Moves(w), "1100");
    Save(w, "preview_last_page.png");
  });
}

#include <QPrintDialog>
#include <QPrinter>

#include "QtUi.h"

// The windowed set-up dialog: Cancel changes nothing; OK on the PDF device
// as proposed keeps a new file for every job.
TEST_F(PreviewTest, WindowedPrinterSetupDialog) {
  velmo::QtUi qt;
  velmo::ui::PrinterSettings s = velmo::printers::Current();
  const velmo::ui::PrinterSettings before = s;
  auto dialog = [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QPrintDialog*>(w); d && d->isVisible()) return d;
    return static_cast<QPrintDialog*>(nullptr);
  };
  std::function<void(std::function<void(QPrintDialog*)>)> when = [&](std::function<void(QPrintDialog*)> step) {
    QTimer::singleShot(20, [=, &when] {
      if (QPrintDialog* d = dialog())
        step(d);
      else
        when(step);
    });
  };
  when([](QPrintDialog* d) {
    d->grab().save(VELMO_BINARY_DIR "/tests/print_setup_dialog.png");
    d->reject();
  });
  EXPECT_FALSE(qt.PrinterSetup(s, 0));
  EXPECT_EQ(s, before);
  when([](QPrintDialog* d) { d->accept(); });
  ASSERT_TRUE(qt.PrinterSetup(s, 0));
  EXPECT_EQ(s.device, "Velmorcast PDF");
  EXPECT_EQ(s.file, "");
  EXPECT_EQ(s.copies, 1);
}
