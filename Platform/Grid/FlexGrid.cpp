#include "FlexGrid.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numeric>

#include "ComError.h"

namespace velmo {

namespace {

constexpr int32_t kSubscriptOutOfRange = Hr(0x800A017D);
constexpr int32_t kInvalidPropertyValue = Hr(0x800A017C);
constexpr int kDefaultColWidthPx = 64;
constexpr int kTextPadPx = 2;

[[noreturn]] void OutOfRange() { throw ComError(kSubscriptOutOfRange, "Subscript out of range"); }
[[noreturn]] void InvalidValue() { throw ComError(kInvalidPropertyValue, "Invalid property value"); }

// A decimal number with optional sign, fraction and exponent, blanks around
// it allowed: what the generic sort and the general alignment treat as a
// number.
bool ParseNumber(const std::string& s, double& value) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  if (b == e) return false;
  size_t i = b;
  if (s[i] == '+' || s[i] == '-') ++i;
  size_t digits = 0;
  while (i < e && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < e && s[i] == '.') {
    ++i;
    while (i < e && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < e && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < e && (s[j] == '+' || s[j] == '-')) ++j;
    size_t expDigits = 0;
    while (j < e && std::isdigit(static_cast<unsigned char>(s[j]))) ++j, ++expDigits;
    if (expDigits == 0) return false;
    i = j;
  }
  if (i != e) return false;
  value = std::strtod(std::string(s, b, e - b).c_str(), nullptr);
  return true;
}

bool IsNumber(const std::string& s) {
  double v;
  return ParseNumber(s, v);
}

// The widget font with its pixel size fixed from the point size at the
// widget's resolution, so that drawing on other devices (images, printers)
// keeps the proportions of the screen.
QFont PixelFont(const QWidget& w) {
  QFont f = w.font();
  if (f.pointSizeF() > 0) f.setPixelSize(std::max(1, qRound(f.pointSizeF() * w.logicalDpiY() / 72.0)));
  return f;
}

}  // namespace

// The cells: one vector of texts per row, which may be shorter than the
// column count (the missing cells are empty). Views get the texts read-only.
class FlexGridModel : public QAbstractTableModel {
 public:
  explicit FlexGridModel(QObject* parent) : QAbstractTableModel(parent) {}

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(cells_.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : cols_;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    return QString::fromStdString(At(index.row(), index.column()));
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
  }

  int Rows() const { return static_cast<int>(cells_.size()); }
  int Cols() const { return cols_; }

  const std::string& At(int r, int c) const {
    static const std::string empty;
    const auto& row = cells_[static_cast<size_t>(r)];
    return static_cast<size_t>(c) < row.size() ? row[static_cast<size_t>(c)] : empty;
  }

  void Set(int r, int c, const std::string& text) {
    auto& row = cells_[static_cast<size_t>(r)];
    if (static_cast<size_t>(c) >= row.size()) {
      if (text.empty()) return;
      row.resize(static_cast<size_t>(c) + 1);
    }
    row[static_cast<size_t>(c)] = text;
    const QModelIndex i = index(r, c);
    emit dataChanged(i, i);
  }

  void ResizeRows(int n) {
    const int old = Rows();
    if (n > old) {
      beginInsertRows({}, old, n - 1);
      cells_.resize(static_cast<size_t>(n));
      endInsertRows();
    } else if (n < old) {
      beginRemoveRows({}, n, old - 1);
      cells_.resize(static_cast<size_t>(n));
      endRemoveRows();
    }
  }

  void ResizeCols(int n) {
    const int old = cols_;
    if (n > old) {
      beginInsertColumns({}, old, n - 1);
      cols_ = n;
      endInsertColumns();
    } else if (n < old) {
      beginRemoveColumns({}, n, old - 1);
      cols_ = n;
      for (auto& row : cells_)
        if (row.size() > static_cast<size_t>(n)) row.resize(static_cast<size_t>(n));
      endRemoveColumns();
    }
  }

  void Reset(std::vector<std::vector<std::string>>&& rows, int cols) {
    beginResetModel();
    cells_ = std::move(rows);
    cols_ = cols;
    for (auto& row : cells_)
      if (row.size() > static_cast<size_t>(cols)) row.resize(static_cast<size_t>(cols));
    endResetModel();
  }

  void Append(std::vector<std::string>&& row) {
    const int r = Rows();
    beginInsertRows({}, r, r);
    cells_.push_back(std::move(row));
    endInsertRows();
  }

  void ClearTexts() {
    for (auto& row : cells_) row.clear();
    if (Rows() > 0 && cols_ > 0) emit dataChanged(index(0, 0), index(Rows() - 1, cols_ - 1));
  }

