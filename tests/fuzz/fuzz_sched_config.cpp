// libFuzzer target: the schedule settings file's writer and reader. The
// input is cut into the eight fields of a server line and the texts of a
// task line (at each 0xFF byte); every value the writer takes must come
// back from the reader unchanged, in its place, and a value the writer
// refuses must leave the file as it was. The input's raw bytes are also
// read as a settings file: the reader must take only lines that carry
// (UTF-8 without control characters), none longer than the bound, and shows
// the lines it skips the same way.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SchedConfig.h"
#include "TextParts.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> Pieces(const uint8_t* data, size_t size, size_t want) {
  std::vector<std::string> out(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && out.size() < want) out.emplace_back();
    else out.back() += static_cast<char>(data[i]);
  }
  out.resize(want);
  return out;
}

bool Carries(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return false;
  return velmo::text::IsUtf8(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path dir = [] {
    // Memory-backed when the machine has it: every write syncs its file.
    std::error_code ec;
    const auto base = std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                                     : std::filesystem::temp_directory_path();
    auto d = base / ("velmo-fuzz-sched-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  const auto file = dir / "SchedConfig.cfg";

  // Writer and reader.
  const auto f = Pieces(data, size, 11);
  velmo::ScheduledServerEntry server{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]};
  velmo::ScheduleTaskEntry task;
  task.account = f[8];
  task.dayList = f[9];
  task.startTime = f[10];
  const std::vector<velmo::ScheduledServerEntry> servers{server, server};
  {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "Scheduled Servers\r\n";
  }
  if (velmo::WriteSchedConfig(file, &task, servers)) {
    velmo::SchedConfigContents back;
    Check(velmo::ReadSchedConfig(file, back));
    Check(back.hasTask && back.task == task);
    Check(back.servers == servers);
    Check(back.skipped.empty());
  } else {
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    Check(text == "Scheduled Servers\r\n");
  }

  // The raw bytes as a file.
  {
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                   static_cast<std::streamsize>(size));
  }
  velmo::SchedConfigContents read;
  Check(velmo::ReadSchedConfig(file, read));
  for (const auto& s : read.servers)
    for (const auto* v : {&s.serverName, &s.reportName, &s.profileName, &s.operation, &s.printerName,
                          &s.exportFormat, &s.outputFolder, &s.runStamp})
      Check(Carries(*v) && v->size() <= velmo::kSchedMaxLine);
  for (const auto& k : read.skipped) {
    const std::string shown = velmo::SkippedLineText(file, k);
    Check(Carries(shown));
  }
  return 0;
}
