#pragma once
// The print component's interface (_IVLMRPrinter), created by the ProgID
// "VLMRPreview.IVLMRPrinter": it paginates a grid with three title lines and
// previews or prints it.
#include <string>

namespace velmo {
class FlexGrid;
}

enum TitleAlignment : int { ALIGNLEFT = 1, ALIGNCENTRE = 2, ALIGNRIGHT = 3 };

class IVLMRPrinter {
 public:
  static constexpr const char* IID = "_IVLMRPrinter";
  virtual ~IVLMRPrinter() = default;

  // Title of the component's message boxes and start of its printer-problem
  // message.
  virtual void ProductName(const std::string& name) = 0;
  virtual std::string ProductName() const = 0;

  // The grid to paginate, kept by reference.
  virtual void SourceGrid(velmo::FlexGrid* grid) = 0;

  // Each stores the message when it is not empty, the alignment when above
  // 0, the font name when not empty and the font size when above 0.
  virtual void Title1(const std::string& message, int alignment = ALIGNCENTRE,
                      const std::string& fontName = "Times New Roman", int fontSize = 16) = 0;
  virtual void Title2(const std::string& message, int alignment = ALIGNCENTRE,
                      const std::string& fontName = "Times New Roman", int fontSize = 12) = 0;
  virtual void Title3(const std::string& message, int alignment = ALIGNCENTRE,
                      const std::string& fontName = "Times New Roman", int fontSize = 12) = 0;

  // A separator line under the titles.
  virtual void TitleSeprator(bool on) = 0;
  virtual bool TitleSeprator() const = 0;
  // Shading of the grid's fixed rows.
  virtual void FixedRowShade(bool on) = 0;
  virtual bool FixedRowShade() const = 0;

  // Lays the grid out and shows the modal preview window; returns when it
  // is closed.
  virtual void ShowPreview() = 0;
  // Lays the grid out and prints every page on the current printer behind a
  // modal status window; returns when printing has ended.
  virtual void PrintReport() = 0;
};

// The process's current printer (the device name PrintReport prints on; ""
// for the system default), as callers choose it before printing.
inline std::string& CurrentPrinterName() {
  static std::string name;
  return name;
}
