#include "McpBridge.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

// A stdio MCP server: one JSON-RPC message per line on standard input, answers on standard output.
// Everything else (diagnostics) goes to standard error, which MCP clients show as logs.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    McpBridge::Config config {qEnvironmentVariable("VELTO_API_PORT"),
                              qEnvironmentVariable("VELTO_API_TOKEN")};
    McpBridge bridge(config);

    QString problem;
    if (!bridge.port(&problem))
        std::fprintf(stderr, "velto-mcp-server: %s\n", qPrintable(problem));

    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) {
        const QByteArray answer = bridge.handleLine(QByteArray::fromStdString(line));
        if (answer.isEmpty())
            continue;
        std::fwrite(answer.constData(), 1, size_t(answer.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    return 0;
}
