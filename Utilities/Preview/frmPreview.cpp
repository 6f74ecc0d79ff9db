// The preview window: composes the page shown at screen scale (15 twips a
// pixel) with the same drawing code as the printed page, and shows it fitted
// into the window or at actual size.
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>

#include "PrintGeneralFucntions.h"
#include "PrintPage.h"
#include "PrintWindows.h"
#include "StopSignals.h"
#include "Ui.h"
#include "WaitCursor.h"

namespace vlmrpreview {

namespace {

constexpr int kTw = velmo::kTwipsPerPixel;
constexpr auto Px = velmo::TwipsToPx;

// The hourglass for the length of a command.
using Hourglass = velmo::ui::WaitCursor;

// pbData: paints the composed page, stretched into the fitted rectangle or
// at its own size.
class PageView : public QWidget {
 public:
  PageView(QWidget* parent, const QImage& image, const bool& fit) : QWidget(parent), image_(image), fit_(fit) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (image_.isNull()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (fit_)
      p.drawImage(QRect(Px(500), Px(100), width() - Px(500), height() - Px(500)), image_);
    else
      p.drawImage(QPoint(0, 0), image_);
  }

 private:
  const QImage& image_;
  const bool& fit_;
};

}  // namespace

frmPreview::frmPreview(PrintControlVariables& v, QWidget* parent) : QDialog(parent), v_(v) {
  setObjectName("frmPreview");
  setWindowTitle("Print Preview");
  setFixedSize(Px(11490), Px(8160));

  const char* ops[5] = {"&Print", "&Setup", "&Zoom In", "&Option", "&Close"};
  const int opLeft[5] = {545, 1650, 2750, 3860, 4960};
  for (int i = 0; i < 5; ++i) {
    auto* b = new QPushButton(ops[i], this);
    b->setObjectName("cmdOperations");
    b->setProperty("Index", i);
    b->setGeometry(Px(opLeft[i]), Px(25), Px(1090), Px(325));
    b->setAutoDefault(false);
    cmdOperations_[i] = b;
  }
  const char* moves[4] = {"|<", "<<", ">>", ">|"};
  for (int i = 0; i < 4; ++i) {
    auto* b = new QPushButton(moves[i], this);
    b->setObjectName("cmdMove");
    b->setProperty("Index", i);
    b->setGeometry(Px(7350 + i * 495), Px(50), Px(495), Px(325));
    b->setAutoDefault(false);
    cmdMove_[i] = b;
  }
  lbPageNo_ = new QLabel("Page 1 of 1", this);
  lbPageNo_->setObjectName("lbPageNo");
  lbPageNo_->setGeometry(Px(9720), Px(100), Px(1545), Px(255));

  pbBase_ = new QWidget(this);
  pbBase_->setObjectName("pbBase");
  pbBase_->setAutoFillBackground(true);
  QPalette base = pbBase_->palette();
  base.setColor(QPalette::Window, base.color(QPalette::Dark));
  pbBase_->setPalette(base);
  pbBase_->installEventFilter(this);

  pbTempData_ = new QWidget(pbBase_);
  pbTempData_->setObjectName("pbTempData");
  pbTempData_->hide();
  pbTemp_ = new QWidget(pbBase_);
  pbTemp_->setObjectName("pbTemp");
  pbTemp_->hide();
  GData_ = NewPageGrid(pbBase_);
  GData_->setObjectName("GData");
  sHeader_ = NewPageGrid(pbBase_);
  sHeader_->setObjectName("sHeader");
  pbData_ = new PageView(pbBase_, pageImage_, fitToWindow_);
  pbData_->setObjectName("pbData");
  pbData_->installEventFilter(this);

  HS_ = new QScrollBar(Qt::Horizontal, this);
  HS_->setObjectName("HS");
  VS_ = new QScrollBar(Qt::Vertical, this);
  VS_->setObjectName("VS");
  connect(HS_, &QScrollBar::valueChanged, this, [this](int value) { pbData_->move(-value / kTw, pbData_->y()); });
  connect(VS_, &QScrollBar::valueChanged, this, [this](int value) { pbData_->move(pbData_->x(), -value / kTw); });

  PrintPopup_ = new QMenu("PrintPopMenu", this);
  PrintPopup_->setObjectName("PrintPopup");
  auto item = [this](const char* name, const char* caption, void (frmPreview::*slot)()) {
    QAction* a = PrintPopup_->addAction(caption);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, [this, slot] { Trap([this, slot] { (this->*slot)(); }); });
    return a;
  };
  MenuPrint_ = item("MenuPrint", "&Print", &frmPreview::PrintFromPreview);
  MenuSetup_ = item("MenuSetup", "&Setup", &frmPreview::SetupPrinter);
  MenuZoomin_ = item("MenuZoomin", "&Zoom In", &frmPreview::ToggleZoom);
  MenuZoomOut_ = item("MenuZoomOut", "&Zoom Out", &frmPreview::ToggleZoom);
  MenuOption_ = item("MenuOption", "&Option", &frmPreview::ShowPageOptions);
  MenuClose_ = item("MenuClose", "&Close", &frmPreview::ClosePreview);

