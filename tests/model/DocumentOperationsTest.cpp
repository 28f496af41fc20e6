#include "ModelFakes.h"
#include "platform/BackgroundPool.h"
#include "support/TestSupport.h"

#include "core/model/SessionRestore.h"
#include "platform/L10n.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QThreadPool>

#include <sys/stat.h>

using namespace modeltest;

namespace {

class DocumentOperationsTest : public ModelTest
{
protected:
    SessionRestore session() { return SessionRestore(*defaults); }

    // Opens a file that must open at once.
    void open(const QString &relative)
    {
        auto task = ws->openFile(docURL(relative));
        ASSERT_TRUE(task.isReady());
        ASSERT_TRUE(QCoro::waitFor(task));
    }
};

} // namespace

TEST_F(DocumentOperationsTest, openingAFileFillsTheDocumentAndRemembersIt)
{
    ASSERT_TRUE(write("a.md", "# A\n"));
    ASSERT_TRUE(write("b.md", "# B\n"));
    session().setCursorPosition(3, docPath("b.md"));

    open("a.md");
    EXPECT_EQ(ws->text(), QStringLiteral("# A\n"));
    EXPECT_EQ(ws->savedText(), ws->text());
    EXPECT_EQ(ws->selectedFileURL(), docURL("a.md"));
    EXPECT_EQ(ws->restoreCursorPosition(), std::optional<qint64>(0)) << "0, not none";
    EXPECT_EQ(session().lastFilePath(), docPath("a.md"));
    EXPECT_EQ(ws->windowTitle(), QStringLiteral("a.md"));
    EXPECT_TRUE(history->entries().isEmpty()) << "opening a file adds no history entry";

    ws->setCursorPosition(2);
    open("b.md");
    EXPECT_EQ(session().cursorPosition(docPath("a.md")), 2) << "the caret of the file left";
    EXPECT_EQ(ws->restoreCursorPosition(), std::optional<qint64>(3));
    EXPECT_EQ(session().lastFilePath(), docPath("b.md"));
}

TEST_F(DocumentOperationsTest, openAndSaveKeepTheBytesOnDisk)
{
    const QByteArray samples[] = {
        QByteArray("line one\r\nline two\r\n"),
        QByteArray("\xEF\xBB\xBF# With BOM\n"),
        QByteArray("a\xC2\xA0"
                   "b\rc\xE2\x80\xA8"
                   "d\0e",
                   12),
        QByteArray(),
    };
    for (const QByteArray &bytes : samples) {
        ASSERT_TRUE(write("round.md", bytes));
        open("round.md");
        ASSERT_TRUE(ws->save());
        EXPECT_EQ(read("round.md"), bytes) << bytes.toHex().toStdString();
    }
    ASSERT_TRUE(write("bom.md", "\xEF\xBB\xBFx"));
    open("bom.md");
    EXPECT_EQ(ws->text(), QStringLiteral("\uFEFFx")) << "the byte order mark stays in the text";
}

TEST_F(DocumentOperationsTest, unreadableFilesChangeNothingButTheSaveAndCaretBeforeThem)
{
    ASSERT_TRUE(write("a.md", "old"));
    open("a.md");
    ws->setText(QStringLiteral("edited"));
    ws->setCursorPosition(4);

    const QByteArray invalid[] = {"\xC3\x28", "\xED\xA0\x80", "\xC0\xAF", "ok\xE2\x82"};
    for (const QByteArray &bytes : invalid) {
        ASSERT_TRUE(write("bad.md", bytes));
        auto task = ws->openFile(docURL("bad.md"));
        ASSERT_TRUE(task.isReady());
        EXPECT_FALSE(QCoro::waitFor(task));
    }
    EXPECT_EQ(ws->text(), QStringLiteral("edited"));
    EXPECT_EQ(ws->selectedFileURL(), docURL("a.md"));
    EXPECT_EQ(read("a.md"), QByteArray("edited")) << "the modified document was saved first";
    EXPECT_EQ(session().cursorPosition(docPath("a.md")), 4);
    EXPECT_EQ(session().lastFilePath(), docPath("a.md"));

    // Only regular files: a FIFO would block the window, a folder is no document.
    ASSERT_EQ(::mkfifo(QFile::encodeName(docPath("pipe")).constData(), 0600), 0);
    QDir().mkpath(docPath("folder"));
    for (const char *name : {"pipe", "folder", "missing.md"}) {
        auto task = ws->openFile(docURL(QString::fromLatin1(name)));
        ASSERT_TRUE(task.isReady()) << name;
        EXPECT_FALSE(QCoro::waitFor(task)) << name;
    }
    auto device = ws->openFile(QUrl::fromLocalFile(QStringLiteral("/dev/zero")));
    ASSERT_TRUE(device.isReady());
    EXPECT_FALSE(QCoro::waitFor(device));
    EXPECT_EQ(ws->selectedFileURL(), docURL("a.md"));
    EXPECT_EQ(ws->text(), QStringLiteral("edited"));
}