  // Reorders the rows from `first` on: new row first + i is old row
  // first + order[i].
  void Permute(int first, const std::vector<int>& order) {
    emit layoutAboutToBeChanged();
    std::vector<std::vector<std::string>> moved;
    moved.reserve(order.size());
    for (int o : order) moved.push_back(std::move(cells_[static_cast<size_t>(first + o)]));
    std::move(moved.begin(), moved.end(), cells_.begin() + first);
    std::vector<int> newRowOf(order.size());
    for (size_t i = 0; i < order.size(); ++i) newRowOf[static_cast<size_t>(order[i])] = static_cast<int>(i);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    for (const QModelIndex& i : from)
      to.push_back(i.row() < first ? i : index(first + newRowOf[static_cast<size_t>(i.row() - first)], i.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged();
  }

 private:
  std::vector<std::vector<std::string>> cells_;
  int cols_ = 0;
};

// One row or column as drawn: its index, its start and its size in pixels.
struct Span {
  int index;
  int pos;
  int size;
};

struct FlexGrid::Impl {
  FlexGridModel* model = nullptr;
  int fixedRows = 1;
  int fixedCols = 1;
  std::vector<int> colWidth;            // twips, -1 = default
  std::vector<unsigned char> colAlign;  // FlexAlignment
  std::vector<char> mergeCol;
  std::vector<int> rowHeight;  // twips, -1 = default
  std::vector<char> mergeRow;
  int mergeCells = flexMergeNever;
  bool wordWrap = false;
  int gridLines = flexGridFlat;
  int highLight = flexHighlightAlways;
  bool visible = true;
  bool redraw = true;
  int row = 1;
  int col = 1;
  int mouseRow = -1;
  int mouseCol = -1;
  int defaultRowPx = 16;
  bool layoutPending = false;
  bool leftPressed = false;

  int Rows() const { return model->Rows(); }
  int Cols() const { return model->Cols(); }
  int ColPx(int c) const {
    int tw = colWidth[static_cast<size_t>(c)];
    return tw < 0 ? kDefaultColWidthPx : TwipsToPx(tw);
  }
  int RowPx(int r) const {
    int tw = rowHeight[static_cast<size_t>(r)];
    return tw < 0 ? defaultRowPx : TwipsToPx(tw);
  }
  const std::string& At(int r, int c) const { return model->At(r, c); }

  bool FixedRowRegion(int r) const { return r < fixedRows; }
  bool FixedColRegion(int c) const { return c < fixedCols; }

  // Cell (r, c) merges with (r, c - 1).
  bool MergesLeft(int r, int c) const {
    if (mergeCells == flexMergeNever || c <= 0 || !mergeRow[static_cast<size_t>(r)]) return false;
    const bool restrict = mergeCells == flexMergeRestrictRows || mergeCells == flexMergeRestrictAll;
    for (;;) {
      if (FixedColRegion(c) != FixedColRegion(c - 1)) return false;
      if (!mergeRow[static_cast<size_t>(r)]) return false;
      if (At(r, c) != At(r, c - 1)) return false;
      // Restricted: the cell above must merge as well, up to the first row
      // of its region.
      if (!restrict || r == 0 || FixedRowRegion(r) != FixedRowRegion(r - 1)) return true;
      --r;
    }
  }
  // Cell (r, c) merges with (r - 1, c).
  bool MergesUp(int r, int c) const {
    if (mergeCells == flexMergeNever || r <= 0 || !mergeCol[static_cast<size_t>(c)]) return false;
    const bool restrict = mergeCells == flexMergeRestrictColumns || mergeCells == flexMergeRestrictAll;
    for (;;) {
      if (FixedRowRegion(r) != FixedRowRegion(r - 1)) return false;
      if (!mergeCol[static_cast<size_t>(c)]) return false;
      if (At(r, c) != At(r - 1, c)) return false;
      // Restricted: the cell to the left must merge as well, back to the
      // first column of its region.
      if (!restrict || c == 0 || FixedColRegion(c) != FixedColRegion(c - 1)) return true;
      --c;
    }
  }
  bool InRowRun(int r, int c) const {
    return MergesLeft(r, c) || (c + 1 < Cols() && MergesLeft(r, c + 1));
  }
  // Runs along a row take precedence over runs down a column.
  bool MergesUpDrawn(int r, int c) const {
    return MergesUp(r, c) && !InRowRun(r, c) && !InRowRun(r - 1, c);
  }
};

FlexGrid::FlexGrid(QWidget* parent) : QAbstractScrollArea(parent), d_(std::make_unique<Impl>()) {
  d_->model = new FlexGridModel(this);
  d_->model->ResizeRows(2);
  d_->model->ResizeCols(2);
  d_->rowHeight.assign(2, -1);
  d_->mergeRow.assign(2, 0);
  d_->colWidth.assign(2, -1);
  d_->colAlign.assign(2, flexAlignGeneral);
  d_->mergeCol.assign(2, 0);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  viewport()->setContextMenuPolicy(Qt::PreventContextMenu);
  setContextMenuPolicy(Qt::PreventContextMenu);
  viewport()->setAutoFillBackground(true);
  viewport()->setBackgroundRole(QPalette::Base);
  FontChanged();
}

FlexGrid::~FlexGrid() = default;

QAbstractItemModel* FlexGrid::model() const { return d_->model; }

// ---------------------------------------------------------------- shape

int FlexGrid::Rows() const { return d_->Rows(); }
int FlexGrid::Cols() const { return d_->Cols(); }
int FlexGrid::FixedRows() const { return d_->fixedRows; }
int FlexGrid::FixedCols() const { return d_->fixedCols; }

void FlexGrid::Rows(int rows) {
  if (rows < 0) InvalidValue();
  if (rows == d_->Rows()) return;
  d_->model->ResizeRows(rows);
  d_->rowHeight.resize(static_cast<size_t>(rows), -1);
  d_->mergeRow.resize(static_cast<size_t>(rows), 0);
  d_->fixedRows = std::min(d_->fixedRows, rows);
  Changed(true);
  SetCurrent(std::min(d_->row, std::max(rows - 1, 0)), d_->col, false);
}

void FlexGrid::Cols(int cols) {
  if (cols < 0) InvalidValue();
  if (cols == d_->Cols()) return;
  d_->model->ResizeCols(cols);
  d_->colWidth.resize(static_cast<size_t>(cols), -1);
  d_->colAlign.resize(static_cast<size_t>(cols), flexAlignGeneral);
  d_->mergeCol.resize(static_cast<size_t>(cols), 0);
  d_->fixedCols = std::min(d_->fixedCols, cols);
  Changed(true);
  SetCurrent(d_->row, std::min(d_->col, std::max(cols - 1, 0)), false);
}

void FlexGrid::FixedRows(int rows) {
  if (rows < 0 || rows > d_->Rows()) InvalidValue();
  d_->fixedRows = rows;
  Changed(true);
}

void FlexGrid::FixedCols(int cols) {
  if (cols < 0 || cols > d_->Cols()) InvalidValue();
  d_->fixedCols = cols;
  Changed(true);
}

// ---------------------------------------------------------------- texts

std::string FlexGrid::TextMatrix(int row, int col) const {
  if (row < 0 || row >= d_->Rows() || col < 0 || col >= d_->Cols()) OutOfRange();
  return d_->At(row, col);
}

void FlexGrid::TextMatrix(int row, int col, const std::string& text) {
  if (row < 0 || row >= d_->Rows() || col < 0 || col >= d_->Cols()) OutOfRange();
  d_->model->Set(row, col, text);
  Changed(false);
}

void FlexGrid::SetData(std::vector<std::vector<std::string>> rows) {
  int cols = d_->Cols();
  if (!rows.empty()) {
    size_t widest = 0;
    for (const auto& r : rows) widest = std::max(widest, r.size());
    cols = static_cast<int>(widest);
  }
  const int n = static_cast<int>(rows.size());
  d_->model->Reset(std::move(rows), cols);
  d_->rowHeight.resize(static_cast<size_t>(n), -1);
  d_->mergeRow.resize(static_cast<size_t>(n), 0);
  d_->colWidth.resize(static_cast<size_t>(cols), -1);
  d_->colAlign.resize(static_cast<size_t>(cols), flexAlignGeneral);
  d_->mergeCol.resize(static_cast<size_t>(cols), 0);
  d_->fixedRows = std::min(d_->fixedRows, n);
  d_->fixedCols = std::min(d_->fixedCols, cols);
  Changed(true);
  SetCurrent(std::min(d_->row, std::max(n - 1, 0)), std::min(d_->col, std::max(cols - 1, 0)), false);
}

void FlexGrid::AppendRow(std::vector<std::string> cells) {
  if (cells.size() > static_cast<size_t>(d_->Cols())) Cols(static_cast<int>(cells.size()));
  d_->model->Append(std::move(cells));
  d_->rowHeight.push_back(-1);
  d_->mergeRow.push_back(0);
  Changed(true);
}

void FlexGrid::Clear() {
  d_->model->ClearTexts();
  Changed(false);
}

// ---------------------------------------------------------------- sizes

int FlexGrid::DefaultColWidth() { return kDefaultColWidthPx * kTwipsPerPixel; }
int FlexGrid::DefaultRowHeight() const { return d_->defaultRowPx * kTwipsPerPixel; }

int FlexGrid::ColWidth(int col) const {
  if (col < 0 || col >= d_->Cols()) OutOfRange();
  int tw = d_->colWidth[static_cast<size_t>(col)];
  return tw < 0 ? DefaultColWidth() : tw;
}

void FlexGrid::ColWidth(int col, int twips) {
  if (col < 0 || col >= d_->Cols()) OutOfRange();
  if (twips < -1) InvalidValue();
  d_->colWidth[static_cast<size_t>(col)] = twips;
  Changed(true);
}

int FlexGrid::RowHeight(int row) const {
  if (row < 0 || row >= d_->Rows()) OutOfRange();
  int tw = d_->rowHeight[static_cast<size_t>(row)];
  return tw < 0 ? DefaultRowHeight() : tw;
}

void FlexGrid::RowHeight(int row, int twips) {
  if (row < 0 || row >= d_->Rows()) OutOfRange();
  if (twips < -1) InvalidValue();
  d_->rowHeight[static_cast<size_t>(row)] = twips;
  Changed(true);
}

int FlexGrid::Width() const { return width() * kTwipsPerPixel; }
void FlexGrid::Width(int twips) {
  if (twips < 0) InvalidValue();
  resize(TwipsToPx(twips), height());
}
int FlexGrid::Height() const { return height() * kTwipsPerPixel; }
void FlexGrid::Height(int twips) {
  if (twips < 0) InvalidValue();
  resize(width(), TwipsToPx(twips));
}

// ---------------------------------------------------------------- layout

int FlexGrid::ColAlignment(int col) const {
  if (col < 0 || col >= d_->Cols()) OutOfRange();
  return d_->colAlign[static_cast<size_t>(col)];
}

void FlexGrid::ColAlignment(int col, int alignment) {
  if (col < 0 || col >= d_->Cols()) OutOfRange();
  if (alignment < flexAlignLeftTop || alignment > flexAlignGeneral) InvalidValue();
  d_->colAlign[static_cast<size_t>(col)] = static_cast<unsigned char>(alignment);
  Changed(false);
}

int FlexGrid::MergeCells() const { return d_->mergeCells; }
void FlexGrid::MergeCells(int mode) {
  if (mode < flexMergeNever || mode > flexMergeRestrictAll) InvalidValue();
  d_->mergeCells = mode;
  Changed(false);
}

bool FlexGrid::MergeCol(int col) const {
  if (col < 0 || col >= d_->Cols()) OutOfRange();
  return d_->mergeCol[static_cast<size_t>(col)] != 0;
}
void FlexGrid::MergeCol(int col, bool merge) {
  if (col < 0 || col >= d_->Cols()) OutOfRange();
  d_->mergeCol[static_cast<size_t>(col)] = merge ? 1 : 0;
  Changed(false);
}

bool FlexGrid::MergeRow(int row) const {
  if (row < 0 || row >= d_->Rows()) OutOfRange();
  return d_->mergeRow[static_cast<size_t>(row)] != 0;
}
void FlexGrid::MergeRow(int row, bool merge) {
  if (row < 0 || row >= d_->Rows()) OutOfRange();
  d_->mergeRow[static_cast<size_t>(row)] = merge ? 1 : 0;
  Changed(false);
}

bool FlexGrid::WordWrap() const { return d_->wordWrap; }
void FlexGrid::WordWrap(bool wrap) {
  d_->wordWrap = wrap;
  Changed(false);
}

int FlexGrid::GridLines() const { return d_->gridLines; }
void FlexGrid::GridLines(int lines) {
  if (lines < flexGridNone || lines > flexGridRaised) InvalidValue();
  d_->gridLines = lines;
  Changed(false);
}

int FlexGrid::HighLight() const { return d_->highLight; }
void FlexGrid::HighLight(int mode) {
  if (mode < flexHighlightNever || mode > flexHighlightWithFocus) InvalidValue();
  d_->highLight = mode;
  Changed(false);
}

bool FlexGrid::Visible() const { return d_->visible; }
void FlexGrid::Visible(bool visible) {
  if (visible && !parentWidget()) {
    d_->visible = true;
    return;
  }
  setVisible(visible);
}
void FlexGrid::setVisible(bool visible) {
  d_->visible = visible;
  QAbstractScrollArea::setVisible(visible);
}

std::string FlexGrid::FontName() const { return font().family().toStdString(); }
void FlexGrid::FontName(const std::string& name) {
  QFont f = font();
  f.setFamily(QString::fromStdString(name));
  setFont(f);
}
double FlexGrid::FontSize() const { return font().pointSizeF(); }
void FlexGrid::FontSize(double points) {
  if (!(points > 0)) InvalidValue();
  QFont f = font();
  f.setPointSizeF(points);
  setFont(f);
}
bool FlexGrid::FontBold() const { return font().bold(); }
void FlexGrid::FontBold(bool bold) {
  QFont f = font();
  f.setBold(bold);
  setFont(f);
}

void FlexGrid::FontChanged() { d_->defaultRowPx = QFontMetrics(PixelFont(*this)).height() + 3; }

void FlexGrid::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) {
    FontChanged();
    Changed(true);
  }
  QAbstractScrollArea::changeEvent(event);
}

