#pragma once

#include <QLoggingCategory>
#include <QString>

#include <functional>

// The process log: one line per message with a bracketed area tag ("[API] …", "[Sync] …"),
// written through Qt's logging with the area's category:
//
//     qCInfo(logApi).noquote() << u"[API] http://localhost:%1"_s.arg(port);
//
// Informational and debug messages of the program's categories (velto.*) go to standard output
// as they are, flushed per line; warnings and everything of Qt's own categories keep Qt's
// handling. The handler is installed when the application object is made.
Q_DECLARE_LOGGING_CATEGORY(logApi)
Q_DECLARE_LOGGING_CATEGORY(logSync)
Q_DECLARE_LOGGING_CATEGORY(logPreview)
Q_DECLARE_LOGGING_CATEGORY(logExport)

// Where the process log goes instead of standard output (tests capture it through
// testsupport::LogCapture, tools send it to standard error). Returns the previous sink; an empty
// sink restores standard output.
using LogSink = std::function<void(const QString &line)>;
LogSink setLogSink(LogSink sink);

// Installs the handler (again): for programs that replaced Qt's message handler in between.
void installLogHandler();
