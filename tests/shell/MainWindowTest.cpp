#include "ShellFixture.h"

#include "Velto/editor/EditorController.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/shell/ContentView.h"
#include "Velto/shell/EditorView.h"
#include "Velto/shell/MainWindow.h"
#include "Velto/shell/SidebarView.h"
#include "core/model/SessionRestore.h"
#include "core/sync/SyncState.h"
#include "support/Ports.h"

#include <QSplitter>
#include <QTextCursor>

using namespace shelltest;

namespace {

using Window = ShellTest;

TEST_F(Window, startUpResolvesRestoresServesAndAttachesInThatOrderOncePerWindow)
{
    makeFolder();
    SessionRestore(*defaults).setLastFolderPath(tmp.filePath(QStringLiteral("docs")));
    SessionRestore(*defaults).setLastFilePath(docPath(QStringLiteral("a.md")));
    settings->setApiEnabled(true);
    settings->setApiPort(testsupport::unusedPort());
    // A store from disk: only resolving the history lets the folder be restored.
    history = std::make_unique<HistoryStore>(*defaults, bookmarks, [this] { return now; });

    MainWindow window(services());
    WorkspaceState &workspace = window.workspace();
    QStringList steps;
    QObject::connect(history.get(), &HistoryStore::existsStatusChanged,
                     [&] { steps << QStringLiteral("resolveAll"); });
    QObject::connect(&workspace, &WorkspaceState::folderURLChanged, [&] {
        steps << QStringLiteral("restoreSession") + (api->workspace() ? "+api" : "");
    });
    sync->onAttach = [&] {
        const bool served = api->workspace() == &workspace && api->listener();
        steps << QStringLiteral("attach") + (served ? "+api" : "");
    };
    window.show();
    window.start();
    EXPECT_EQ(steps, (QStringList {"resolveAll", "restoreSession", "attach+api"}));
    EXPECT_EQ(workspace.selectedFileURL(), docURL(QStringLiteral("a.md")));
    // Typing goes to the document straight away, and again after another file opened.
    auto *editor = window.content()->editorView()->editor();
    EXPECT_TRUE(editor->isAncestorOf(window.focusWidget()));
    window.content()->sidebar()->setFocus();
    workspace.openFile(docURL(QStringLiteral("sub/b.md")));
    QCoreApplication::processEvents();
    EXPECT_TRUE(editor->isAncestorOf(window.focusWidget()));

    // Neither a second start, a restore from minimised nor a focus-mode toggle runs it again.
    window.start();
    window.showMinimized();
    window.showNormal();
    settings->setIsFocusMode(true);
    settings->setIsFocusMode(false);
    EXPECT_EQ(sync->calls.count(QStringLiteral("attach")), 1);

    // The window shown last is served; showing the first again takes the services back.
    MainWindow second(services());
    second.show();
    second.start();
    EXPECT_EQ(api->workspace(), &second.workspace());
    window.hide();
    window.show();
    EXPECT_EQ(api->workspace(), &workspace);
    EXPECT_EQ(sync->workspace(), &workspace);
    EXPECT_EQ(steps.count(QStringLiteral("restoreSession")), 1);
}

TEST_F(Window, titleFollowsTheDocumentAndClosingMinimisesUnlessQuitting)
{
    MainWindow window(services());
    WorkspaceState &workspace = window.workspace();
    EXPECT_EQ(window.size(), MainWindow::defaultSize);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Velto"));
    workspace.setText(QStringLiteral("x"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Velto — Bearbeitet"));
    ASSERT_TRUE(write(QStringLiteral("notes.md"), "# N\n"));
    workspace.setText(QString());
    workspace.openFile(docURL(QStringLiteral("notes.md")));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("notes.md"));
    workspace.setText(QStringLiteral("# N!\n"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("notes.md — Bearbeitet"));

    window.show();
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.windowState().testFlag(Qt::WindowMinimized));
    EXPECT_EQ(workspace.text(), QStringLiteral("# N!\n"));
    window.setClosesForReal(true);
    EXPECT_TRUE(window.close());
}

TEST_F(Window, focusModeShowsTheBareEditorWhoseCaretStillReachesTheWorkspace)
{
    MainWindow window(services());
    window.show();
    ContentView *content = window.content();
    EXPECT_EQ(content->sidebar()->minimumWidth(), ContentView::sidebarMinimumWidth);
    EXPECT_EQ(content->sidebar()->maximumWidth(), ContentView::sidebarMaximumWidth);
    EXPECT_EQ(content->splitter()->sizes().first(), ContentView::sidebarIdealWidth);

    settings->setIsFocusMode(true);
    EXPECT_FALSE(content->sidebar()->isVisible());
    EXPECT_TRUE(content->editorView()->focusMode());
    window.workspace().setText(QStringLiteral("abc"));
    content->editorView()->editor()->controller()->sync();
    sync->calls.clear();
    VeltoTextView *view = content->editorView()->editor()->textView();
    QTextCursor cursor = view->textCursor();
    cursor.setPosition(2);
    view->setTextCursor(cursor);
    view->setTextCursor(cursor);
    EXPECT_EQ(window.workspace().cursorPosition(), 2);
    EXPECT_EQ(sync->calls, QStringList {QStringLiteral("cursor")});
}

TEST_F(Window, syncHooksReportOnlyFilesInsideTheOpenFolderAndUploadOnlyWhilePaired)
{
    MainWindow window(services());
    WorkspaceState &workspace = window.workspace();
    window.show();
    window.start();
    ASSERT_TRUE(write(QStringLiteral("foo/in.md"), "x"));
    ASSERT_TRUE(write(QStringLiteral("foobar/out.md"), "y"));
    workspace.openFile(docURL(QStringLiteral("foo/in.md"))); // no folder open
    workspace.setFolderURL(docURL(QStringLiteral("foo")));
    workspace.openFile(docURL(QStringLiteral("foobar/out.md"))); // a sibling sharing the prefix
    workspace.openFile(docURL(QStringLiteral("foo/in.md")));
    EXPECT_EQ(sync->calls.filter(QStringLiteral("open:")), QStringList {"open:in.md"});
    EXPECT_TRUE(sync->calls.contains(QStringLiteral("text")));

    sync->calls.clear();
    workspace.save();
    sync->state().setFolderId(QStringLiteral("f"));
    sync->state().setFolderToken(QStringLiteral("t"));
    workspace.save();
    EXPECT_EQ(sync->calls, QStringList {QStringLiteral("upload:in.md")});

    // Going inactive keeps the caret of the open file.
    workspace.setCursorPosition(1);
    window.content()->saveCursorPosition();
    EXPECT_EQ(SessionRestore(*defaults).cursorPosition(docPath(QStringLiteral("foo/in.md"))), 1);
}

} // namespace