// ---------------------------------------------------------------- cells

int FlexGrid::Row() const { return d_->row; }
int FlexGrid::Col() const { return d_->col; }
void FlexGrid::Row(int row) {
  if (row < 0 || row >= d_->Rows()) OutOfRange();
  SetCurrent(row, d_->col, false);
}
void FlexGrid::Col(int col) {
  if (col < 0 || col >= d_->Cols()) OutOfRange();
  SetCurrent(d_->row, col, false);
}
int FlexGrid::MouseRow() const { return d_->mouseRow; }
int FlexGrid::MouseCol() const { return d_->mouseCol; }

void FlexGrid::SetCurrent(int row, int col, bool scrollTo) {
  const bool changed = row != d_->row || col != d_->col;
  d_->row = row;
  d_->col = col;
  if (scrollTo) EnsureVisible(row, col);
  if (changed) {
    if (d_->redraw) viewport()->update();
    emit rowColChanged(row, col);
  }
}

void FlexGrid::Sort(int order) {
  if (order != flexSortGenericAscending && order != flexSortGenericDescending) return;
  const int first = d_->fixedRows;
  const int rows = d_->Rows();
  if (rows - first < 2 || d_->col < 0 || d_->col >= d_->Cols()) return;
  // One key per row, then the rows ordered by their keys.
  struct Key {
    bool number;
    double value;
    QString folded;
  };
  std::vector<Key> keys(static_cast<size_t>(rows - first));
  for (int r = first; r < rows; ++r) {
    const std::string& text = d_->At(r, d_->col);
    Key& k = keys[static_cast<size_t>(r - first)];
    k.number = ParseNumber(text, k.value);
    if (!k.number) k.folded = QString::fromStdString(text).toCaseFolded();
  }
  auto less = [&keys](int ia, int ib) {
    const Key& a = keys[static_cast<size_t>(ia)];
    const Key& b = keys[static_cast<size_t>(ib)];
    if (a.number != b.number) return a.number;  // numbers before texts
    if (a.number) return a.value < b.value;
    return a.folded < b.folded;
  };
  std::vector<int> orderOf(keys.size());
  std::iota(orderOf.begin(), orderOf.end(), 0);
  if (order == flexSortGenericDescending)
    std::stable_sort(orderOf.begin(), orderOf.end(), [&less](int a, int b) { return less(b, a); });
  else
    std::stable_sort(orderOf.begin(), orderOf.end(), less);
  d_->model->Permute(first, orderOf);
  Changed(false);
}

