#include "Printers.h"

#include <QIODevice>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AppFolder.h"
#include "TextFile.h"
#include "DateText.h"

namespace velmo::printers {

namespace {

std::mutex gMutex;

ui::PrinterSettings& CurrentLocked() {
  static ui::PrinterSettings current = [] {
    ui::PrinterSettings s;
    const QPrinterInfo def = QPrinterInfo::defaultPrinter();
    s.device = def.isNull() ? kPdfDevice : def.printerName().toStdString();
    return s;
  }();
  return current;
}

int Twips(double points) { return static_cast<int>(std::lround(points * 20.0)); }

}  // namespace

std::vector<std::string> DeviceNames() {
  std::vector<std::string> names;
  for (const QString& n : QPrinterInfo::availablePrinterNames()) names.push_back(n.toStdString());
  names.push_back(kPdfDevice);
  return names;
}

ui::PrinterSettings Current() {
  std::lock_guard g(gMutex);
  return CurrentLocked();
}

void SetCurrent(const ui::PrinterSettings& settings) {
  std::lock_guard g(gMutex);
  CurrentLocked() = settings;
}

bool SetCurrent(const std::string& deviceName) {
  for (const std::string& n : DeviceNames()) {
    if (n != deviceName) continue;
    std::lock_guard g(gMutex);
    ui::PrinterSettings& cur = CurrentLocked();
    if (cur.device != deviceName) {
      cur.device = deviceName;
      cur.paper = -1;
      cur.duplex = 0;
    }
    cur.file.clear();
    cur.copies = 1;
    return true;
  }
  return false;
}

std::unique_ptr<QPrinter> OpenPrinter(const ui::PrinterSettings& s) {
  std::unique_ptr<QPrinter> p;
  const bool pdf = s.device == kPdfDevice;
  if (pdf) {
    p = std::make_unique<QPrinter>(QPrinter::HighResolution);
    p->setOutputFormat(QPrinter::PdfFormat);
    p->setPageSize(QPageSize(s.paper >= 0 ? static_cast<QPageSize::PageSizeId>(s.paper) : QPageSize::A4));
    p->setPageMargins(QMarginsF(kPdfMarginTwips / 20.0, kPdfMarginTwips / 20.0, kPdfMarginTwips / 20.0,
                                kPdfMarginTwips / 20.0),
                      QPageLayout::Point);
  } else {
    const QPrinterInfo info = QPrinterInfo::printerInfo(QString::fromStdString(s.device));
    p = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    p->setOutputFormat(QPrinter::NativeFormat);
    if (s.paper >= 0) p->setPageSize(QPageSize(static_cast<QPageSize::PageSizeId>(s.paper)));
  }
  p->setPageOrientation(s.orientation == 1 ? QPageLayout::Landscape : QPageLayout::Portrait);
  p->setCopyCount(std::max(1, s.copies));
  p->setDuplex(static_cast<QPrinter::DuplexMode>(s.duplex));
  p->setFullPage(false);
  return p;
}

PageGeometry GeometryOf(const QPrinter& printer) {
  const QPageLayout layout = printer.pageLayout();
  const QRectF full = layout.fullRect(QPageLayout::Point);
  const QRectF paint = layout.paintRect(QPageLayout::Point);
  PageGeometry g;
  g.Width = Twips(full.width());
  g.Height = Twips(full.height());
  g.ScaleWidth = Twips(paint.width());
  g.ScaleHeight = Twips(paint.height());
  g.Left = Twips(paint.left());
  g.Top = Twips(paint.top());
  return g;
}

PageGeometry GeometryOf(const ui::PrinterSettings& settings) { return GeometryOf(*OpenPrinter(settings)); }

namespace {

std::string DatedStamp() {
  const std::tm t = LocalTime(Clock::now());
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "Velmorcast_%02d_%02d_%04d_%02d_%02d_%02d", t.tm_mon + 1, t.tm_mday,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return stamp;
}

// The n-th dated name of a stem (n = 1: no number).
std::string DatedName(const std::string& stem, int n) {
  return stem + (n > 1 ? "_" + std::to_string(n) : "") + ".pdf";
}

std::filesystem::path PartOf(const std::filesystem::path& target) {
  return target.parent_path() / ("." + target.filename().string() + ".part");
}

constexpr int kMaxNumber = 100000;

}  // namespace

std::string PdfStem(const std::string& stamp, const std::string& title) {
  std::string stem = stamp;
  if (!title.empty()) {
    stem += ' ';
    for (const char ch : title) {
      const auto c = static_cast<unsigned char>(ch);
      stem += c == '/' || c < 0x20 || c == 0x7f ? '_' : ch;
    }
  }
  if (stem.size() > kPdfStemBytes) {
    size_t cut = kPdfStemBytes;
    // Never inside a character: back off over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    stem.resize(cut);
  }
  return stem;
}

std::filesystem::path PdfTarget(const ui::PrinterSettings& settings, const std::string& title) {
  if (!settings.file.empty()) return std::filesystem::path(settings.file);
  const std::string stem = PdfStem(DatedStamp(), title);
  const std::filesystem::path folder = AppPath("Print");
  std::error_code ec;
  for (int n = 1;; ++n) {
    const std::filesystem::path p = folder / DatedName(stem, n);
    if (n >= kMaxNumber || (!std::filesystem::exists(p, ec) && !std::filesystem::exists(PartOf(p), ec))) return p;
  }
}

// ------------------------------------------------------------------ PdfFile

// The file of a PDF job. The PDF engine ignores failed writes, so every
// byte it writes goes through here: the first failure (a full disk, a file
// size limit) is kept with its reason and refuses all later writes, and
// Complete tells whether the whole document reached the disk.
class PdfFile : public QIODevice {
 public:
  explicit PdfFile(int fd) : fd_(fd) { open(QIODevice::WriteOnly); }
  ~PdfFile() override { Close(); }
  bool isSequential() const override { return true; }

