// A headless API server for the MCP client test: a fresh settings store and workspace in a
// temporary folder, listening on a free loopback port. Prints one JSON line with the port, the
// token and the folder, then serves until its standard input closes.
#include "Velto/api/DebugServer.h"
#include "Velto/api/PreviewEndpoints.h"
#include "Velto/api/SettingsEndpoints.h"
#include "Velto/api/WindowEndpoints.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/FilePanels.h"
#include "Velto/model/WorkspaceState.h"
#include "core/ai/AISettings.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "support/Ports.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

namespace {

// Every panel is cancelled: the test drives documents by path only.
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

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setLogSink([](const QString &line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("settings/defaults.json")));
    AppSettings settings(defaults);
    settings.setApiToken(QStringLiteral("mcp-test-token"));
    CancellingPanels panels;
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

    const QByteArray line
        = QJsonDocument(
              QJsonObject {{"port", port}, {"token", settings.apiToken()}, {"dir", dir.path()}})
              .toJson(QJsonDocument::Compact);
    std::fprintf(stdout, "%s\n", line.constData());
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    return app.exec();
}