bool FlexGrid::Redraw() const { return d_->redraw; }
void FlexGrid::Redraw(bool on) {
  d_->redraw = on;
  if (on) {
    UpdateScrollBars();
    viewport()->update();
  }
}

// ---------------------------------------------------------------- layout of the view

void FlexGrid::Changed(bool shape) {
  if (shape && !d_->layoutPending) {
    d_->layoutPending = true;
    QTimer::singleShot(0, this, [this] {
      if (d_->layoutPending) UpdateScrollBars();
    });
  }
  if (d_->redraw) viewport()->update();
}

void FlexGrid::UpdateScrollBars() {
  d_->layoutPending = false;
  const int rows = d_->Rows(), cols = d_->Cols();
  const int fr = d_->fixedRows, fc = d_->fixedCols;
  int fixedH = 0, fixedW = 0;
  for (int r = 0; r < fr; ++r) fixedH += d_->RowPx(r);
  for (int c = 0; c < fc; ++c) fixedW += d_->ColPx(c);
  const int availH = viewport()->height() - fixedH;
  const int availW = viewport()->width() - fixedW;

  // The last first-row that still fills the view: rows are scrolled whole.
  auto lastStart = [](int first, int count, int avail, auto size) {
    if (count <= first) return first;
    if (avail <= 0) return count - 1;
    int sum = 0, i = count - 1;
    for (; i >= first; --i) {
      const int s = size(i);
      if (sum + s > avail) break;
      sum += s;
    }
    return std::min(std::max(first, i + 1), count - 1);
  };
  const int maxTop = lastStart(fr, rows, availH, [this](int r) { return d_->RowPx(r); });
  const int maxLeft = lastStart(fc, cols, availW, [this](int c) { return d_->ColPx(c); });

  QScrollBar* v = verticalScrollBar();
  v->setRange(0, std::max(0, maxTop - fr));
  v->setSingleStep(1);
  v->setPageStep(std::max(1, availH / std::max(1, d_->defaultRowPx)));
  QScrollBar* h = horizontalScrollBar();
  h->setRange(0, std::max(0, maxLeft - fc));
  h->setSingleStep(1);
  h->setPageStep(std::max(1, availW / kDefaultColWidthPx));
}

