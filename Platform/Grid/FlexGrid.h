#pragma once
// A grid of text cells in the manner of a flex grid control: a number of
// rows and columns, the first few of which can be fixed (drawn shaded as
// headers that do not scroll), a text per cell, column widths and row
// heights in twips (15 twips per pixel), column alignment, merging of equal
// neighbouring cells, sorting, and drawing of any range of cells onto a
// painter or an image.
//
// One widget paints every cell itself from a table model; there is no
// widget per cell. The texts are kept as UTF-8 strings, one vector per row,
// so a grid of 100,000 rows by 20 columns fills and scrolls without
// stalling. Bulk setters (SetData, AppendRow, Rows) change the model with a
// single notification.
//
// Properties follow the control's shape: a getter `Rows()` and a setter
// `Rows(n)`. Indexes are 0-based. A row, column or cell index out of range
// throws velmo::ComError 0x800A017D "Subscript out of range"; a value a
// property cannot take throws 0x800A017C "Invalid property value".
#include <QAbstractScrollArea>
#include <QImage>
#include <QString>
#include <memory>
#include <string>
#include <vector>

class QAbstractItemModel;
class QPainter;

namespace velmo {

// Screen twips per pixel, the unit of ColWidth, RowHeight and Width.
inline constexpr int kTwipsPerPixel = 15;

// Twips as whole pixels, rounded to the nearest; nothing is less than none.
// For the grid's sizes and for windows laid out in twips.
constexpr int TwipsToPx(int twips) { return twips <= 0 ? 0 : (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

// ColAlignment values.
enum FlexAlignment : int {
  flexAlignLeftTop = 0,
  flexAlignLeftCenter = 1,
  flexAlignLeftBottom = 2,
  flexAlignCenterTop = 3,
  flexAlignCenterCenter = 4,
  flexAlignCenterBottom = 5,
  flexAlignRightTop = 6,
  flexAlignRightCenter = 7,
  flexAlignRightBottom = 8,
  flexAlignGeneral = 9,  // texts left, numbers right, centred vertically
};

// MergeCells values. "Restrict" makes a cell merge with its neighbour only
// when the cell before it (to the left for columns, above for rows) merged
// too, so merging follows the leading columns as groups.
enum FlexMergeCells : int {
  flexMergeNever = 0,
  flexMergeFree = 1,
  flexMergeRestrictRows = 2,
  flexMergeRestrictColumns = 3,
  flexMergeRestrictAll = 4,
};

// GridLines values.
enum FlexGridLines : int { flexGridNone = 0, flexGridFlat = 1, flexGridInset = 2, flexGridRaised = 3 };

// HighLight values.
enum FlexHighLight : int { flexHighlightNever = 0, flexHighlightAlways = 1, flexHighlightWithFocus = 2 };

// Sort values.
enum FlexSort : int { flexSortNone = 0, flexSortGenericAscending = 1, flexSortGenericDescending = 2 };

// Mouse buttons and shift state as the mouse signals give them.
enum : int { vbLeftButton = 1, vbRightButton = 2, vbMiddleButton = 4 };
enum : int { vbShiftMask = 1, vbCtrlMask = 2, vbAltMask = 4 };

class FlexGridModel;

class FlexGrid : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit FlexGrid(QWidget* parent = nullptr);
  ~FlexGrid() override;

  // ------------------------------------------------------------ shape
  // Rows and columns, fixed ones included (2 and 2 at first). Changing them
  // keeps the texts of the cells that remain. The fixed counts shrink with
  // them; the current cell moves back inside.
  int Rows() const;
  void Rows(int rows);
  void SetRows(int rows) { Rows(rows); }
  int Cols() const;
  void Cols(int cols);
  void SetCols(int cols) { Cols(cols); }
  // Leading rows and columns drawn as headers (1 and 1 at first); at most
  // Rows and Cols.
  int FixedRows() const;
  void FixedRows(int rows);
  int FixedCols() const;
  void FixedCols(int cols);

  // ------------------------------------------------------------ texts
  std::string TextMatrix(int row, int col) const;
  void TextMatrix(int row, int col, const std::string& text);
  void TextMatrix(int row, int col, const char* text) { TextMatrix(row, col, std::string(text)); }
  void TextMatrix(int row, int col, const QString& text) { TextMatrix(row, col, text.toStdString()); }
  QString TextMatrixQ(int row, int col) const { return QString::fromStdString(TextMatrix(row, col)); }
  // Replaces every row at once: Rows becomes rows.size() and Cols the
  // widest row's length (unchanged when rows is empty); shorter rows read
  // as empty texts to the right. Sizes, alignments and merge flags of the
  // rows and columns that remain are kept.
  void SetData(std::vector<std::vector<std::string>> rows);
  // Adds one row at the end; Cols grows when the row is wider.
  void AppendRow(std::vector<std::string> cells);
  // Empties every text (fixed cells included); the shape stays.
  void Clear();

  // ------------------------------------------------------------ sizes
  // Widths and heights in twips. ColWidth(c, -1) and RowHeight(r, -1)
  // restore the default; 0 hides the column or row. A width set in twips
  // reads back exactly; drawing rounds it to whole pixels.
  int ColWidth(int col) const;
  void ColWidth(int col, int twips);
  int RowHeight(int row) const;
  void RowHeight(int row, int twips);
  static int DefaultColWidth();  // in twips
  int DefaultRowHeight() const;  // in twips, from the font
  // The control's own width and height in twips.
  int Width() const;
  void Width(int twips);
  int Height() const;
  void Height(int twips);

  // ------------------------------------------------------------ layout
  int ColAlignment(int col) const;
  void ColAlignment(int col, int alignment);
  int MergeCells() const;
  void MergeCells(int mode);
  bool MergeCol(int col) const;
  void MergeCol(int col, bool merge);
  bool MergeRow(int row) const;
  void MergeRow(int row, bool merge);
  bool WordWrap() const;
  void WordWrap(bool wrap);
  int GridLines() const;
  void GridLines(int lines);
  int HighLight() const;
  void HighLight(int mode);

  // The control's Visible property (true at first); true also while the
  // window holding it is hidden, as the property reads.
  // A grid without a parent is never shown by Visible(true): its owner
  // shows it.
  bool Visible() const;
  void Visible(bool visible);
  void setVisible(bool visible) override;

  // The grid's font: name, size in points, bold. The widget font.
  std::string FontName() const;
  void FontName(const std::string& name);
  double FontSize() const;
  void FontSize(double points);
  bool FontBold() const;
  void FontBold(bool bold);

  // ------------------------------------------------------------ cells
  // The current cell (1, 1 at first). Setting it emits rowColChanged.
  int Row() const;
  void Row(int row);
  int Col() const;
  void Col(int col);
  // The cell under the last mouse event; -1 when the pointer was beyond the
  // last row or column.
  int MouseRow() const;
  int MouseCol() const;
  // The cell at a point of the viewport, in the same way; false when none.
  bool CellAt(const QPoint& viewportPos, int& row, int& col) const;
  // A cell's rectangle in viewport pixels, empty when it is scrolled away.
  QRect CellRect(int row, int col) const;

  // Sorts the non-fixed rows by the current column: 1 ascending, 2
  // descending; a text that reads as a number compares as a number with
  // another number, numbers come before other texts, and other texts
  // compare without regard to case. Rows that compare equal keep their
  // order. Other values do nothing.
  void Sort(int order);

  // Drawing on or off (off while a caller changes many cells). A nonzero
  // mode switches it on, 0 off.
  bool Redraw() const;
  void Redraw(bool on);
  void SetRedrawMode(int mode) { Redraw(mode != 0); }

  // ------------------------------------------------------------ drawing
  // The size in pixels of the cells row1..row2 by col1..col2 (inclusive)
  // drawn at their own widths and heights.
  QSize CellsSize(int row1, int col1, int row2, int col2) const;
  // Draws those cells into target (device coordinates of the painter),
  // scaled to fill it. Fixed cells are shaded as on screen; there is no
  // current-cell mark. Merging applies within the range.
  void RenderCells(QPainter& painter, const QRectF& target, int row1, int col1, int row2,
                   int col2) const;
  // The same range as an image, scale 1 being one pixel per pixel.
  QImage RenderToImage(int row1, int col1, int row2, int col2, double scale = 1.0) const;
  // The picture of the whole grid, every cell at its own size.
  QImage Picture() const;

  // The model the grid paints (read-only to views).
  QAbstractItemModel* model() const;

 signals:
  // After a left-button press and release; with the cell under the mouse.
  void clicked(int mouseRow, int mouseCol);
  void doubleClicked(int mouseRow, int mouseCol);
  // A left click on a fixed row.
  void headerClicked(int col);
  // A right-button press, with the pointer's global position.
  void rightClicked(const QPoint& globalPos);
  // Any button pressed or released: button and shift as vbLeftButton...,
  // vbShiftMask..., position in twips of the control.
  void mouseDown(int button, int shift, double xTwips, double yTwips);
  void mouseUp(int button, int shift, double xTwips, double yTwips);
  void rowColChanged(int row, int col);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void changeEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 public:
  struct Impl;  // the grid's state, private to its implementation

 private:
  std::unique_ptr<Impl> d_;

  void Changed(bool shape);
  void FontChanged();
  void UpdateScrollBars();
  void SetCurrent(int row, int col, bool scrollTo);
  void EnsureVisible(int row, int col);
  void TrackMouse(const QPoint& pos);
};

}  // namespace velmo