  // Writes what is held, syncs the file and checks that it ends with the
  // PDF trailer; "" when it all reached the disk, else the reason.
  std::string Complete() {
    if (!Drain() || ::fsync(fd_) != 0) return std::strerror(error_ ? error_ : errno);
    char tail[32] = {};
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return std::strerror(errno);
    const off_t from = std::max<off_t>(0, st.st_size - static_cast<off_t>(sizeof tail));
    const ssize_t n = ::pread(fd_, tail, sizeof tail, from);
    std::string_view end(tail, n > 0 ? static_cast<size_t>(n) : 0);
    while (!end.empty() && (end.back() == '\n' || end.back() == '\r')) end.remove_suffix(1);
    if (!end.ends_with("%%EOF")) return "The document was not written to its end";
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return std::strerror(errno);
    return "";
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    if (error_ || fd_ < 0) return -1;
    held_.append(data, static_cast<size_t>(size));
    if (held_.size() >= kChunk && !Drain()) return -1;
    return size;
  }

 private:
  static constexpr size_t kChunk = 64 * 1024;
  bool Drain() {
    size_t done = 0;
    while (!error_ && done < held_.size()) {
      const ssize_t n = ::write(fd_, held_.data() + done, held_.size() - done);
      if (n > 0)
        done += static_cast<size_t>(n);
      else if (n == 0 || errno != EINTR)
        error_ = n == 0 ? EIO : errno;
    }
    held_.clear();
    return !error_;
  }
  int fd_;
  int error_ = 0;
  std::string held_;
};

// ------------------------------------------------------------------ Job

Job::Job(const ui::PrinterSettings& settings) : settings_(settings) {}

Job::~Job() {
  if (open_) Abort();
}

bool Job::Fail(const std::string& failure, const std::string& reason) {
  failure_ = failure;
  reason_ = reason;
  return false;
}

QPagedPaintDevice& Job::Device() {
  if (pdf_) return *pdf_;
  return *printer_;
}

bool Job::Begin(const std::string& documentName, const std::string& title) {
  printer_ = OpenPrinter(settings_);
  printer_->setDocName(QString::fromStdString(documentName));
  if (settings_.device == kPdfDevice) {
    std::error_code ec;
    int fd = -1;
    if (!settings_.file.empty()) {
      target_ = settings_.file;
      if (target_.has_parent_path()) std::filesystem::create_directories(target_.parent_path(), ec);
      temp_ = PartOf(target_);
      // Made afresh, never through a link: a cut-off job's leftover under
      // that name (a link included) is removed and the file created again.
      constexpr int kCreate = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
      fd = ::open(temp_.c_str(), kCreate, 0644);
      if (fd < 0 && errno == EEXIST && ::unlink(temp_.c_str()) == 0) fd = ::open(temp_.c_str(), kCreate, 0644);
      if (fd < 0) {
        const std::string reason = std::strerror(errno);
        temp_.clear();
        return Fail("Cannot write \"" + target_.string() + "\": " + reason, reason);
      }
    } else {
      // A dated name: the temporary file is created exclusively, so a job
      // of another program in the same second with the same title takes
      // the next number instead of sharing the file.
      const std::string stem = PdfStem(DatedStamp(), title);
      const std::filesystem::path folder = AppPath("Print");
      std::filesystem::create_directories(folder, ec);
      for (int n = 1;; ++n) {
        const std::filesystem::path target = folder / DatedName(stem, n);
        const std::filesystem::path part = PartOf(target);
        if (n > kMaxNumber) {
          target_ = target;
          return Fail("Cannot write \"" + target.string() + "\": " + std::strerror(EEXIST), std::strerror(EEXIST));
        }
        if (std::filesystem::exists(target, ec)) continue;
        fd = ::open(part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
          if (errno == EEXIST) continue;
          const std::string reason = std::strerror(errno);
          target_ = target;
          return Fail("Cannot write \"" + target.string() + "\": " + reason, reason);
        }
        if (std::filesystem::exists(target, ec)) {  // finished meanwhile by another job
          ::close(fd);
          std::filesystem::remove(part, ec);
          continue;
        }
        target_ = target;
        temp_ = part;
        break;
      }
    }
    file_ = std::make_unique<PdfFile>(fd);
    pdf_ = std::make_unique<QPdfWriter>(file_.get());
    pdf_->setPageLayout(printer_->pageLayout());
    pdf_->setResolution(printer_->resolution());
    pdf_->setTitle(QString::fromStdString(documentName));
  } else if (!QPrinterInfo::printerInfo(QString::fromStdString(settings_.device)).isNull()) {
    printer_->setPrinterName(QString::fromStdString(settings_.device));
  } else {
    return Fail("No printer named \"" + settings_.device + "\"", "No printer named \"" + settings_.device + "\"");
  }
  if (!painter_.begin(&Device())) {
    std::error_code ec;
    if (!temp_.empty()) std::filesystem::remove(temp_, ec);
    if (pdf_) return Fail("Cannot write \"" + target_.string() + "\"", "The PDF file could not be started");
    return Fail("Cannot open the printer \"" + settings_.device + "\"", "The printer could not be opened");
  }
  open_ = true;
  geometry_ = GeometryOf(*printer_);
  const double scale = Device().logicalDpiX() / 1440.0;
  painter_.scale(scale, scale);
  return true;
}

bool Job::NewPage() {
  if (!open_) return false;
  if (!Device().newPage()) {
    Abort();
    return Fail("The printer refused a new page", "The printer refused a new page");
  }
  return true;
}

bool Job::Finish() {
  if (!open_) return false;
  open_ = false;
  const bool ended = painter_.end();
  std::error_code ec;
  if (!ended || (!pdf_ && printer_->printerState() == QPrinter::Error)) {
    if (!temp_.empty()) std::filesystem::remove(temp_, ec);
    return Fail("The document could not be ended", "The document could not be ended");
  }
  if (pdf_) {
    // Renamed into place only when every byte reached the disk: a full disk
    // otherwise leaves a cut-short file that passes for a printed one.
    const std::string reason = file_->Complete();
    if (!reason.empty()) {
      std::filesystem::remove(temp_, ec);
      return Fail("Cannot write \"" + target_.string() + "\": " + reason, reason);
    }
    std::filesystem::rename(temp_, target_, ec);
    if (ec) {
      const std::string reason = ec.message();
      std::filesystem::remove(temp_, ec);
      return Fail("Cannot write \"" + target_.string() + "\": " + reason, reason);
    }
    SyncFolderOf(target_);
  }
  return true;
}

void Job::Abort() {
  if (!open_) return;
  open_ = false;
  if (!pdf_) printer_->abort();
  painter_.end();
  if (file_) file_->Close();
  std::error_code ec;
  if (!temp_.empty()) std::filesystem::remove(temp_, ec);
}

}  // namespace velmo::printers