void FlexGrid::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void FlexGrid::scrollContentsBy(int, int) { viewport()->update(); }

// Rows (or columns) as drawn in the view: the fixed ones, then the
// scrolled ones from the first shown until the view is full.
static std::vector<Span> ViewSpans(int fixed, int first, int count, int extent,
                                   const std::function<int(int)>& size) {
  std::vector<Span> spans;
  int pos = 0;
  for (int i = 0; i < fixed && i < count; ++i) {
    const int s = size(i);
    if (s > 0) spans.push_back({i, pos, s});
    pos += s;
  }
  for (int i = std::max(first, fixed); i < count && pos < extent; ++i) {
    const int s = size(i);
    if (s > 0) spans.push_back({i, pos, s});
    pos += s;
  }
  return spans;
}

namespace {

// Draws cells laid out by row and column spans. Shared by the view and by
// rendering, so a printed range looks as the screen does.
void PaintCells(QPainter& p, const FlexGrid::Impl& d, const QPalette& pal, const QFont& font,
                const std::vector<Span>& rows, const std::vector<Span>& cols) {
  const size_t nr = rows.size(), nc = cols.size();
  if (nr == 0 || nc == 0) return;
  // left[i][j]: cell i,j continues the run of cell i,j-1; up[i][j]: of i-1,j.
  std::vector<char> left(nr * nc, 0), up(nr * nc, 0);
  if (d.mergeCells != flexMergeNever) {
    for (size_t i = 0; i < nr; ++i)
      for (size_t j = 0; j < nc; ++j) {
        const int r = rows[i].index, c = cols[j].index;
        if (j > 0 && cols[j - 1].index == c - 1) left[i * nc + j] = d.MergesLeft(r, c);
        if (i > 0 && rows[i - 1].index == r - 1) up[i * nc + j] = d.MergesUpDrawn(r, c);
      }
  }
  const QColor fixedBack = pal.color(QPalette::Button);
  const QColor cellBack = pal.color(QPalette::Base);
  const QColor fixedLine = pal.color(QPalette::Dark);
  const QColor cellLine(192, 192, 192);
  const QColor fixedText = pal.color(QPalette::ButtonText);
  const QColor cellText = pal.color(QPalette::Text);

  for (size_t i = 0; i < nr; ++i)
    for (size_t j = 0; j < nc; ++j) {
      const bool fixed = d.FixedRowRegion(rows[i].index) || d.FixedColRegion(cols[j].index);
      p.fillRect(QRect(cols[j].pos, rows[i].pos, cols[j].size, rows[i].size), fixed ? fixedBack : cellBack);
    }

  p.setFont(font);
  const QFontMetrics metrics(font);
  for (size_t i = 0; i < nr; ++i)
    for (size_t j = 0; j < nc; ++j) {
      const int r = rows[i].index, c = cols[j].index;
      const bool fixed = d.FixedRowRegion(r) || d.FixedColRegion(c);
      const QRect cell(cols[j].pos, rows[i].pos, cols[j].size, rows[i].size);
      // Lines on the right and bottom edge, not inside a merged run.
      if (fixed || d.gridLines != flexGridNone) {
        const QColor line = fixed ? fixedLine : cellLine;
        if (!(j + 1 < nc && left[i * nc + j + 1])) p.fillRect(QRect(cell.right(), cell.top(), 1, cell.height()), line);
        if (!(i + 1 < nr && up[(i + 1) * nc + j])) p.fillRect(QRect(cell.left(), cell.bottom(), cell.width(), 1), line);
      }
      if (left[i * nc + j] || up[i * nc + j]) continue;  // drawn with its run
      QRect box = cell;
      size_t k = j + 1;
      while (k < nc && left[i * nc + k]) box = box.united(QRect(cols[k].pos, rows[i].pos, cols[k].size, rows[i].size)), ++k;
      if (k == j + 1) {
        size_t m = i + 1;
        while (m < nr && up[m * nc + j]) box = box.united(QRect(cols[j].pos, rows[m].pos, cols[j].size, rows[m].size)), ++m;
      }
      const std::string& text = d.At(r, c);
      if (text.empty()) continue;
      int align = d.colAlign[static_cast<size_t>(c)];
      if (align == flexAlignGeneral) align = IsNumber(text) ? flexAlignRightCenter : flexAlignLeftCenter;
      Qt::Alignment flags = align / 3 == 0 ? Qt::AlignLeft : align / 3 == 1 ? Qt::AlignHCenter : Qt::AlignRight;
      flags |= align % 3 == 0 ? Qt::AlignTop : align % 3 == 1 ? Qt::AlignVCenter : Qt::AlignBottom;
      const QRect inner = box.adjusted(kTextPadPx, 0, -kTextPadPx - 1, -1);
      if (inner.width() <= 0 || inner.height() <= 0) continue;
      p.setPen(fixed ? fixedText : cellText);
      const QString qtext = QString::fromStdString(text);
      if (d.wordWrap) {
        p.drawText(inner, static_cast<int>(flags) | Qt::TextWordWrap, qtext);  // clipped to the box
        continue;
      }
      // One line: placed from the font metrics, which is much cheaper than
      // a laid-out rectangle; clipped only when it does not fit.
      const int w = metrics.horizontalAdvance(qtext);
      const int x = (flags & Qt::AlignLeft) ? inner.left()
                    : (flags & Qt::AlignRight) ? inner.right() + 1 - w
                                               : inner.left() + (inner.width() - w) / 2;
      const int y = (flags & Qt::AlignTop) ? inner.top() + metrics.ascent()
                    : (flags & Qt::AlignBottom) ? inner.bottom() + 1 - metrics.descent()
                                                : inner.top() + (inner.height() - metrics.height()) / 2 + metrics.ascent();
      if (w <= inner.width() && metrics.height() <= inner.height() && x >= inner.left()) {
        p.drawText(QPoint(x, y), qtext);
      } else {
        p.save();
        p.setClipRect(inner, Qt::IntersectClip);
        p.drawText(QPoint(x, y), qtext);
        p.restore();
      }
    }
}

}  // namespace

