#pragma once
// The printers of this machine as the program sees them: the installed
// print queues in the system's order, then the PDF device "Velmorcast PDF",
// which is always there. One printer is the process's current printer (with
// its paper, orientation, copies and duplex setting): the system default,
// else the PDF device, until a caller sets it by name or the printer set-up
// dialog changes it.
//
// The PDF device writes each job to a new file
// "Print/Velmorcast_MM_DD_YYYY_HH_MM_SS <title>.pdf" of the application
// folder, the title being the job's report title ("/" and control
// characters made "_", the name before "_N" cut to 180 bytes; without a
// title the blank goes too), "_2", "_3"... added rather than overwrite; or
// to the file named in the set-up dialog. The file is written under a
// temporary name beside its target, created exclusively so that two
// programs never share one, and renamed only when the whole document
// reached the disk (every write done, the file synced and ending with the
// PDF trailer); a failed or cancelled job deletes it.
//
// Sizes are twips (1/1440 inch). A job's painter draws in twips with the
// origin at the top left of the printable area.
#include <QPainter>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Ui.h"

class QPagedPaintDevice;
class QPdfWriter;
class QPrinter;

namespace velmo::printers {

class PdfFile;

inline constexpr const char* kPdfDevice = "Velmorcast PDF";
// The PDF device's margins (the unprintable edge of a real printer).
inline constexpr int kPdfMarginTwips = 360;

// Installed print queues, then kPdfDevice.
std::vector<std::string> DeviceNames();

// The current printer (a copy) and its replacement.
ui::PrinterSettings Current();
void SetCurrent(const ui::PrinterSettings& settings);
// Makes the device of that exact name current (its own paper, the current
// orientation, one copy); false, changing nothing, when there is none.
bool SetCurrent(const std::string& deviceName);

// The page of a printer: Width x Height the paper, ScaleWidth x ScaleHeight
// the printable area, which starts Left, Top from the paper's corner.
struct PageGeometry {
  int Width = 0, Height = 0;
  int ScaleWidth = 0, ScaleHeight = 0;
  int Left = 0, Top = 0;
};

// A QPrinter set up for these settings (no output file chosen yet).
std::unique_ptr<QPrinter> OpenPrinter(const ui::PrinterSettings& settings);
PageGeometry GeometryOf(const QPrinter& printer);
PageGeometry GeometryOf(const ui::PrinterSettings& settings);

// The file a PDF job on these settings writes: the named file, else a new
// dated name with the title in the Print folder of the application folder.
std::filesystem::path PdfTarget(const ui::PrinterSettings& settings, const std::string& title = "");
// The stem of a dated PDF name: stamp, blank and title, with "/" and
// control characters as "_", cut to 180 bytes on a character boundary.
std::string PdfStem(const std::string& stamp, const std::string& title);
inline constexpr size_t kPdfStemBytes = 180;

// One print job. Begin opens the device and the painter; NewPage ends a
// page; Finish ends the document (renaming a PDF into place); Abort ends it
// at once and deletes a PDF. Each returns false on a printer failure, after
// which the job is aborted. Destroying an unfinished job aborts it.
class Job {
 public:
  explicit Job(const ui::PrinterSettings& settings);
  ~Job();
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  // title names a dated PDF file (see PdfTarget).
  bool Begin(const std::string& documentName, const std::string& title = "");
  QPainter& Painter() { return painter_; }
  const PageGeometry& Geometry() const { return geometry_; }
  bool NewPage();
  bool Finish();
  void Abort();
  // The PDF file written (or to be written); empty for a print queue.
  const std::filesystem::path& OutputFile() const { return target_; }
  // What went wrong, naming the file or printer: for the message and the
  // log.
  const std::string& Failure() const { return failure_; }
  // The reason alone (the system's error text, e.g. "No space left on
  // device"), so that failures of one cause can be counted together.
  const std::string& Reason() const { return reason_; }

 private:
  bool Fail(const std::string& failure, const std::string& reason);
  QPagedPaintDevice& Device();

  ui::PrinterSettings settings_;
  std::unique_ptr<QPrinter> printer_;
  // The PDF device writes through pdf_ into file_, which sees every write.
  std::unique_ptr<PdfFile> file_;
  std::unique_ptr<QPdfWriter> pdf_;
  QPainter painter_;
  PageGeometry geometry_;
  std::filesystem::path target_, temp_;
  std::string failure_, reason_;
  bool open_ = false;
};

}  // namespace velmo::printers
