// The print component's class (ProgID "VLMRPreview.IVLMRPrinter") and the
// library's class exports.
#include <QApplication>

#include "ComFactory.h"
#include "IVLMRPrinter.h"
#include "PrintGeneralFucntions.h"
#include "PrintPage.h"
#include "PrintWindows.h"
#include "Ui.h"

namespace vlmrpreview {

std::string PrinterProblemMessageFor(const std::string& productName) {
  return productName + " cannot print or preview due to a problem with the current printer setup." + "\r\n" +
         "Try one or more of the following:" + "\r\n\r\n" +
         "*Check the printer by printing a test page from windows." + "\r\n" +
         "*Make sure printer is turned on and online." + "\r\n" + "*Reinstall the printer driver." + "\r\n";
}

// Reads the fixed rows and columns of the source grid at the start of a
// job. Every job starts from none, so a grid without fixed rows or columns
// never takes the previous job's; StartRow stays as the caller set it.
bool LoadGridMetrics(PrintControlVariables& v) {
  v.FixedRowCount = v.FixedColCount = 0;
  v.FixedRowsHeight = v.FixedColsWidth = 0;
  if (!v.SourceGrid) {
    velmo::ui::Ui().MsgBox(kNoSourceGrid, velmo::ui::vbCritical, v.ProductName);
    return false;
  }
  const velmo::FlexGrid& g = *v.SourceGrid;
  const int fixedRows = g.FixedRows();
  if (fixedRows > 0) {
    v.FixedRowCount = v.StartRow == 0 ? fixedRows : std::abs(fixedRows - v.StartRow);
    for (int r = 0; r < fixedRows; ++r) v.FixedRowsHeight += g.RowHeight(r);
  }
  const int fixedCols = g.FixedCols();
  if (fixedCols > 0) {
    v.FixedColCount = fixedCols;
    for (int c = 0; c < fixedCols; ++c) v.FixedColsWidth += g.ColWidth(c);
  }
  return true;
}

class VLMRPrinter : public velmo::com::ComObject, public IVLMRPrinter {
 public:
  void* QueryInterface(std::string_view iid) override {
    return iid == IVLMRPrinter::IID ? static_cast<IVLMRPrinter*>(this) : nullptr;
  }

  void Title1(const std::string& m, int a, const std::string& f, int s) override {
    SetTitle(v_.Title1Text, v_.Title1Alignment, v_.Title1FontName, v_.Title1FontSize, m, a, f, s);
  }
  void Title2(const std::string& m, int a, const std::string& f, int s) override {
    SetTitle(v_.Title2Text, v_.Title2Alignment, v_.Title2FontName, v_.Title2FontSize, m, a, f, s);
  }
  void Title3(const std::string& m, int a, const std::string& f, int s) override {
    SetTitle(v_.Title3Text, v_.Title3Alignment, v_.Title3FontName, v_.Title3FontSize, m, a, f, s);
  }
  bool IsDefaultPrinter() override {
    try {
      return !velmo::printers::DeviceNames().empty();
    } catch (const std::exception&) {
      ShowPrinterProblem(v_);
      return false;
    }
  }
  void SourceGrid(velmo::FlexGrid* grid) override { v_.SourceGrid = grid; }
  int FixedRows() const override { return v_.FixedRowCount; }
  double StartRow() const override { return v_.StartRow; }
  void StartRow(double value) override {
    if (value > 0) v_.StartRow = static_cast<int>(value) - 1;
  }
  void FixedRowShade(bool on) override { v_.FixedRowShade = on; }
  bool FixedRowShade() const override { return v_.FixedRowShade; }
  void FixedColShade(bool on) override { v_.FixedColShade = on; }
  bool FixedColShade() const override { return v_.FixedColShade; }
  void HeaderSource(QObject* control) override { v_.HeaderSource = control; }
  void TitleSeprator(bool on) override { v_.TitleSeprator = on; }
  bool TitleSeprator() const override { return v_.TitleSeprator; }
  void HeaderSeprator(bool on) override { v_.HeaderSeprator = on; }
  bool HeaderSeprator() const override { return v_.HeaderSeprator; }
  void HeaderBorder(bool on) override { v_.HeaderBorder = on; }
  bool HeaderBorder() const override { return v_.HeaderBorder; }
  void GridBorder(bool on) override { v_.GridBorder = on; }
  bool GridBorder() const override { return v_.GridBorder; }
  void ProductName(const std::string& name) override {
    v_.ProductName = name;
    v_.PrinterProblemMessage = PrinterProblemMessageFor(name);
  }
  std::string ProductName() const override { return v_.ProductName; }
  void BatchMode(bool on) override { v_.BatchMode = on; }
  bool BatchMode() const override { return v_.BatchMode; }
  PrintJobOutcome LastJobOutcome() const override { return v_.LastJobOutcome; }
  std::string LastJobFile() const override { return v_.LastJobFile; }
  std::string LastJobError() const override { return v_.LastJobError; }

