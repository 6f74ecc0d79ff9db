#pragma once
// Qt's platform plugins warn about what they cannot do for a window: the
// offscreen plugin, for one, that it cannot pass a window's size hints on,
// once for every window of a fixed size, and Qt notes a missing runtime
// folder. They tell the program's user nothing, so the programs and
// benchmarks keep them off their standard error.

namespace velmo {

// Installs a Qt message handler that drops those warnings and passes every
// other message to the handler installed before it (Qt's own by default).
// Called before the application object is made, which notes the runtime
// folder.
void DropPlatformPluginWarnings();

}  // namespace velmo