void FlexGrid::paintEvent(QPaintEvent*) {
  if (d_->layoutPending) UpdateScrollBars();
  QPainter p(viewport());
  const int top = d_->fixedRows + verticalScrollBar()->value();
  const int leftCol = d_->fixedCols + horizontalScrollBar()->value();
  auto rows = ViewSpans(d_->fixedRows, top, d_->Rows(), viewport()->height(),
                        [this](int r) { return d_->RowPx(r); });
  auto cols = ViewSpans(d_->fixedCols, leftCol, d_->Cols(), viewport()->width(),
                        [this](int c) { return d_->ColPx(c); });
  PaintCells(p, *d_, palette(), PixelFont(*this), rows, cols);
  if (hasFocus() && d_->highLight != flexHighlightNever && d_->row >= d_->fixedRows &&
      d_->col >= d_->fixedCols) {
    const QRect r = CellRect(d_->row, d_->col);
    if (!r.isEmpty()) {
      QPen pen(palette().color(QPalette::Text), 1, Qt::DotLine);
      p.setPen(pen);
      p.setBrush(Qt::NoBrush);
      p.drawRect(r.adjusted(1, 1, -2, -2));
    }
  }
}

QRect FlexGrid::CellRect(int row, int col) const {
  if (row < 0 || row >= d_->Rows() || col < 0 || col >= d_->Cols()) return {};
  if (d_->layoutPending) const_cast<FlexGrid*>(this)->UpdateScrollBars();
  auto locate = [](int index, int fixed, int first, int extent, auto size, int& pos) {
    pos = 0;
    if (index < fixed) {
      for (int i = 0; i < index; ++i) pos += size(i);
      return true;
    }
    for (int i = 0; i < fixed; ++i) pos += size(i);
    if (index < first) return false;
    for (int i = first; i < index && pos < extent; ++i) pos += size(i);
    return pos < extent;
  };
  int x = 0, y = 0;
  const int top = d_->fixedRows + verticalScrollBar()->value();
  const int leftCol = d_->fixedCols + horizontalScrollBar()->value();
  if (!locate(row, d_->fixedRows, top, viewport()->height(), [this](int r) { return d_->RowPx(r); }, y)) return {};
  if (!locate(col, d_->fixedCols, leftCol, viewport()->width(), [this](int c) { return d_->ColPx(c); }, x)) return {};
  return QRect(x, y, d_->ColPx(col), d_->RowPx(row));
}

