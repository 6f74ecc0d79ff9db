// Outputs a batch run could not write or print: log text, closing summary,
// and the reason of a failed print job.
#include "OutputFailures.h"

#include <filesystem>
#include <utility>

#include "Printers.h"
#include "TextParts.h"
#include "Ui.h"

namespace velmo::exporting {

namespace {

constexpr const char* kCrLf = "\r\n";

// The text cut to at most chars bytes by dropping its middle, on UTF-8
// character boundaries.
std::string Shortened(const std::string& text, size_t chars) {
  if (text.size() <= chars) return text;
  const std::string dots = "...";
  size_t head = (chars - dots.size()) * 2 / 3;
  size_t tail = text.size() - (chars - dots.size() - head);
  auto continuation = [&](size_t at) { return (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80; };
  while (head > 0 && continuation(head)) --head;
  while (tail < text.size() && continuation(tail)) ++tail;
  return text.substr(0, head) + dots + text.substr(tail);
}

std::vector<std::string> NonEmptyLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = velmo::text::Trim(line);
    if (!line.empty()) lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

}  // namespace

std::string FailureText(const OutputFailure& failure) {
  return failure.section + " : " + (failure.file.empty() ? "" : failure.file + " : ") + failure.reason;
}

std::string FailureSummary(const std::string& heading, const std::vector<OutputFailure>& failures,
                           const std::string& logName) {
  std::string text = heading;
  auto line = [&](const std::string& l) { text += kCrLf + Shortened(l, kSummaryLineChars); };

  std::vector<std::pair<std::string, size_t>> reasons;  // in order of first appearance
  for (const OutputFailure& f : failures) {
    auto it = reasons.begin();
    while (it != reasons.end() && it->first != f.reason) ++it;
    if (it == reasons.end())
      reasons.emplace_back(f.reason, 1);
    else
      ++it->second;
  }
  for (size_t i = 0; i < reasons.size() && i < kListedReasons; ++i)
    text += kCrLf + Shortened(reasons[i].first, kSummaryReasonChars) + " (" + std::to_string(reasons[i].second) +
            (reasons[i].second == 1 ? " output)" : " outputs)");
  if (reasons.size() > kListedReasons)
    line("... and " + std::to_string(reasons.size() - kListedReasons) + " other reasons");

  // Files that share their folder are listed by name under it; outputs
  // that were all to go into one file (the tables of a run's database)
  // are listed by section under that file.
  std::string folder, file;
  bool oneFolder = true, oneFile = true, anyFile = false;
  for (const OutputFailure& f : failures) {
    if (f.file.empty()) continue;
    const std::string parent = std::filesystem::path(f.file).parent_path().string();
    if (!anyFile) folder = parent, file = f.file;
    oneFolder = oneFolder && parent == folder;
    oneFile = oneFile && f.file == file;
    anyFile = true;
  }
  const bool bySection = anyFile && oneFile && failures.size() > 1;
  text += kCrLf;
  if (bySection)
    text += kCrLf + ("File: " + Shortened(file, kSummaryReasonChars));
  else if (anyFile && oneFolder)
    text += kCrLf + ("Folder: " + Shortened(folder, kSummaryReasonChars));
  for (size_t i = 0; i < failures.size() && i < kListedFailures; ++i) {
    const OutputFailure& f = failures[i];
    if (f.file.empty() || bySection)
      line(f.section);
    else
      line(oneFolder ? std::filesystem::path(f.file).filename().string() : f.file);
  }
  if (failures.size() > kListedFailures)
    line("... and " + std::to_string(failures.size() - kListedFailures) + " more (see " + logName + ")");
  return text;
}

// ----------------------------------------------------------- KeptMessages

class KeptMessages::Seam : public ui::UiSeam {
 public:
  int MsgBox(const std::string& prompt, int buttons, const std::string&) override {
    texts.push_back(prompt);
    return ui::DefaultAnswer(buttons);
  }
  bool InputBox(const std::string& p, const std::string& t, std::string& v) override {
    return inner->InputBox(p, t, v);
  }
  std::string BrowseForFolder(long id) override { return inner->BrowseForFolder(id); }
  bool ChooseProfile(const std::vector<std::string>& profiles, long id, std::string& chosen) override {
    return inner->ChooseProfile(profiles, id, chosen);
  }
  bool Unattended() const override { return inner->Unattended(); }
  bool PrinterSetup(ui::PrinterSettings& settings, long id) override { return inner->PrinterSetup(settings, id); }
  std::string SaveFileName(ui::SaveFileRequest& request, long id) override {
    return inner->SaveFileName(request, id);
  }
  std::vector<std::string> texts;
  std::shared_ptr<ui::UiSeam> inner;  // the seam replaced
};

KeptMessages::KeptMessages() {
  seam_ = std::make_shared<Seam>();
  previous_ = ui::SetUi(seam_);
  seam_->inner = previous_;
}

KeptMessages::~KeptMessages() { ui::SetUi(previous_); }

const std::vector<std::string>& KeptMessages::Texts() const { return seam_->texts; }

int KeptMessages::Ask(const std::string& prompt, int buttons, const std::string& title) {
  ui::UiSeam* shown = &ui::Ui();
  while (auto* kept = dynamic_cast<Seam*>(shown)) shown = kept->inner.get();
  return shown->MsgBox(prompt, buttons, title);
}

// ------------------------------------------------------------ print jobs

std::string PrintJobFailureReason(const std::vector<std::string>& shown, const std::string& jobError) {
  if (!jobError.empty()) return jobError;
  if (shown.empty()) return "The print job failed without a message.";
  const std::vector<std::string> lines = NonEmptyLines(shown.back());
  if (lines.empty()) return "The print job failed without a message.";
  // The printer-problem text ends in its advice, lines starting "*"; a
  // reason of the job's own comes after them.
  const std::string& last = lines.back();
  if (last[0] == '*') return lines.front();
  // One that names its file ('Cannot write "<file>": <why>') is counted by
  // the why alone.
  const size_t quoted = last.rfind("\": ");
  if (quoted != std::string::npos && last.find('"') < quoted) return last.substr(quoted + 3);
  return last;
}

std::string PrintJobFile(const ui::PrinterSettings& printer, const std::string& title,
                         const std::string& jobFile) {
  if (!jobFile.empty()) return jobFile;
  if (printer.device != printers::kPdfDevice) return "";
  return printers::PdfTarget(printer, title).string();
}

}  // namespace velmo::exporting
