// A headless API server for the MCP client test: a fresh settings store and workspace in a
// temporary folder, listening on a free loopback port. Prints one JSON line with the port, the
// token and the folder, then serves until its standard input closes.
#include "ProbeSupport.h"

#include "Velto/api/DebugServer.h"
#include "Velto/api/PreviewEndpoints.h"
#include "Velto/api/SettingsEndpoints.h"
#include "Velto/api/WindowEndpoints.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "core/ai/AISettings.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "support/Ports.h"

#include <QApplication>
#include <QJsonObject>
#include <QTemporaryDir>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setLogSink([](const QString &line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("settings/defaults.json")));
    AppSettings settings(defaults);
    settings.setApiToken(QStringLiteral("mcp-test-token"));
    probesupport::CancellingPanels panels;
    WorkspaceState workspace(WorkspaceState::Services {nullptr, &defaults, &panels});
    AISettings ai(defaults);
    DebugServer server(settings);
    server.setWorkspace(&workspace);
    settingsendpoints::registerWith(server, settings, ai);
    previewendpoints::registerWith(server);
    windowendpoints::registerWith(server, {dir.path(), std::chrono::milliseconds(800)});
    windowendpoints::registerAppSettings(server, [] {});

    const quint16 port = testsupport::listenOnFreePort([&](quint16 candidate) {
        server.startListener(candidate);
        return server.activePort() == candidate;
    });
    if (port == 0)
        return 1;

    probesupport::printLine(
        QJsonObject {{"port", port}, {"token", settings.apiToken()}, {"dir", dir.path()}});
    return probesupport::serveUntilInputCloses(app);
}