bool FlexGrid::CellAt(const QPoint& pos, int& row, int& col) const {
  row = col = -1;
  if (d_->layoutPending) const_cast<FlexGrid*>(this)->UpdateScrollBars();
  auto find = [](int at, int fixed, int first, int count, auto size) {
    if (at < 0) return -1;
    int p = 0;
    for (int i = 0; i < fixed && i < count; ++i) {
      p += size(i);
      if (at < p) return i;
    }
    for (int i = std::max(first, fixed); i < count; ++i) {
      p += size(i);
      if (at < p) return i;
    }
    return -1;
  };
  const int top = d_->fixedRows + verticalScrollBar()->value();
  const int leftCol = d_->fixedCols + horizontalScrollBar()->value();
  row = find(pos.y(), d_->fixedRows, top, d_->Rows(), [this](int r) { return d_->RowPx(r); });
  col = find(pos.x(), d_->fixedCols, leftCol, d_->Cols(), [this](int c) { return d_->ColPx(c); });
  return row >= 0 && col >= 0;
}

void FlexGrid::EnsureVisible(int row, int col) {
  if (d_->layoutPending) UpdateScrollBars();
  auto firstFor = [](int index, int fixed, int first, int extent, auto size) {
    if (index < fixed) return first;
    if (index < first) return index;
    int used = 0;
    for (int i = 0; i < fixed; ++i) used += size(i);
    // Is the index wholly inside the view from `first`?
    int pos = used;
    for (int i = first; i <= index; ++i) pos += size(i);
    if (pos <= extent) return first;
    // Make it the last whole one.
    int room = extent - used, start = index;
    int sum = size(index);
    while (start - 1 >= fixed && sum + size(start - 1) <= room) sum += size(--start);
    return start;
  };
  QScrollBar* v = verticalScrollBar();
  QScrollBar* h = horizontalScrollBar();
  const int fr = d_->fixedRows, fc = d_->fixedCols;
  v->setValue(firstFor(row, fr, fr + v->value(), viewport()->height(), [this](int r) { return d_->RowPx(r); }) - fr);
  h->setValue(firstFor(col, fc, fc + h->value(), viewport()->width(), [this](int c) { return d_->ColPx(c); }) - fc);
}

// ---------------------------------------------------------------- drawing

QSize FlexGrid::CellsSize(int row1, int col1, int row2, int col2) const {
  if (row1 > row2) std::swap(row1, row2);
  if (col1 > col2) std::swap(col1, col2);
  if (row1 < 0 || row2 >= d_->Rows() || col1 < 0 || col2 >= d_->Cols()) OutOfRange();
  int w = 0, h = 0;
  for (int c = col1; c <= col2; ++c) w += d_->ColPx(c);
  for (int r = row1; r <= row2; ++r) h += d_->RowPx(r);
  return {w, h};
}

