#pragma once
// A print component that records what it is given, for tests of the
// windows that hand grids to it. InstallRecordingPrinter() puts it in place
// of the real component; UninstallRecordingPrinter() takes it away again.
#include <functional>
#include <string>
#include <vector>

#include "ComFactory.h"
#include "IVLMRPrinter.h"

struct RecordingPrinter : velmo::com::ComObject, IVLMRPrinter {
  static inline std::vector<std::string> calls;
  static inline velmo::FlexGrid* grid = nullptr;
  // Called with each ShowPreview and PrintReport, when set.
  static inline std::function<void(const std::string&)> onOutput;
  static void Call(const std::string& c) {
    calls.push_back(c);
    if (onOutput) onOutput(c);
  }
  void* QueryInterface(std::string_view iid) override {
    return iid == IVLMRPrinter::IID ? static_cast<IVLMRPrinter*>(this) : nullptr;
  }
  void ProductName(const std::string& n) override { calls.push_back("ProductName=" + n); }
  std::string ProductName() const override { return ""; }
  void SourceGrid(velmo::FlexGrid* g) override { grid = g; }
  void Title1(const std::string& m, int a, const std::string& f, int s) override { Title("Title1", m, a, f, s); }
  void Title2(const std::string& m, int a, const std::string& f, int s) override { Title("Title2", m, a, f, s); }
  void Title3(const std::string& m, int a, const std::string& f, int s) override {
    Title("Title3", m.empty() ? "" : "<now>", a, f, s);
  }
  void TitleSeprator(bool on) override { calls.push_back(std::string("TitleSeprator=") + (on ? "1" : "0")); }
  bool TitleSeprator() const override { return false; }
  void FixedRowShade(bool on) override { calls.push_back(std::string("FixedRowShade=") + (on ? "1" : "0")); }
  bool FixedRowShade() const override { return false; }
  void ShowPreview() override { Call("ShowPreview"); }
  void PrintReport() override { Call("PrintReport=" + std::string(CurrentPrinterName())); }
  bool IsDefaultPrinter() override { return true; }
  int FixedRows() const override { return 0; }
  double StartRow() const override { return 0; }
  void StartRow(double) override { calls.push_back("StartRow"); }
  void FixedColShade(bool) override { calls.push_back("FixedColShade"); }
  bool FixedColShade() const override { return false; }
  void HeaderSource(QObject*) override { calls.push_back("HeaderSource"); }
  void HeaderSeprator(bool) override { calls.push_back("HeaderSeprator"); }
  bool HeaderSeprator() const override { return false; }
  void HeaderBorder(bool) override { calls.push_back("HeaderBorder"); }
  bool HeaderBorder() const override { return true; }
  void GridBorder(bool) override { calls.push_back("GridBorder"); }
  bool GridBorder() const override { return true; }
  static void Title(const char* n, const std::string& m, int a, const std::string& f, int s) {
    calls.push_back(std::string(n) + "(" + m + "," + std::to_string(a) + "," + f + "," + std::to_string(s) + ")");
  }
};

inline void InstallRecordingPrinter() {
  RecordingPrinter::calls.clear();
  RecordingPrinter::grid = nullptr;
  RecordingPrinter::onOutput = nullptr;
  velmo::com::RegisterBuiltin("VLMRPreview.IVLMRPrinter", [] { return new RecordingPrinter; });
}
inline void UninstallRecordingPrinter() {
  RecordingPrinter::onOutput = nullptr;
  velmo::com::UnregisterBuiltin("VLMRPreview.IVLMRPrinter");
}
