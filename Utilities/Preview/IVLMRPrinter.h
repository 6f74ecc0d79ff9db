#pragma once
// The print component's interface (_IVLMRPrinter), created by the ProgID
// "VLMRPreview.IVLMRPrinter": it paginates a grid with three title lines and
// previews or prints it. Every object keeps its own settings.
#include <string>

#include "Printers.h"

class QObject;

namespace velmo {
class FlexGrid;
}

enum TitleAlignment : int { ALIGNLEFT = 1, ALIGNCENTRE = 2, ALIGNRIGHT = 3 };
// Published with the interface; no member takes it.
enum SchedularType : int { MonthlyView = 1, WeeklyView = 2, DailyView = 3 };

// How a print job ended: nothing was started (no pages, no window), it
// printed, the user stopped it (nothing of it is kept), or it failed.
enum class PrintJobOutcome : int { None = 0, Printed = 1, Cancelled = 2, Failed = 3 };

class IVLMRPrinter {
 public:
  static constexpr const char* IID = "_IVLMRPrinter";
  virtual ~IVLMRPrinter() = default;

  // Each stores the message when it is not empty, the alignment when above
  // 0, the font name when not empty and the font size when above 0.
  virtual void Title1(const std::string& message, int alignment = ALIGNCENTRE,
                      const std::string& fontName = "Times New Roman", int fontSize = 16) = 0;
  virtual void Title2(const std::string& message, int alignment = ALIGNCENTRE,
                      const std::string& fontName = "Times New Roman", int fontSize = 12) = 0;
  virtual void Title3(const std::string& message, int alignment = ALIGNCENTRE,
                      const std::string& fontName = "Times New Roman", int fontSize = 12) = 0;

  // True when there is a printer to print on; the PDF device is always
  // there.
  virtual bool IsDefaultPrinter() = 0;

  // The grid to paginate, kept by reference and only read.
  virtual void SourceGrid(velmo::FlexGrid* grid) = 0;
  // The fixed rows counted at the last job start (0 before any).
  virtual int FixedRows() const = 0;
  // The row before the first data row: a value above 0 stores value - 1,
  // anything else is ignored; 0 means "after the grid's fixed rows".
  virtual double StartRow() const = 0;
  virtual void StartRow(double value) = 0;

  // Lays the grid out and shows the modal preview window; returns when it
  // is closed.
  virtual void ShowPreview() = 0;

  // Shading of the grid's fixed rows and fixed columns on the page.
  virtual void FixedRowShade(bool on) = 0;
  virtual bool FixedRowShade() const = 0;
  virtual void FixedColShade(bool on) = 0;
  virtual bool FixedColShade() const = 0;

  // A control for the header band; only whether one is held is used (the
  // band draws nothing). Released after each job.
  virtual void HeaderSource(QObject* control) = 0;

  // A separator line under the titles; one under the header band.
  virtual void TitleSeprator(bool on) = 0;
  virtual bool TitleSeprator() const = 0;
  virtual void HeaderSeprator(bool on) = 0;
  virtual bool HeaderSeprator() const = 0;
  // Kept and read back; nothing draws it.
  virtual void HeaderBorder(bool on) = 0;
  virtual bool HeaderBorder() const = 0;
  // An outline round the grid on every page.
  virtual void GridBorder(bool on) = 0;
  virtual bool GridBorder() const = 0;

  // Lays the grid out and prints every page on the current printer behind a
  // modal status window; returns when printing has ended.
  virtual void PrintReport() = 0;

  // Title of the component's message boxes and start of its printer-problem
  // message.
  virtual void ProductName(const std::string& name) = 0;
  virtual std::string ProductName() const = 0;

  // For callers that print many reports in a row: in batch mode PrintReport
  // starts its job as soon as its status window shows, instead of giving the
  // user a second in which Esc prints nothing. Off by default.
  virtual void BatchMode(bool /*on*/) {}
  virtual bool BatchMode() const { return false; }
  // How the last job of this object ended (PrintReport, or Print in the
  // preview); the PDF file it wrote, or after a failure the one it could
  // not write ("" when there is none: a print queue, nothing started); and
  // why it failed, the reason alone ("No space left on device"), so that
  // failures of one cause can be counted together ("" unless it failed).
  virtual PrintJobOutcome LastJobOutcome() const { return PrintJobOutcome::None; }
  virtual std::string LastJobFile() const { return ""; }
  virtual std::string LastJobError() const { return ""; }
};

// The process's current printer by device name, as callers choose it
// before printing: reading gives the current device; assigning a name makes
// that printer current when the printer list has it.
class CurrentPrinterNameRef {
 public:
  CurrentPrinterNameRef& operator=(const std::string& name) {
    velmo::printers::SetCurrent(name);
    return *this;
  }
  operator std::string() const { return velmo::printers::Current().device; }
};
inline CurrentPrinterNameRef CurrentPrinterName() { return {}; }