void FlexGrid::RenderCells(QPainter& painter, const QRectF& target, int row1, int col1, int row2,
                           int col2) const {
  if (row1 > row2) std::swap(row1, row2);
  if (col1 > col2) std::swap(col1, col2);
  const QSize natural = CellsSize(row1, col1, row2, col2);
  if (natural.isEmpty() || target.isEmpty()) return;
  std::vector<Span> rows, cols;
  for (int r = row1, y = 0; r <= row2; ++r) {
    const int s = d_->RowPx(r);
    if (s > 0) rows.push_back({r, y, s});
    y += s;
  }
  for (int c = col1, x = 0; c <= col2; ++c) {
    const int s = d_->ColPx(c);
    if (s > 0) cols.push_back({c, x, s});
    x += s;
  }
  painter.save();
  painter.translate(target.topLeft());
  painter.scale(target.width() / natural.width(), target.height() / natural.height());
  painter.setClipRect(QRect(QPoint(0, 0), natural), Qt::IntersectClip);
  PaintCells(painter, *d_, palette(), PixelFont(*this), rows, cols);
  painter.restore();
}

QImage FlexGrid::RenderToImage(int row1, int col1, int row2, int col2, double scale) const {
  if (!(scale > 0)) InvalidValue();
  const QSize natural = CellsSize(row1, col1, row2, col2);
  const QSize size(static_cast<int>(std::ceil(natural.width() * scale)),
                   static_cast<int>(std::ceil(natural.height() * scale)));
  if (size.isEmpty()) return {};
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return {};
  image.fill(palette().color(QPalette::Base));
  QPainter p(&image);
  RenderCells(p, QRectF(QPointF(0, 0), QSizeF(size)), row1, col1, row2, col2);
  return image;
}

QImage FlexGrid::Picture() const {
  if (d_->Rows() == 0 || d_->Cols() == 0) return {};
  return RenderToImage(0, 0, d_->Rows() - 1, d_->Cols() - 1);
}

// ---------------------------------------------------------------- mouse and keys

namespace {
int VbButton(Qt::MouseButton b) {
  switch (b) {
    case Qt::LeftButton: return vbLeftButton;
    case Qt::RightButton: return vbRightButton;
    case Qt::MiddleButton: return vbMiddleButton;
    default: return 0;
  }
}
int VbShift(Qt::KeyboardModifiers m) {
  return (m & Qt::ShiftModifier ? vbShiftMask : 0) | (m & Qt::ControlModifier ? vbCtrlMask : 0) |
         (m & Qt::AltModifier ? vbAltMask : 0);
}
}  // namespace

void FlexGrid::TrackMouse(const QPoint& pos) {
  int r, c;
  CellAt(pos, r, c);
  d_->mouseRow = r;
  d_->mouseCol = c;
}

void FlexGrid::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  TrackMouse(pos);
  emit mouseDown(VbButton(event->button()), VbShift(event->modifiers()), pos.x() * double(kTwipsPerPixel),
                 pos.y() * double(kTwipsPerPixel));
  if (event->button() == Qt::LeftButton) {
    d_->leftPressed = true;
    if (d_->mouseRow >= d_->fixedRows && d_->mouseCol >= d_->fixedCols)
      SetCurrent(d_->mouseRow, d_->mouseCol, true);
  } else if (event->button() == Qt::RightButton) {
    emit rightClicked(event->globalPosition().toPoint());
  }
  event->accept();
}

void FlexGrid::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  TrackMouse(pos);
  emit mouseUp(VbButton(event->button()), VbShift(event->modifiers()), pos.x() * double(kTwipsPerPixel),
               pos.y() * double(kTwipsPerPixel));
  if (event->button() == Qt::LeftButton && d_->leftPressed) {
    d_->leftPressed = false;
    const int r = d_->mouseRow, c = d_->mouseCol;
    emit clicked(r, c);
    if (r >= 0 && r < d_->fixedRows && c >= 0) emit headerClicked(c);
  }
  event->accept();
}

void FlexGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  TrackMouse(event->position().toPoint());
  // The release after a double click is no click of its own.
  d_->leftPressed = false;
  if (event->button() == Qt::LeftButton) emit doubleClicked(d_->mouseRow, d_->mouseCol);
  event->accept();
}

void FlexGrid::mouseMoveEvent(QMouseEvent* event) { TrackMouse(event->position().toPoint()); }

void FlexGrid::keyPressEvent(QKeyEvent* event) {
  const int fr = d_->fixedRows, fc = d_->fixedCols;
  const int rows = d_->Rows(), cols = d_->Cols();
  if (rows <= fr || cols <= fc) return QAbstractScrollArea::keyPressEvent(event);
  int r = std::max(d_->row, fr), c = std::max(d_->col, fc);
  const int page = std::max(1, verticalScrollBar()->pageStep());
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  switch (event->key()) {
    case Qt::Key_Up: --r; break;
    case Qt::Key_Down: ++r; break;
    case Qt::Key_Left: --c; break;
    case Qt::Key_Right: ++c; break;
    case Qt::Key_PageUp: r -= page; break;
    case Qt::Key_PageDown: r += page; break;
    case Qt::Key_Home:
      if (ctrl) r = fr; else c = fc;
      break;
    case Qt::Key_End:
      if (ctrl) r = rows - 1; else c = cols - 1;
      break;
    default: return QAbstractScrollArea::keyPressEvent(event);
  }
  SetCurrent(std::clamp(r, fr, rows - 1), std::clamp(c, fc, cols - 1), true);
  event->accept();
}

void FlexGrid::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void FlexGrid::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

}  // namespace velmo
