#include "McpBridge.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <thread>

#include <unistd.h>

// A stdio MCP server: one JSON-RPC message per line on standard input, answers on standard output.
// Everything else (diagnostics) goes to standard error, which MCP clients show as logs. Input is
// read on a thread of its own so that pings and cancellations arrive while a call waits.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bool inputEnded = false;
    McpBridge *bridgePointer = nullptr;
    const auto quitWhenDone = [&] {
        if (inputEnded && bridgePointer && bridgePointer->pendingCalls() == 0)
            QCoreApplication::quit();
    };
    McpBridge bridge(
        {qEnvironmentVariable("VELTO_API_PORT"), qEnvironmentVariable("VELTO_API_TOKEN")},
        [&](const QByteArray &line) {
            std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
            quitWhenDone();
        });
    bridgePointer = &bridge;

    QString problem;
    if (!bridge.port(&problem))
        std::fprintf(stderr, "velto-mcp-server: %s\n", qPrintable(problem));
    if (const auto tokenProblem = bridge.tokenProblem())
        std::fprintf(stderr, "velto-mcp-server: %s\n", qPrintable(*tokenProblem));

    std::thread reader([&] {
        // Lines are bounded: the rest of a line over the limit is skipped, not buffered.
        QByteArray line;
        bool oversized = false;
        const auto deliver = [&] {
            if (oversized)
                QMetaObject::invokeMethod(
                    &app, [&bridge] { bridge.handleOversizedLine(); }, Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(
                    &app, [&bridge, line] { bridge.handleLine(line); }, Qt::QueuedConnection);
            line.clear();
            oversized = false;
        };
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            QByteArrayView rest(buffer, n);
            while (!rest.isEmpty()) {
                const qsizetype newline = rest.indexOf('\n');
                const QByteArrayView piece = newline < 0 ? rest : rest.first(newline);
                if (!oversized && line.size() + piece.size() > McpBridge::maxLineBytes) {
                    oversized = true;
                    line = QByteArray();
                }
                if (!oversized)
                    line += piece;
                if (newline < 0)
                    break;
                deliver();
                rest = rest.sliced(newline + 1);
            }
        }
        if (!line.isEmpty() || oversized)
            deliver();
        // Calls still waiting are answered before the program ends.
        QMetaObject::invokeMethod(
            &app,
            [&] {
                inputEnded = true;
                quitWhenDone();
            },
            Qt::QueuedConnection);
    });
    const int status = app.exec();
    reader.join();
    return status;
}
