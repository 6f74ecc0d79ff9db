#pragma once
// A UI seam that answers from a script, for tests: each box takes the next
// queued answer (or its default when the queue is empty) and is recorded.
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Ui.h"

namespace velmo::ui {

class ScriptedUi : public UiSeam {
 public:
  struct Shown {
    std::string kind;  // "MsgBox", "InputBox", "BrowseForFolder", "ChooseProfile"
    std::string prompt;
    std::string title;
    int buttons = 0;
  };
  void QueueMsgBox(int answer) { std::lock_guard g(m_); msgAnswers_.push_back(answer); }
  void QueueInput(std::string value, bool ok = true) { std::lock_guard g(m_); inputAnswers_.push_back({ok, std::move(value)}); }
  void QueueFolder(std::string path) { std::lock_guard g(m_); folderAnswers_.push_back(std::move(path)); }
  void QueueProfile(std::string profile, bool ok = true) { std::lock_guard g(m_); profileAnswers_.push_back({ok, std::move(profile)}); }
  // The set-up dialog's answer: OK with these settings, or Cancel.
  void QueuePrinterSetup(PrinterSettings chosen, bool ok = true) { std::lock_guard g(m_); setupAnswers_.push_back({ok, std::move(chosen)}); }
  // The save dialog's answer: a path and the filter chosen ("" = Cancel).
  void QueueSaveFile(std::string path, int filterIndex) { std::lock_guard g(m_); saveAnswers_.push_back({filterIndex, std::move(path)}); }
  std::vector<Shown> shown() const { std::lock_guard g(m_); return shown_; }
  void clear() { std::lock_guard g(m_); shown_.clear(); }

  int MsgBox(const std::string& prompt, int buttons, const std::string& title) override;
  bool InputBox(const std::string& prompt, const std::string& title, std::string& value) override;
  std::string BrowseForFolder(long ownerWindowId) override;
  bool ChooseProfile(const std::vector<std::string>& profiles, long ownerWindowId,
                     std::string& chosen) override;
  bool Unattended() const override { return false; }
  // The next queued answer; Cancel when none is queued. Recorded as shown
  // with the kind "PrinterSetup" and the device it opened on as prompt.
  bool PrinterSetup(PrinterSettings& settings, long ownerWindowId) override;
  // The next queued answer; Cancel when none is queued. Recorded as shown
  // with the kind "SaveFile", the folder as prompt, the filters joined by
  // "|" as title and the filter index offered as buttons.
  std::string SaveFileName(SaveFileRequest& request, long ownerWindowId) override;

 private:
  mutable std::mutex m_;
  std::deque<std::pair<int, std::string>> saveAnswers_;
  std::deque<std::pair<bool, PrinterSettings>> setupAnswers_;
  std::deque<int> msgAnswers_;
  std::deque<std::pair<bool, std::string>> inputAnswers_;
  std::deque<std::string> folderAnswers_;
  std::deque<std::pair<bool, std::string>> profileAnswers_;
  std::vector<Shown> shown_;
};

inline std::string ScriptedUi::SaveFileName(SaveFileRequest& request, long) {
  std::lock_guard g(m_);
  std::string filters;
  for (auto& f : request.filters) filters += (filters.empty() ? "" : "|") + f;
  shown_.push_back({"SaveFile", request.folder, filters, request.filterIndex});
  if (saveAnswers_.empty()) return {};
  auto [index, path] = saveAnswers_.front();
  saveAnswers_.pop_front();
  if (!path.empty()) request.filterIndex = index;
  return path;
}

inline bool ScriptedUi::PrinterSetup(PrinterSettings& settings, long) {
  std::lock_guard g(m_);
  shown_.push_back({"PrinterSetup", settings.device, "", 0});
  if (setupAnswers_.empty()) return false;
  auto [ok, chosen] = setupAnswers_.front();
  setupAnswers_.pop_front();
  if (ok) settings = chosen;
  return ok;
}

inline int ScriptedUi::MsgBox(const std::string& prompt, int buttons, const std::string& title) {
  std::lock_guard g(m_);
  shown_.push_back({"MsgBox", prompt, title, buttons});
  if (msgAnswers_.empty()) return DefaultAnswer(buttons);
  int a = msgAnswers_.front();
  msgAnswers_.pop_front();
  return a;
}

inline bool ScriptedUi::InputBox(const std::string& prompt, const std::string& title, std::string& value) {
  std::lock_guard g(m_);
  shown_.push_back({"InputBox", prompt, title, 0});
  if (inputAnswers_.empty()) return true;
  auto [ok, v] = inputAnswers_.front();
  inputAnswers_.pop_front();
  if (ok) value = v;
  return ok;
}

inline std::string ScriptedUi::BrowseForFolder(long) {
  std::lock_guard g(m_);
  shown_.push_back({"BrowseForFolder", "", "", 0});
  if (folderAnswers_.empty()) return {};
  auto v = folderAnswers_.front();
  folderAnswers_.pop_front();
  return v;
}

inline bool ScriptedUi::ChooseProfile(const std::vector<std::string>& profiles, long, std::string& chosen) {
  std::lock_guard g(m_);
  std::string list;
  for (auto& p : profiles) list += (list.empty() ? "" : "\n") + p;
  shown_.push_back({"ChooseProfile", list, "", 0});
  if (profileAnswers_.empty()) return false;
  auto [ok, v] = profileAnswers_.front();
  profileAnswers_.pop_front();
  if (ok) chosen = v;
  return ok;
}

}  // namespace velmo::ui
