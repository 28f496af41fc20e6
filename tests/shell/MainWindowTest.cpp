#include "ShellFixture.h"

#include "Velto/editor/EditorController.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/shell/ContentView.h"
#include "Velto/shell/EditorView.h"
#include "Velto/shell/MainWindow.h"
#include "Velto/shell/SidebarView.h"
#include "core/model/SessionRestore.h"
#include "core/sync/SyncState.h"
#include "support/TestSupport.h"

#include <QSplitter>
#include <QTcpServer>
#include <QTextCursor>

using namespace shelltest;

namespace {

class Window : public ShellTest
{
protected:
    std::unique_ptr<MainWindow> makeWindow()
    {
        auto window = std::make_unique<MainWindow>(services());
        return window;
    }
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

TEST_F(Window, startUpResolvesRestoresServesAndAttachesInThatOrderOncePerWindow)
{
    makeFolder();
    SessionRestore(*defaults).setLastFolderPath(tmp.filePath(QStringLiteral("docs")));
    SessionRestore(*defaults).setLastFilePath(docPath(QStringLiteral("a.md")));
    settings->setApiEnabled(true);
    settings->setApiPort(freePort());
    // A store from disk: only resolving the history lets the folder be restored.
    history = std::make_unique<HistoryStore>(*defaults, bookmarks, [this] { return now; });

    auto window = makeWindow();
    WorkspaceState &workspace = window->workspace();
    QStringList steps;
    QObject::connect(history.get(), &HistoryStore::existsStatusChanged,
                     [&] { steps << QStringLiteral("resolveAll"); });
    QObject::connect(&workspace, &WorkspaceState::folderURLChanged, [&] {
        steps << QStringLiteral("restoreSession") + (api->workspace() ? "+api" : "");
    });
    sync->onAttach = [&] {
        steps << QStringLiteral("attach")
                + (api->workspace() == &workspace && api->listener() ? "+api" : "");
    };
    window->show();
    window->start();
    EXPECT_EQ(steps, (QStringList {"resolveAll", "restoreSession", "attach+api"}));
    EXPECT_EQ(workspace.selectedFileURL(), docURL(QStringLiteral("a.md")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("a.md"));

    // Neither a second start, a restore from minimised nor a focus-mode toggle runs it again.
    window->start();
    window->showMinimized();
    window->showNormal();
    settings->setIsFocusMode(true);
    settings->setIsFocusMode(false);
    EXPECT_EQ(sync->calls.count(QStringLiteral("attach")), 1);

    // The window shown last is served; showing the first again takes the services back.
    auto second = makeWindow();
    second->show();
    second->start();
    EXPECT_EQ(api->workspace(), &second->workspace());
    EXPECT_EQ(sync->workspace(), &second->workspace());
    window->hide();
    window->show();
    EXPECT_EQ(api->workspace(), &workspace);
    EXPECT_EQ(sync->workspace(), &workspace);
    EXPECT_EQ(steps.count(QStringLiteral("restoreSession")), 1);
}

TEST_F(Window, titleIsTheFileNameOrVeltoWithTheEditedMarker)
{
    auto window = makeWindow();
    WorkspaceState &workspace = window->workspace();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Velto"));
    workspace.setText(QStringLiteral("x"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Velto — Bearbeitet"));
    workspace.setText(QString());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Velto"));
    ASSERT_TRUE(write(QStringLiteral("notes.md"), "# N\n"));
    workspace.openFile(docURL(QStringLiteral("notes.md")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("notes.md"));
    workspace.setText(QStringLiteral("# N!\n"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("notes.md — Bearbeitet"));
}

TEST_F(Window, sidebarColumnKeepsItsBoundsAndFocusModeShowsTheBareEditor)
{
    auto window = makeWindow();
    window->show();
    ContentView *content = window->content();
    EXPECT_EQ(window->size(), MainWindow::defaultSize);
    EXPECT_EQ(content->sidebar()->minimumWidth(), 180);
    EXPECT_EQ(content->sidebar()->maximumWidth(), 350);
    EXPECT_EQ(content->splitter()->sizes().first(), 220);

    settings->setIsFocusMode(true);
    EXPECT_FALSE(content->sidebar()->isVisible());
    EXPECT_TRUE(content->editorView()->focusMode());
    // Caret moves still reach the workspace, only when they differ.
    window->workspace().setText(QStringLiteral("abc"));
    content->editorView()->editor()->controller()->sync();
    sync->calls.clear();
    VeltoTextView *view = content->editorView()->editor()->textView();
    QTextCursor cursor = view->textCursor();
    cursor.setPosition(2);
    view->setTextCursor(cursor);
    EXPECT_EQ(window->workspace().cursorPosition(), 2);
    view->setTextCursor(cursor);
    EXPECT_EQ(sync->calls.count(QStringLiteral("cursor")), 1);
}

TEST_F(Window, closingMinimisesUnlessTheApplicationQuits)
{
    auto window = makeWindow();
    window->show();
    window->workspace().setText(QStringLiteral("ungesichert"));
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->windowState().testFlag(Qt::WindowMinimized));
    EXPECT_EQ(window->workspace().text(), QStringLiteral("ungesichert"));

    window->setClosesForReal(true);
    EXPECT_TRUE(window->close());
}

TEST_F(Window, syncHooksReportTextCaretAndOnlyFilesInsideTheOpenFolder)
{
    auto window = makeWindow();
    WorkspaceState &workspace = window->workspace();
    window->show();
    window->start();
    ASSERT_TRUE(write(QStringLiteral("foo/in.md"), "x"));
    ASSERT_TRUE(write(QStringLiteral("foobar/out.md"), "y"));

    workspace.openFile(docURL(QStringLiteral("foo/in.md"))); // no folder open
    workspace.setFolderURL(docURL(QStringLiteral("foo")));
    workspace.openFile(docURL(QStringLiteral("foobar/out.md"))); // a sibling sharing the prefix
    workspace.openFile(docURL(QStringLiteral("foo/in.md")));
    QStringList opens = sync->calls.filter(QStringLiteral("open:"));
    EXPECT_EQ(opens, QStringList {QStringLiteral("open:in.md")});
    EXPECT_TRUE(sync->calls.contains(QStringLiteral("text")));

    sync->calls.clear();
    workspace.setCursorPosition(1);
    workspace.setCursorPosition(1);
    EXPECT_EQ(sync->calls, QStringList {QStringLiteral("cursor")});

    // A save is uploaded only while paired.
    sync->calls.clear();
    workspace.save();
    sync->state().setFolderId(QStringLiteral("f"));
    sync->state().setFolderToken(QStringLiteral("t"));
    workspace.save();
    EXPECT_EQ(sync->calls, QStringList {QStringLiteral("upload:in.md")});
}

TEST_F(Window, goingInactiveSavesTheCaretOfTheOpenFile)
{
    auto window = makeWindow();
    ASSERT_TRUE(write(QStringLiteral("notes.md"), "abcdef"));
    window->workspace().openFile(docURL(QStringLiteral("notes.md")));
    window->workspace().setCursorPosition(4);
    window->content()->saveCursorPosition();
    EXPECT_EQ(SessionRestore(*defaults).cursorPosition(docPath(QStringLiteral("notes.md"))), 4);
}

} // namespace
