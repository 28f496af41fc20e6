#pragma once

#include "Velto/model/FilePanels.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

// What the helper programs of the MCP tests share: they report one JSON line on standard
// output and serve until the test closes their standard input.
namespace probesupport {

// Every panel is cancelled: the tests drive documents by path only.
class CancellingPanels : public FilePanels
{
public:
    void chooseOpenItem(const QString &, Completion completion) override
    {
        completion(std::nullopt);
    }
    void chooseSaveLocation(const QString &, Completion completion) override
    {
        completion(std::nullopt);
    }
};

inline void printLine(const QJsonObject &object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fprintf(stdout, "%s\n", line.constData());
    std::fflush(stdout);
}

// Runs the event loop until standard input reaches its end.
inline int serveUntilInputCloses(QCoreApplication &app)
{
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    return app.exec();
}

} // namespace probesupport
