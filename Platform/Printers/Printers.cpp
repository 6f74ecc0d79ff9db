#include "Printers.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "AppFolder.h"
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

// ------------------------------------------------------------------ Job

Job::Job(const ui::PrinterSettings& settings) : settings_(settings) {}

Job::~Job() {
  if (open_) Abort();
}

bool Job::Begin(const std::string& documentName, const std::string& title) {
  printer_ = OpenPrinter(settings_);
  printer_->setDocName(QString::fromStdString(documentName));
  if (settings_.device == kPdfDevice) {
    std::error_code ec;
    if (!settings_.file.empty()) {
      target_ = settings_.file;
      if (target_.has_parent_path()) std::filesystem::create_directories(target_.parent_path(), ec);
      temp_ = PartOf(target_);
      // The PDF engine opens its file late and reports no failure to write
      // it: find out now whether the file can be made.
      if (!std::ofstream(temp_, std::ios::binary | std::ios::trunc)) {
        failure_ = "Cannot write \"" + temp_.string() + "\"";
        temp_.clear();
        return false;
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
          failure_ = "Cannot write \"" + target.string() + "\"";
          return false;
        }
        if (std::filesystem::exists(target, ec)) continue;
        const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
          if (errno == EEXIST) continue;
          failure_ = "Cannot write \"" + part.string() + "\": " + std::strerror(errno);
          return false;
        }
        ::close(fd);
        if (std::filesystem::exists(target, ec)) {  // finished meanwhile by another job
          std::filesystem::remove(part, ec);
          continue;
        }
        target_ = target;
        temp_ = part;
        break;
      }
    }
    printer_->setOutputFileName(QString::fromStdString(temp_.string()));
  } else if (!QPrinterInfo::printerInfo(QString::fromStdString(settings_.device)).isNull()) {
    printer_->setPrinterName(QString::fromStdString(settings_.device));
  } else {
    failure_ = "No printer named \"" + settings_.device + "\"";
    return false;
  }
  if (!painter_.begin(printer_.get())) {
    failure_ = settings_.device == kPdfDevice ? "Cannot write \"" + temp_.string() + "\""
                                              : "Cannot open the printer \"" + settings_.device + "\"";
    std::error_code ec;
    if (!temp_.empty()) std::filesystem::remove(temp_, ec);
    return false;
  }
  open_ = true;
  geometry_ = GeometryOf(*printer_);
  const double scale = printer_->resolution() / 1440.0;
  painter_.scale(scale, scale);
  return true;
}

bool Job::NewPage() {
  if (!open_) return false;
  if (!printer_->newPage()) {
    failure_ = "The printer refused a new page";
    Abort();
    return false;
  }
  return true;
}

bool Job::Finish() {
  if (!open_) return false;
  open_ = false;
  const bool ended = painter_.end();
  if (!ended || printer_->printerState() == QPrinter::Error) {
    failure_ = "The document could not be ended";
    std::error_code ec;
    if (!temp_.empty()) std::filesystem::remove(temp_, ec);
    return false;
  }
  if (!temp_.empty()) {
    std::error_code ec;
    if (std::filesystem::file_size(temp_, ec) == 0 || ec) {
      failure_ = "Nothing was written to \"" + temp_.string() + "\"";
      std::filesystem::remove(temp_, ec);
      return false;
    }
    std::filesystem::rename(temp_, target_, ec);
    if (ec) {
      failure_ = "Cannot write \"" + target_.string() + "\": " + ec.message();
      std::filesystem::remove(temp_, ec);
      return false;
    }
  }
  return true;
}

void Job::Abort() {
  if (!open_) return;
  open_ = false;
  if (temp_.empty()) printer_->abort();
  painter_.end();
  std::error_code ec;
  if (!temp_.empty()) std::filesystem::remove(temp_, ec);
}

}  // namespace velmo::printers
