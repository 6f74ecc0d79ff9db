#include "Ui.h"

#include <map>

namespace velmo::ui {

int DefaultAnswer(int buttons) {
  int kind = buttons & 7;
  int which = (buttons & vbDefaultButton3) ? 2 : (buttons & vbDefaultButton2) ? 1 : 0;
  static const int table[6][3] = {
      {vbOK, vbOK, vbOK},           {vbOK, vbCancel, vbCancel},   {vbAbort, vbRetry, vbIgnore},
      {vbYes, vbNo, vbCancel},      {vbYes, vbNo, vbNo},          {vbRetry, vbCancel, vbCancel}};
  if (kind > 5) kind = 0;
  return table[kind][which];
}

namespace {
std::mutex gUiMutex;
std::shared_ptr<UiSeam>& Current() {
  static std::shared_ptr<UiSeam> ui = std::make_shared<UnattendedUi>();
  return ui;
}
}  // namespace

UiSeam& Ui() {
  std::lock_guard g(gUiMutex);
  return *Current();
}

std::shared_ptr<UiSeam> SetUi(std::shared_ptr<UiSeam> ui) {
  std::lock_guard g(gUiMutex);
  auto previous = Current();
  Current() = ui ? std::move(ui) : std::make_shared<UnattendedUi>();
  return previous;
}

bool UiSeam::PrinterSetup(PrinterSettings&, long) { return false; }

std::string UiSeam::SaveFileName(SaveFileRequest&, long) { return {}; }

int UnattendedUi::MsgBox(const std::string& prompt, int buttons, const std::string& title) {
  if (sink_) sink_(prompt);
  // A question nobody can answer takes its safe way out: No or Cancel where
  // the box offers one, else its default button.
  int kind = buttons & 7;
  if (kind == vbYesNo) return vbNo;
  if (kind == vbYesNoCancel || kind == vbOKCancel || kind == vbRetryCancel) return vbCancel;
  if (kind == vbAbortRetryIgnore) return vbAbort;
  return vbOK;
}

bool UnattendedUi::InputBox(const std::string& prompt, const std::string&, std::string&) {
  if (sink_) sink_(prompt);
  return false;
}

std::string UnattendedUi::BrowseForFolder(long) { return {}; }

bool UnattendedUi::ChooseProfile(const std::vector<std::string>&, long, std::string&) {
  if (sink_) sink_("A mail profile must be chosen, but the run is unattended.");
  return false;
}

namespace {
std::mutex gWinMutex;
std::map<long, void*>& Windows() {
  static std::map<long, void*> m;
  return m;
}
long gNextId = 1;
}  // namespace

long RegisterWindow(void* window) {
  std::lock_guard g(gWinMutex);
  for (auto& [id, w] : Windows())
    if (w == window) return id;
  long id = gNextId++;
  Windows()[id] = window;
  return id;
}

void UnregisterWindow(long id) {
  std::lock_guard g(gWinMutex);
  Windows().erase(id);
}

void* WindowFromId(long id) {
  std::lock_guard g(gWinMutex);
  auto it = Windows().find(id);
  return it == Windows().end() ? nullptr : it->second;
}

}  // namespace velmo::ui