  void (frmPreview::*opSlots[5])() = {&frmPreview::PrintFromPreview, &frmPreview::SetupPrinter,
                                       &frmPreview::ToggleZoom, &frmPreview::ShowPageOptions,
                                       &frmPreview::ClosePreview};
  for (int i = 0; i < 5; ++i) {
    auto slot = opSlots[i];
    connect(cmdOperations_[i], &QPushButton::clicked, this, [this, slot] { Trap([this, slot] { (this->*slot)(); }); });
  }
  for (int i = 0; i < 4; ++i)
    connect(cmdMove_[i], &QPushButton::clicked, this, [this, i] {
      Trap([this, i] {
        Hourglass wait;
        Freeze(true);
        MoveToPage(i);
        Freeze(false);
      });
    });

  Relayout();
  Trap([this] { Load(); });
}

frmPreview::~frmPreview() {
  if (windowId_) velmo::ui::UnregisterWindow(windowId_);
}

template <class F>
void frmPreview::Trap(F&& f) {
  if (busy_ || closing_) return;
  try {
    f();
  } catch (const std::exception&) {
    Freeze(false);
    ShowPrinterProblem(v_);
    ClosePreview();
  }
}

void frmPreview::Freeze(bool on) { pbBase_->setUpdatesEnabled(!on); }

// Places the buttons, the work area and the scroll bars.
void frmPreview::Relayout() {
  const int sb = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  pbBase_->setGeometry(0, Px(425), width() - sb, height() - (sb + Px(425)));
  VS_->setGeometry(pbBase_->width(), pbBase_->y(), sb, pbBase_->height());
  HS_->setGeometry(0, pbBase_->y() + pbBase_->height(), pbBase_->width(), sb);
}

void frmPreview::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  Relayout();
  if (fitToWindow_) SetWindowForZoomIn();
}

void frmPreview::Load() {
  if (const QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  Freeze(true);
  QPalette p = lbPageNo_->palette();
  p.setColor(QPalette::Window, palette().color(QPalette::Window));
  lbPageNo_->setPalette(p);
  v_.PrintFontName = "Times New Roman";
  v_.PageNumberPosition = "Bottom Right";
  v_.PrinterChanged = false;
  v_.RebuildPageTable = false;
  fitToWindow_ = true;
  page_ = velmo::printers::GeometryOf(velmo::printers::Current());
  pbTempData_->setGeometry(0, 0, Px(page_.Width), Px(page_.Height));
  SetWindowForZoomIn();
  if (v_.HeaderPresent) PrepareHeaderGrid(sHeader_.get());
  setWindowTitle(QString::fromStdString("Print Preview  [ " + velmo::printers::Current().device + " ]"));
  BuildPageTable(v_, page_.ScaleWidth, page_.ScaleHeight);
  UpdateMoveButtons();
  if (v_.PageCount >= 1) {
    const PageRange& r = v_.PageTable[1];
    CopyMorePagesA(r.ColFrom, r.ColTo, r.RowFrom, r.RowTo);
  }
  Freeze(false);
}

void frmPreview::UpdateMoveButtons() {
  const bool back = v_.CurrentPage > 1, forward = v_.CurrentPage < v_.PageCount;
  cmdMove_[0]->setEnabled(back);
  cmdMove_[1]->setEnabled(back);
  cmdMove_[2]->setEnabled(forward);
  cmdMove_[3]->setEnabled(forward);
  lbPageNo_->setText(QString::fromStdString(ShowPageNoCaption(v_)));
  // A long page count widens the label leftwards rather than being cut.
  const int w = std::max(Px(1545), lbPageNo_->sizeHint().width());
  lbPageNo_->setGeometry(std::min(Px(9720), width() - w - 4), lbPageNo_->y(), w, lbPageNo_->height());
}

void frmPreview::Activate() {
  Trap([this] {
    Freeze(true);
    setWindowTitle(QString::fromStdString("Print Preview  [ " + velmo::printers::Current().device + " ]"));
    if (v_.RebuildPageTable) {
      v_.RebuildPageTable = false;
      page_ = velmo::printers::GeometryOf(velmo::printers::Current());
      BuildPageTable(v_, page_.ScaleWidth, page_.ScaleHeight);
      UpdateMoveButtons();
      if (v_.PageCount >= 1) {
        const PageRange& r = v_.PageTable[1];
        CopyMorePagesA(r.ColFrom, r.ColTo, r.RowFrom, r.RowTo);
      }
    }
    Freeze(false);
  });
}

bool frmPreview::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) Activate();
  return QDialog::event(e);
}

