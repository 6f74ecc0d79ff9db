#include "QtNotices.h"

#include <QtGlobal>
#include <QString>

namespace velmo {

namespace {

QtMessageHandler gPrevious = nullptr;

bool FromPlatformPlugin(QtMsgType type, const QString& text) {
  return type == QtWarningMsg && (text.startsWith(QLatin1String("This plugin does not support ")) ||
                                  text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")));
}

}  // namespace

void DropPlatformPluginWarnings() {
  static const QtMessageHandler ours = [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (FromPlatformPlugin(type, text)) return;
    if (gPrevious) gPrevious(type, context, text);
  };
  const QtMessageHandler previous = qInstallMessageHandler(ours);
  // Installed twice, it still passes messages on to the one before it.
  if (previous != ours) gPrevious = previous;
}

}  // namespace velmo
