#include "McpBridge.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

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
        std::ios::sync_with_stdio(false);
        std::string line;
        while (std::getline(std::cin, line)) {
            QMetaObject::invokeMethod(
                &app,
                [&bridge, line = QByteArray::fromStdString(line)] { bridge.handleLine(line); },
                Qt::QueuedConnection);
        }
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