void frmPreview::CopyMorePagesA(int colFrom, int colTo, int rowFrom, int rowTo) {
  pageImage_ = QImage(std::max(1, Px(page_.Width)), std::max(1, Px(page_.Height)), QImage::Format_RGB32);
  pageImage_.fill(Qt::white);
  {
    QPainter p(&pageImage_);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(1.0 / kTw, 1.0 / kTw);
    p.translate(page_.Left, page_.Top);
    PainterCanvas canvas(p);
    canvas.SetFont(v_.PrintFontName, 12, false);
    PageRange r{rowFrom, rowTo, colFrom, colTo, v_.CurrentPage};
    std::string failure;
    if (!RenderRange(canvas, v_, *GData_, r, v_.CurrentPage, page_.ScaleWidth, page_.ScaleHeight, v_.GridBorder,
                     &failure))
      velmo::ui::Ui().MsgBox(failure, velmo::ui::vbInformation, v_.ProductName);
  }
  ShowPage();
}

void frmPreview::ShowPage() {
  if (!fitToWindow_) pbData_->resize(Px(page_.Width), Px(page_.Height));
  pbData_->update();
}

void frmPreview::SetWindowForZoomIn() {
  HS_->setValue(HS_->minimum());
  HS_->setEnabled(false);
  VS_->setValue(VS_->minimum());
  VS_->setEnabled(false);
  const int top = Px(50);
  pbData_->setGeometry(width() / 4, top, width() / 2, std::max(0, pbBase_->height() - (top + Px(50))));
}

void frmPreview::SetWindowForZoomOut() {
  pbData_->setGeometry(0, 0, Px(page_.Width), Px(page_.Height));
  const int visibleW = pbBase_->width() * kTw, visibleH = pbBase_->height() * kTw;
  HS_->setEnabled(true);
  HS_->setRange(0, std::max(0, page_.Width - visibleW));
  HS_->setSingleStep(10 * kTw);
  HS_->setPageStep(visibleW);
  VS_->setEnabled(true);
  VS_->setRange(0, std::max(0, page_.Height - visibleH));
  VS_->setSingleStep(10 * kTw);
  VS_->setPageStep(visibleH);
}

void frmPreview::ToggleZoom() {
  Freeze(true);
  Hourglass wait;
  if (fitToWindow_) {
    fitToWindow_ = false;
    cmdOperations_[2]->setText("&Zoom Out");
    SetWindowForZoomOut();
  } else {
    fitToWindow_ = true;
    cmdOperations_[2]->setText("&Zoom In");
    SetWindowForZoomIn();
  }
  ShowPage();
  Freeze(false);
}

void frmPreview::MoveToPage(int index) {
  if (v_.PageCount < 1) return;
  int page = v_.CurrentPage;
  if (index == 0) page = 1;
  if (index == 1) page = std::max(1, page - 1);
  if (index == 2) page = std::min(v_.PageCount, page + 1);
  if (index == 3) page = v_.PageCount;
  v_.CurrentPage = page;
  UpdateMoveButtons();
  const PageRange& r = v_.PageTable[static_cast<size_t>(page)];
  CopyMorePagesA(r.ColFrom, r.ColTo, r.RowFrom, r.RowTo);
}

void frmPreview::ShowPageOptions() {
  v_.RebuildPageTable = true;
  {
    frmPageSettings dlg(v_, this);
    dlg.exec();
  }
  Activate();
}

void frmPreview::ClosePreview() {
  if (busy_) return;
  closing_ = true;
  QDialog::reject();
}

void frmPreview::reject() {
  if (busy_) {
    cancel_ = true;
    return;
  }
  ClosePreview();
}