  void ShowPreview() override {
    v_.LastJobOutcome = PrintJobOutcome::None;
    v_.LastJobFile.clear();
    v_.LastJobError.clear();
    try {
      if (!LoadGridMetrics(v_)) return;
      v_.PreviewMode = true;
      v_.HeaderPresent = !v_.HeaderSource.isNull();
      if (HaveWindows()) {
        frmPreview window(v_, QApplication::activeWindow());
        if (!window.Closed()) window.exec();
      }
      if (v_.HeaderPresent) v_.HeaderSource = nullptr;
    } catch (...) {
    }
  }

  void PrintReport() override {
    v_.LastJobOutcome = PrintJobOutcome::None;
    v_.LastJobFile.clear();
    v_.LastJobError.clear();
    try {
      if (!LoadGridMetrics(v_)) {
        v_.LastJobOutcome = PrintJobOutcome::Failed;
        v_.LastJobError = kNoSourceGrid;
        return;
      }
      v_.PreviewMode = false;
      v_.HeaderPresent = !v_.HeaderSource.isNull();
      v_.PrintFontName = "Times New Roman";
      v_.PageNumberPosition = "Bottom Right";
      if (HaveWindows()) {
        // A batch's jobs show over the modal window the batch runs under.
        QWidget* over = v_.BatchMode ? QApplication::activeModalWidget() : nullptr;
        frmPrintStatus window(v_, over ? over : QApplication::activeWindow());
        window.Run();
      }
      if (v_.HeaderPresent) v_.HeaderSource = nullptr;
    } catch (...) {
      v_.LastJobOutcome = PrintJobOutcome::Failed;
    }
  }

  // For tests of this library: the object's settings.
  PrintControlVariables& State() { return v_; }

 private:
  static bool HaveWindows() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }
  static void SetTitle(std::string& text, int& alignment, std::string& font, int& size, const std::string& m, int a,
                       const std::string& f, int s) {
    if (!m.empty()) text = m;
    if (a > 0) alignment = a;
    if (!f.empty()) font = f;
    if (s > 0) size = s;
  }
  PrintControlVariables v_;
};

PrintControlVariables* StateOf(IVLMRPrinter* printer) {
  auto* p = dynamic_cast<VLMRPrinter*>(printer);
  return p ? &p->State() : nullptr;
}

}  // namespace vlmrpreview

namespace {

std::vector<std::pair<std::string, std::string>> Classes() {
  return {{"VLMRPreview.IVLMRPrinter", "IVLMRPrinter"}};
}

velmo::com::ComObject* Make(std::string_view cls) {
  if (cls == "IVLMRPrinter") return new vlmrpreview::VLMRPrinter();
  return nullptr;
}

}  // namespace

VELMO_COM_LIBRARY(Classes(), Make)
