#pragma once
// Outputs a batch run could not write or print, as both programs report
// them: one log line per output naming its section, its file and the
// reason; a closing summary that counts each reason once and lists a
// bounded number of files, so that it fits on a screen however many
// outputs failed; and the reason of a failed print job, taken from what
// the job showed, which a batch keeps instead of showing.
#include <memory>
#include <string>
#include <vector>

namespace velmo::ui {
class UiSeam;
struct PrinterSettings;
}

namespace velmo::exporting {

struct OutputFailure {
  std::string section;  // the category or report section
  std::string file;     // where the output was to go; "" when none was named
  std::string reason;   // why it was not written or printed
};

// "<section> : <file> : <reason>", without the file part when there is none.
std::string FailureText(const OutputFailure& failure);

// Files listed by FailureSummary before the rest are only counted.
inline constexpr size_t kListedFailures = 15;
// Reasons listed by FailureSummary before the rest are only counted.
inline constexpr size_t kListedReasons = 5;
// Longest reason or folder, and longest other line of a summary, in bytes;
// longer ones lose their middle.
inline constexpr size_t kSummaryReasonChars = 150;
inline constexpr size_t kSummaryLineChars = 90;

// The closing text of a run with failures: the heading; each reason once
// with the number of outputs it hit ("<reason> (N outputs)"); the folder the listed files were to go
// to (when they share one); at most kListedFailures files (or sections,
// for outputs without a file); then "... and N more (see <log>)". When the
// outputs were all to go into one file (a database's tables), that file is
// named once and the sections are listed instead.
std::string FailureSummary(const std::string& heading, const std::vector<OutputFailure>& failures,
                           const std::string& logName);

// While it lives, the messages shown through the UI seam are kept instead
// of shown (each answered by its default button); everything else goes to
// the seam it replaced, which is put back when it goes.
class KeptMessages {
 public:
  KeptMessages();
  ~KeptMessages();
  KeptMessages(const KeptMessages&) = delete;
  KeptMessages& operator=(const KeptMessages&) = delete;
  const std::vector<std::string>& Texts() const;
  // A question the user asked for with a control of a window that stays
  // usable while a batch runs (the progress window's Cancel): it is shown
  // by the seam below every KeptMessages alive, never kept and answered by
  // default, since the user waits for it.
  static int Ask(const std::string& prompt, int buttons, const std::string& title);

 private:
  class Seam;
  std::shared_ptr<Seam> seam_;
  std::shared_ptr<ui::UiSeam> previous_;
};

// The reason of a failed print job: the print component's own reason for
// it (jobError, the system's text) when it gave one; else, from the
// messages the job showed, the last line of the last one when that line is
// the job's own reason (without the file it names, so that one cause counts
// once), else the message's first line (the print component's
// printer-problem text says no more than that); a job that showed nothing
// failed without a word.
std::string PrintJobFailureReason(const std::vector<std::string>& shown, const std::string& jobError = "");

// The file of a failed print job: the one the print component names
// (jobFile), else the one a job with this title writes on the printer when
// that is the PDF device; "" for a print queue.
std::string PrintJobFile(const ui::PrinterSettings& printer, const std::string& title,
                         const std::string& jobFile = "");

}  // namespace velmo::exporting