void frmPreview::closeEvent(QCloseEvent* e) {
  if (busy_) {
    cancel_ = true;
    e->ignore();
    return;
  }
  QDialog::closeEvent(e);
}

void frmPreview::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    reject();
    return;
  }
  QDialog::keyPressEvent(e);
}

bool frmPreview::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::MouseButtonPress) {
    auto* me = static_cast<QMouseEvent*>(e);
    if (me->button() == Qt::RightButton && (watched == pbBase_ || watched == pbData_)) {
      if (watched == pbBase_) {
        const bool out = cmdOperations_[2]->text() == "&Zoom Out";
        MenuZoomin_->setEnabled(!out);
        MenuZoomOut_->setEnabled(out);
      }
      PrintPopup_->popup(me->globalPosition().toPoint());
      return true;
    }
  }
  return QDialog::eventFilter(watched, e);
}

// Prints the page shown, or asks which pages when there are several. The
// page shown is composed again from its page range, so what is printed is
// that page whatever was printed before.
void frmPreview::PrintFromPreview() {
  if (v_.PageCount < 1) return;
  int selection = 2;
  bool border = v_.GridBorder;
  if (v_.PageCount >= 2) {
    {
      frmPageSelection dlg(v_, this);
      dlg.exec();
    }
    Activate();
    selection = v_.PageSelection;
    border = false;
    if (selection == 0) return;
  }
  Hourglass wait;
  v_.PrintFontName = "Times New Roman";
  velmo::printers::Job job(velmo::printers::Current());
  std::string failure;
  bool ok = false;
  busy_ = true;
  cancel_ = false;
  bool cancelled = false;
  const velmo::WorkUnderWay work;  // a stop request ends the job after its page
  try {
    if (!job.Begin(v_.Title2Text.empty() ? v_.ProductName : v_.Title2Text, v_.Title2Text)) {
      failure = job.Failure();
    } else if (selection == 2) {
      ok = PrintOnePage(job, v_, *GData_, v_.CurrentPage, border, &failure);
    } else {
      PrintProgress progress;
      progress.cancelled = [this] {
        QCoreApplication::processEvents();
        return cancel_ || velmo::StopSignal() != 0;
      };
      ok = PrintAllPages(job, v_, *GData_, progress, &failure);
      cancelled = !ok && failure.empty();
    }
  } catch (const std::exception& e) {
    busy_ = false;
    v_.LastJobOutcome = PrintJobOutcome::Failed;
    v_.LastJobFile = job.OutputFile().string();
    v_.LastJobError = e.what();
    throw;
  }
  busy_ = false;
  v_.LastJobOutcome = ok ? PrintJobOutcome::Printed : cancelled ? PrintJobOutcome::Cancelled : PrintJobOutcome::Failed;
  const bool failed = !ok && !cancelled;
  v_.LastJobFile = ok || failed ? job.OutputFile().string() : std::string();
  v_.LastJobError = !failed ? "" : !job.Reason().empty() ? job.Reason() : failure.empty() ? "print failed" : failure;
  if (!ok && !cancelled) throw std::runtime_error(failure.empty() ? "print failed" : failure);
}

// The printer set-up: OK applies the choice; another orientation or paper
// lays the pages out again from page 1, another device is named in the
// caption. Cancel leaves the page shown as it was.
void frmPreview::SetupPrinter() {
  const velmo::ui::PrinterSettings before = velmo::printers::Current();
  ShowPrinterDialog(this, v_);
  v_.RebuildPageTable = false;
  if (!v_.PrinterChanged) return;
  const velmo::ui::PrinterSettings now = velmo::printers::Current();
  page_ = velmo::printers::GeometryOf(now);
  pbTempData_->setGeometry(0, 0, Px(page_.Width), Px(page_.Height));
  if (now.device != before.device)
    setWindowTitle(QString::fromStdString(now.device + "    " + "Print Preview"));
  if (now.orientation != before.orientation || now.paper != before.paper || now.device != before.device) {
    Freeze(true);
    if (fitToWindow_)
      SetWindowForZoomIn();
    else
      SetWindowForZoomOut();
    BuildPageTable(v_, page_.ScaleWidth, page_.ScaleHeight);
    UpdateMoveButtons();
    if (v_.PageCount >= 1) {
      const PageRange& r = v_.PageTable[1];
      CopyMorePagesA(r.ColFrom, r.ColTo, r.RowFrom, r.RowTo);
    }
    Freeze(false);
  }
  v_.PrinterChanged = false;
}

}  // namespace vlmrpreview
