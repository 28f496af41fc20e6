#include "Velto/api/DebugServer.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/HistoryStore.h"
#include "Velto/model/WorkspaceState.h"
#include "Velto/preview/Export.h"
#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewView.h"
#include "Velto/shell/ApiWiring.h"
#include "core/markdown/MarkdownDocument.h"
#include "platform/Detached.h"
#include "platform/L10n.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenuBar>
#include <QSplitter>

#include <unistd.h>

// Until the full application shell exists, Velto opens one window with the editor beside the live
// preview, a file menu, and the local API served from this window's workspace. A Markdown file
// named on the command line is opened at start.
int main(int argc, char *argv[])
{
    // Chromium refuses to start its sandbox for root; the preview would take the program down.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    PageSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velto"));
    QApplication::setOrganizationName(QStringLiteral("Velto"));
    MarkdownDocument::registerExtensions();

    AppSettings &settings = AppSettings::shared();
    auto *workspace = new WorkspaceState(&app);

    QMainWindow window;
    auto *splitter = new QSplitter(Qt::Horizontal, &window);
    auto *editor = new MarkdownTextView(*workspace, settings, splitter);
    auto *preview = new PreviewView(*workspace, settings, splitter);
    splitter->addWidget(editor);
    splitter->addWidget(preview);
    splitter->setSizes({550, 550});
    window.setCentralWidget(splitter);
    window.resize(1100, 700);

    editor->setOnCursorChange(
        [workspace](qint64 position) { workspace->setCursorPosition(position); });
    editor->setOnVisibleLineChange(
        [preview](qint64 line) { preview->setVisibleSourceLine(int(line)); });

    const auto updateTitle
        = [&window, workspace] { window.setWindowTitle(workspace->windowTitle()); };
    QObject::connect(workspace, &WorkspaceState::textChanged, &window, updateTitle);
    QObject::connect(workspace, &WorkspaceState::savedTextChanged, &window, updateTitle);
    QObject::connect(workspace, &WorkspaceState::selectedFileURLChanged, &window, updateTitle);
    updateTitle();

    QMenu *file = window.menuBar()->addMenu(L10n::text("menu.file"));
    file->addAction(L10n::text("menu.open"), QKeySequence::Open, workspace,
                    [workspace] { workspace->showOpenPanel(); });
    file->addAction(L10n::text("menu.save"), QKeySequence::Save, workspace,
                    [workspace] { workspace->save(); });
    file->addAction(L10n::text("menu.saveAs"), QKeySequence::SaveAs, workspace,
                    [workspace] { workspace->saveAs(); });
    file->addSeparator();
    file->addAction(L10n::text("menu.exportHTML"), workspace,
                    [workspace] { Export::exportHTML(workspace->text()); });
    file->addAction(L10n::text("menu.exportPDF"), workspace,
                    [workspace] { Export::exportPDF(workspace->text()); });
    file->addSeparator();
    file->addAction(L10n::text("menu.quit"), QKeySequence::Quit, &app, &QApplication::quit);

    QObject::connect(&app, &QApplication::aboutToQuit, workspace,
                     [workspace] { workspace->saveCursorPosition(); });

    window.show();
    HistoryStore::shared().resolveAll();
    const QStringList args = app.arguments();
    if (args.size() > 1)
        runDetached(
            workspace->openFile(QUrl::fromLocalFile(QFileInfo(args.at(1)).absoluteFilePath())),
            QStringLiteral("Opening the file named on the command line"));
    else
        workspace->restoreSession();
    exposeWindowToApi(DebugServer::shared(), *workspace, preview);
    DebugServer::shared().start();
    return app.exec();
}
