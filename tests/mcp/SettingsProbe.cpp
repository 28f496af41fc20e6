// Gets the MCP configuration the way a user does: switches the local API on in the settings'
// API tab and presses "copy MCP configuration". Prints one JSON line with the copied text and
// the open document, then serves the API until its standard input closes. It runs beside the
// velto-mcp-server bridge, as the installed program does.
#include "ProbeSupport.h"

#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "Velto/shell/APISettingsTab.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "support/Ports.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QJsonObject>
#include <QPushButton>
#include <QTemporaryDir>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setLogSink([](const QString &line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("settings/defaults.json")));
    AppSettings settings(defaults);
    probesupport::CancellingPanels panels;
    WorkspaceState workspace(WorkspaceState::Services {nullptr, &defaults, &panels});
    workspace.setText(
        QStringLiteral("# Aus Velto\n\nDas offene Dokument – mit \"Anführungszeichen\"."));
    DebugServer server(settings);
    server.setWorkspace(&workspace);

    settings.setApiPort(testsupport::unusedPort());

    APISettingsTab tab({&settings, &server});
    tab.enableSwitch()->click();
    if (server.activePort() == 0)
        return 1;
    tab.copyMCPButton()->click();

    probesupport::printLine(QJsonObject {{"config", QGuiApplication::clipboard()->text()},
                                         {"document", workspace.text()}});
    return probesupport::serveUntilInputCloses(app);
}
