#pragma once
// The user's crontab, read and written through the program that
// VELMORCAST_CRONTAB names (default "crontab"): "-l" lists the table, "-"
// installs a new table from standard input.
//
// A task is the block of lines between "# BEGIN job-scheduler task NAME"
// and "# END job-scheduler task NAME". The text operations below list, add,
// replace and delete such blocks by name; every line outside the block
// concerned stays byte for byte. A block whose END marker is missing (a
// table edited by hand) holds only the task's own lines, those that run
// the task runner, right after its BEGIN marker: the lines further down
// are the user's and stay.
#include <optional>
#include <string>
#include <vector>

namespace velmo::scheduler {

class CronTable {
 public:
  // The program used: VELMORCAST_CRONTAB when set and not empty, else
  // "crontab".
  static std::string Program();

  // The current table ("" when the user has none: the program says "no
  // crontab for" on standard error). Throws ComError when the program
  // cannot be run or fails otherwise.
  static std::string Read();
  // Installs the table in one call. Throws ComError on failure.
  static void Write(const std::string& table);

  static std::string BeginLine(const std::string& name);  // "# BEGIN job-scheduler task NAME"
  static std::string EndLine(const std::string& name);    // "# END job-scheduler task NAME"
  // What every line of a task holds: the start of the task runner.
  static constexpr const char* kRunnerStart = " && exec ./vjobrun";

  // Names of the task blocks, in table order.
  static std::vector<std::string> TaskNames(const std::string& table);
  // The lines inside a task's block, without the markers; nullopt when the
  // table has no such block.
  static std::optional<std::vector<std::string>> TaskLines(const std::string& table, const std::string& name);
  // The table with the task's block replaced in place by one holding the
  // given lines, or appended at the end when there was none.
  static std::string WithTask(const std::string& table, const std::string& name,
                              const std::vector<std::string>& lines);
  // The table without the task's block (unchanged when there is none).
  static std::string WithoutTask(const std::string& table, const std::string& name);
};

// Runs a program with the given arguments, feeding it input and collecting
// what it writes. Returns its exit status (-1 when it could not be started
// or did not exit normally).
int RunProgram(const std::vector<std::string>& argv, const std::string& input, std::string& out, std::string& err);

}  // namespace velmo::scheduler
