#pragma once
// Whether the display the environment names answers. A program started by
// cron, or with DISPLAY set but empty, or naming a display that is gone,
// must draw off screen instead of failing to start.

namespace velmo {

// True when DISPLAY (an X server: a local socket, or TCP 6000 + number on
// another host) or WAYLAND_DISPLAY (a socket in XDG_RUNTIME_DIR, or a full
// path) names a display that accepts a connection now. Empty or unset
// variables name none. Waits at most about a second for a remote host.
bool DisplayAnswers();

}  // namespace velmo
