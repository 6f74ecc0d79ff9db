#pragma once
// Drawing of one printed page: page number, titles, the (empty) header
// band and the grid body, on any drawing surface in printer twips. The
// printer, a PDF file and the preview window all draw through this code, so
// what the preview shows is what is printed.
#include <QPainter>
#include <QRectF>
#include <functional>
#include <string>

#include "PrintControlVariables.h"
#include "Printers.h"

namespace vlmrpreview {

// A surface with a current position and font, in twips: Text prints with
// its top left at (CurrentX, CurrentY).
class PageCanvas {
 public:
  virtual ~PageCanvas() = default;
  virtual void SetFont(const std::string& name, int points, bool bold) = 0;
  virtual std::string FontName() const = 0;
  virtual double TextWidth(const std::string& text) = 0;
  virtual double TextHeight(const std::string& text) = 0;
  virtual void Print(const std::string& text) = 0;
  virtual void Line(double x1, double y1, double x2, double y2) = 0;
  virtual void Box(const QRectF& rect) = 0;
  // Every cell of the grid, drawn as cells at target.
  virtual void Cells(const velmo::FlexGrid& grid, const QRectF& target) = 0;

  double CurrentX = 0, CurrentY = 0;
};

// A canvas over a painter whose coordinates are twips.
class PainterCanvas : public PageCanvas {
 public:
  explicit PainterCanvas(QPainter& p);
  void SetFont(const std::string& name, int points, bool bold) override;
  std::string FontName() const override { return fontName_; }
  double TextWidth(const std::string& text) override;
  double TextHeight(const std::string& text) override;
  void Print(const std::string& text) override;
  void Line(double x1, double y1, double x2, double y2) override;
  void Box(const QRectF& rect) override;
  void Cells(const velmo::FlexGrid& grid, const QRectF& target) override;

 private:
  QPainter& p_;
  std::string fontName_;
  QFont font_;
};

// The page body's top edge without a header band.
inline constexpr int kBodyTop = 1500;

void PrintTitles(PageCanvas& c, const PrintControlVariables& v, int scaleWidth);
// The page number at PageNumberPosition, always inside the printable width.
void PrintPageNumber(PageCanvas& c, const PrintControlVariables& v, int pageNo, int scaleWidth,
                     int scaleHeight);
// Rebuilds the page grid t from a range of the source grid s, with the
// fixed rows and columns repeated. Failures come back as false and text.
bool CopyGridRangeToGrid(velmo::FlexGrid& t, const velmo::FlexGrid& s, const PrintControlVariables& v,
                         int colFrom, int colTo, int rowFrom, int rowTo, std::string* failure = nullptr);
// The body of a page already copied into t: header band, header separator
// and the cells, centred across the page, with an outline when border.
void PrintPageBody(PageCanvas& c, const PrintControlVariables& v, const velmo::FlexGrid& t, int scaleWidth,
                   bool border);
// The empty header band: the header source gives no picture.
void PrepareHeaderGrid(velmo::FlexGrid* header);
// One whole page: number, titles, body. Copies the range into t.
bool RenderRange(PageCanvas& c, const PrintControlVariables& v, velmo::FlexGrid& t, const PageRange& r, int pageNo,
                 int scaleWidth, int scaleHeight, bool border, std::string* failure = nullptr);
// The same for a page of the page table.
bool RenderPage(PageCanvas& c, const PrintControlVariables& v, velmo::FlexGrid& t, int page, int scaleWidth,
                int scaleHeight, bool border, std::string* failure = nullptr);

// What a print run reports between pages.
struct PrintProgress {
  std::function<void(int page, int count)> beforePage;  // the status text
  std::function<bool()> cancelled;                      // asked after each page
};

// Prints pages 1 to PageCount on an open job and ends the document. A
// failure or a cancel ends the job after the current page (a PDF is then
// deleted); false with the reason in failure ("" when cancelled).
bool PrintAllPages(velmo::printers::Job& job, const PrintControlVariables& v, velmo::FlexGrid& t,
                   const PrintProgress& progress, std::string* failure);
// Prints one page (page of the page table) and ends the document; when
// cancelled answers true after the page is drawn, the job ends unfinished
// (false, failure "").
bool PrintOnePage(velmo::printers::Job& job, const PrintControlVariables& v, velmo::FlexGrid& t, int page,
                  bool border, std::string* failure, const std::function<bool()>& cancelled = {});

// A scratch grid for page copies (no fixed rows or columns of its own).
std::unique_ptr<velmo::FlexGrid> NewPageGrid(QWidget* parent = nullptr);

}  // namespace vlmrpreview
