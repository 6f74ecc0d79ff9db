#pragma once
// Which display a program's windows can use. A program started by cron, or
// with DISPLAY set but empty, naming a display that is gone or stopped, one
// that refuses this user, or one Qt has no plugin for, must draw off screen
// instead of failing, hanging or aborting before it starts.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace velmo {

// The longest wait for one display's own set-up.
inline constexpr std::chrono::milliseconds kDisplayBound{2000};

struct DisplayChoice {
  std::string platform;  // Qt's platform name: "xcb", "wayland" or "offscreen"
  // With "offscreen" while DISPLAY or WAYLAND_DISPLAY named a display: each
  // display named and why it is not used, joined by "; ". Empty otherwise.
  std::string why;
};

// Tries DISPLAY, then WAYLAND_DISPLAY; empty variables name no display.
// An X display ([host]:number[.screen]: the local socket, or TCP port
// 6000 + number on the host) is used when its server answers the connection
// set-up with success; the request carries the MIT-MAGIC-COOKIE-1 of
// XAUTHORITY (else ~/.Xauthority) for that display. A Wayland display (a
// socket in XDG_RUNTIME_DIR, or a full path) is used when the compositor
// answers a first round trip. Either needs its platform plugin in one of
// `pluginFolders`, and each display waits at most `bound` for its answer.
DisplayChoice ChooseDisplay(const std::vector<std::filesystem::path>& pluginFolders,
                            std::chrono::milliseconds bound = kDisplayBound);

// The folders Qt loads its platform plugins from: QT_QPA_PLATFORM_PLUGIN_PATH
// and "platforms" in each folder of QT_PLUGIN_PATH, in Qt's own plugin
// folder and in the program's folder. Needs no application object.
std::vector<std::filesystem::path> QtPlatformPluginFolders();

}  // namespace velmo