TEST_F(DocumentOperationsTest, saveWritesEvenWhenCleanAndReportsAFailedWrite)
{
    ASSERT_TRUE(write("a.md", "same"));
    open("a.md");
    QSignalSpy saved(ws.get(), &WorkspaceState::fileSaved);
    ASSERT_TRUE(write("a.md", "changed on disk"));
    EXPECT_TRUE(ws->save());
    EXPECT_EQ(read("a.md"), QByteArray("same"));
    ASSERT_EQ(saved.count(), 1);
    EXPECT_EQ(saved.at(0).at(0).toUrl(), docURL("a.md"));

    // Writes go over the existing file: its inode stays.
    struct stat before, after;
    ::stat(QFile::encodeName(docPath("a.md")).constData(), &before);
    ws->setText(QStringLiteral("more"));
    EXPECT_TRUE(ws->save());
    ::stat(QFile::encodeName(docPath("a.md")).constData(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_FALSE(ws->isModified());

    // A folder where the file was makes the write fail (also when running as root).
    ws->setText(QStringLiteral("unsaved"));
    QFile::remove(docPath("a.md"));
    QDir().mkpath(docPath("a.md"));
    EXPECT_FALSE(ws->save());
    EXPECT_TRUE(ws->isModified());
    EXPECT_EQ(ws->savedText(), QStringLiteral("more"));
    EXPECT_EQ(saved.count(), 2);

    // Nor is anything written into a FIFO (which would block until a reader came).
    ASSERT_EQ(::mkfifo(QFile::encodeName(docPath("pipe")).constData(), 0600), 0);
    ws->setSelectedFileURL(docURL("pipe"));
    EXPECT_FALSE(ws->save());
    EXPECT_TRUE(ws->isModified());
}

TEST_F(DocumentOperationsTest, aFailedSaveStopsOpenAndClose)
{
    ASSERT_TRUE(write("a.md", "A"));
    ASSERT_TRUE(write("b.md", "B"));
    open("a.md");
    ws->setText(QStringLiteral("A edited"));
    QFile::remove(docPath("a.md"));
    QDir().mkpath(docPath("a.md"));

    auto opening = ws->openFile(docURL("b.md"));
    ASSERT_TRUE(opening.isReady());
    EXPECT_FALSE(QCoro::waitFor(opening));
    auto closing = ws->closeFile();
    ASSERT_TRUE(closing.isReady());
    EXPECT_FALSE(QCoro::waitFor(closing));
    EXPECT_EQ(ws->text(), QStringLiteral("A edited"));
    EXPECT_EQ(ws->selectedFileURL(), docURL("a.md"));
    EXPECT_EQ(session().lastFilePath(), docPath("a.md"));
}

TEST_F(DocumentOperationsTest, savingUntitledAsksForANameWithoutBlocking)
{
    ws->setText(QStringLiteral("draft"));
    EXPECT_TRUE(ws->save());
    ASSERT_TRUE(panels.savePending());
    EXPECT_EQ(panels.proposedNames, QStringList {"Untitled.md"});
    EXPECT_FALSE(ws->save()) << "one save panel at a time";
    panels.answerSave(std::nullopt);
    EXPECT_FALSE(ws->selectedFileURL());
    EXPECT_TRUE(ws->isModified());

    QSignalSpy saved(ws.get(), &WorkspaceState::fileSaved);
    session().setLastFilePath(QStringLiteral("/remembered.md"));
    auto task = ws->saveAs();
    EXPECT_FALSE(task.isReady());
    ws->setText(QStringLiteral("draft, continued")); // the window stays usable meanwhile
    panels.answerSave(docURL("draft.md"));
    ASSERT_TRUE(task.isReady());
    EXPECT_TRUE(QCoro::waitFor(task));
    EXPECT_EQ(read("draft.md"), QByteArray("draft, continued"));
    EXPECT_EQ(ws->selectedFileURL(), docURL("draft.md"));
    EXPECT_FALSE(ws->isModified());
    EXPECT_EQ(saved.count(), 0) << "a save under a new name uploads nothing";
    EXPECT_TRUE(history->entries().isEmpty());
    EXPECT_EQ(session().lastFilePath(), QStringLiteral("/remembered.md"));

    // The next save-as proposes the current name; a failed write changes nothing.
    auto again = ws->saveAs();
    EXPECT_EQ(panels.proposedNames.last(), QStringLiteral("draft.md"));
    QDir().mkpath(docPath("taken.md"));
    panels.answerSave(docURL("taken.md"));
    EXPECT_FALSE(QCoro::waitFor(again));
    EXPECT_EQ(ws->selectedFileURL(), docURL("draft.md"));
}

TEST_F(DocumentOperationsTest, saveAsReloadsTheTreeOnlyForAFileInsideTheFolder)
{
    ASSERT_TRUE(write("proj/a.md", "x"));
    ws->setFolderURL(docURL("proj"));
    ws->reloadFileTree();
    ASSERT_TRUE(waitForTree());
    ASSERT_EQ(ws->fileTree().size(), 1);

    ws->setText(QStringLiteral("new"));
    auto inside = ws->saveAs();
    panels.answerSave(docURL("proj/new.md"));
    ASSERT_TRUE(QCoro::waitFor(inside));
    ASSERT_TRUE(waitForTree());
    EXPECT_EQ(ws->fileTree().size(), 2);

    QDir().mkpath(docPath("proj-old"));
    QSignalSpy reloads(ws.get(), &WorkspaceState::fileTreeReloaded);
    auto outside = ws->saveAs();
    panels.answerSave(docURL("proj-old/elsewhere.md"));
    EXPECT_TRUE(QCoro::waitFor(outside));
    background::pool().waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(reloads.count(), 0) << "a sibling folder with the same prefix is outside";
    EXPECT_EQ(ws->fileTree().size(), 2);
}

TEST_F(DocumentOperationsTest, openAndCloseOnAModifiedUntitledDocumentWaitForTheSavePanel)
{
    ASSERT_TRUE(write("b.md", "B"));
    ws->setText(QStringLiteral("untitled work"));

    auto opening = ws->openFile(docURL("b.md"));
    EXPECT_FALSE(opening.isReady());
    EXPECT_EQ(ws->text(), QStringLiteral("untitled work"))
        << "nothing replaced while the panel is up";
    panels.answerSave(std::nullopt);
    ASSERT_TRUE(opening.isReady());
    EXPECT_FALSE(QCoro::waitFor(opening));
    EXPECT_EQ(ws->text(), QStringLiteral("untitled work"));
    EXPECT_FALSE(ws->selectedFileURL());

    auto closing = ws->closeFile();
    EXPECT_FALSE(closing.isReady());
    panels.answerSave(std::nullopt);
    EXPECT_FALSE(QCoro::waitFor(closing));
    EXPECT_EQ(ws->text(), QStringLiteral("untitled work"));

    opening = ws->openFile(docURL("b.md"));
    ws->setCursorPosition(5);
    panels.answerSave(docURL("kept.md"));
    ASSERT_TRUE(opening.isReady());
    EXPECT_TRUE(QCoro::waitFor(opening));
    EXPECT_EQ(read("kept.md"), QByteArray("untitled work"));
    EXPECT_EQ(ws->selectedFileURL(), docURL("b.md"));
    EXPECT_EQ(ws->text(), QStringLiteral("B"));
    EXPECT_EQ(session().cursorPosition(docPath("kept.md")), 5) << "the saved file's caret is kept";

    ws->setText(QStringLiteral("B edited"));
    auto closeSaved = ws->closeFile();
    ASSERT_TRUE(closeSaved.isReady());
    EXPECT_TRUE(QCoro::waitFor(closeSaved));
    EXPECT_EQ(read("b.md"), QByteArray("B edited"));

    ws->setText(QStringLiteral("second draft"));
    closing = ws->closeFile();
    panels.answerSave(docURL("second.md"));
    EXPECT_TRUE(QCoro::waitFor(closing));
    EXPECT_EQ(read("second.md"), QByteArray("second draft"));
    EXPECT_EQ(ws->text(), QString());
    EXPECT_FALSE(ws->selectedFileURL());
}

TEST_F(DocumentOperationsTest, aPendingSaveAsOfAReplacedDocumentWritesItsSnapshotAndAdoptsNothing)
{
    ASSERT_TRUE(write("a.md", "A"));
    ASSERT_TRUE(write("b.md", "B"));
    open("a.md");
    ws->setText(QStringLiteral("A as it was"));
    auto saving = ws->saveAs();
    ws->setText(QStringLiteral("A"));
    ASSERT_FALSE(ws->isModified());
    open("b.md"); // the sidebar opens another file while the panel is up

    panels.answerSave(docURL("copy.md"));
    ASSERT_TRUE(saving.isReady());
    EXPECT_FALSE(QCoro::waitFor(saving));
    EXPECT_EQ(read("copy.md"), QByteArray("A as it was"));
    EXPECT_EQ(ws->selectedFileURL(), docURL("b.md"));
    EXPECT_EQ(ws->text(), QStringLiteral("B"));
    EXPECT_FALSE(ws->isModified());

    // The same after the document was closed.
    saving = ws->saveAs();
    auto closing = ws->closeFile();
    ASSERT_TRUE(QCoro::waitFor(closing));
    panels.answerSave(docURL("copy-b.md"));
    EXPECT_FALSE(QCoro::waitFor(saving));
    EXPECT_EQ(read("copy-b.md"), QByteArray("B"));
    EXPECT_FALSE(ws->selectedFileURL());
}

TEST_F(DocumentOperationsTest, closeFileKeepsTheFolderAndForgetsTheLastFile)
{
    ASSERT_TRUE(write("proj/a.md", "A"));
    ws->setFolderURL(docURL("proj"));
    ws->reloadFileTree();
    ASSERT_TRUE(waitForTree());
    open("proj/a.md");
    ws->setCursorPosition(1);
    auto closing = ws->closeFile();
    ASSERT_TRUE(QCoro::waitFor(closing));
    EXPECT_EQ(ws->folderURL(), docURL("proj"));
    EXPECT_EQ(ws->fileTree().size(), 1);
    EXPECT_EQ(ws->text(), QString());
    EXPECT_EQ(ws->savedText(), QString());
    EXPECT_FALSE(ws->selectedFileURL());
    EXPECT_EQ(ws->cursorPosition(), 1);
    EXPECT_FALSE(defaults->contains(QStringLiteral("lastFilePath")));
    EXPECT_EQ(session().cursorPosition(docPath("proj/a.md")), 1);
}

TEST_F(DocumentOperationsTest, openPanelAddsToTheHistoryAndExpandsAChosenFolder)
{
    ASSERT_TRUE(write("proj/a.md", "A"));
    ASSERT_TRUE(write("single.md", "S"));
    history->add(docURL("proj"), true);
    const QUuid id = history->entries().first().id;
    const double firstDate = history->entries().first().lastOpenedDate;

    now = now.addSecs(30);
    ws->showOpenPanel();
    EXPECT_EQ(panels.messages, QStringList {L10n::text("workspace.chooseFileOrFolder")});
    panels.answerOpen(docURL("proj"));
    EXPECT_EQ(ws->folderURL(), docURL("proj"));
    EXPECT_EQ(ws->expandedFolderID(), id);
    EXPECT_EQ(history->entries().size(), 1);
    EXPECT_GT(history->entries().first().lastOpenedDate, firstDate);
    EXPECT_EQ(session().lastFolderPath(), docPath("proj"));
    ASSERT_TRUE(waitForTree());
    EXPECT_EQ(ws->fileTree().size(), 1);

    ws->showOpenPanel();
    panels.answerOpen(docURL("single.md"));
    EXPECT_EQ(ws->folderURL(), docURL("proj")) << "a file leaves the folder alone";
    EXPECT_EQ(ws->selectedFileURL(), docURL("single.md"));
    ASSERT_EQ(history->entries().size(), 2);
    EXPECT_FALSE(history->entries().at(1).isDirectory);

    ws->showOpenPanel();
    panels.answerOpen(std::nullopt);
    EXPECT_EQ(ws->selectedFileURL(), docURL("single.md"));

    // A Latin-1 file is neither opened nor remembered, and the window hears why.
    ASSERT_TRUE(write("latin1.md",
                      "Gr\xfc\xdf"
                      "e"));
    QSignalSpy unreadable(ws.get(), &WorkspaceState::chosenFileUnreadable);
    ws->showOpenPanel();
    panels.answerOpen(docURL("latin1.md"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return unreadable.count() == 1; }));
    EXPECT_EQ(unreadable.first().first().toUrl(), docURL("latin1.md"));
    EXPECT_EQ(ws->selectedFileURL(), docURL("single.md"));
    EXPECT_EQ(history->entries().size(), 2);
}

TEST_F(DocumentOperationsTest, aChosenFolderWithoutHistoryEntryExpandsNoRow)
{
    QDir().mkpath(docPath("first"));
    QDir().mkpath(docPath("second"));
    ws->showOpenPanel();
    panels.answerOpen(docURL("first"));
    ASSERT_TRUE(ws->expandedFolderID());

    bookmarks.failMake = true;
    ws->showOpenPanel();
    panels.answerOpen(docURL("second"));
    EXPECT_EQ(ws->folderURL(), docURL("second"));
    EXPECT_FALSE(ws->expandedFolderID()) << "the first folder's row must not show this tree";
    EXPECT_EQ(history->entries().size(), 1);
}

TEST_F(DocumentOperationsTest, panelsCompletingAfterTheWorkspaceIsGoneDoNothing)
{
    ws->showOpenPanel();
    ws->setText(QStringLiteral("draft"));
    auto saving = ws->saveAs();
    ws.reset();
    panels.answerOpen(docURL(""));
    panels.answerSave(docURL("late.md"));
    EXPECT_TRUE(saving.isReady());
    EXPECT_FALSE(QCoro::waitFor(saving));
    EXPECT_FALSE(QFile::exists(docPath("late.md")));
    EXPECT_TRUE(history->entries().isEmpty());
}

TEST_F(DocumentOperationsTest, openFolderNeedsAUrlFromTheHistory)
{
    QDir().mkpath(docPath("proj"));
    EXPECT_FALSE(ws->openFolder(QUuid::createUuid()));
    EXPECT_FALSE(ws->folderURL());

    history->add(docURL("proj"), true);
    const QUuid id = history->entries().first().id;
    EXPECT_TRUE(ws->openFolder(id));
    EXPECT_EQ(ws->folderURL(), docURL("proj"));
    EXPECT_EQ(ws->expandedFolderID(), id);
    EXPECT_TRUE(history->activeAccess().contains(id));
    EXPECT_EQ(session().lastFolderPath(), docPath("proj"));
}

TEST_F(DocumentOperationsTest, restoreSessionReopensThroughTheHistory)
{
    ASSERT_TRUE(write("proj/a.md", "A"));
    history->add(docURL("proj"), true);
    history->add(docURL("proj/a.md"), false);
    session().setLastFolderPath(docPath("proj"));
    session().setLastFilePath(docPath("proj/a.md"));
    session().setCursorPosition(1, docPath("proj/a.md"));

    // A new run: entries known, nothing resolved yet.
    HistoryStore nextRun(*defaults, bookmarks);
    auto restored = std::make_unique<WorkspaceState>(
        WorkspaceState::Services {&nextRun, defaults.get(), &panels});
    nextRun.resolveAll();
    restored->restoreSession();
    EXPECT_EQ(restored->folderURL(), docURL("proj"));
    EXPECT_EQ(restored->expandedFolderID(), nextRun.entries().at(0).id);
    EXPECT_EQ(restored->selectedFileURL(), docURL("proj/a.md"));
    EXPECT_EQ(restored->restoreCursorPosition(), std::optional<qint64>(1));
}

TEST_F(DocumentOperationsTest, restoreSessionFallsBackToTheDiskOnlyForTheFile)
{
    ASSERT_TRUE(write("proj/a.md", "A"));
    session().setLastFolderPath(docPath("proj"));
    session().setLastFilePath(docPath("proj/a.md"));
    ws->restoreSession();
    EXPECT_FALSE(ws->folderURL()) << "a folder comes back only through its history entry";
    EXPECT_EQ(ws->selectedFileURL(), docURL("proj/a.md"));

    // An entry whose existence is unknown in this run (not resolved) also falls back.
    history->add(docURL("proj/a.md"), false);
    HistoryStore nextRun(*defaults, bookmarks);
    WorkspaceState again(WorkspaceState::Services {&nextRun, defaults.get(), &panels});
    again.restoreSession();
    EXPECT_EQ(again.selectedFileURL(), docURL("proj/a.md"));
    EXPECT_TRUE(bookmarks.started.isEmpty());

    // An entry known to be gone, with nothing at the path: nothing opens.
    QFile::remove(docPath("proj/a.md"));
    nextRun.resolveAll();
    WorkspaceState empty(WorkspaceState::Services {&nextRun, defaults.get(), &panels});
    empty.restoreSession();
    EXPECT_FALSE(empty.selectedFileURL());
}
