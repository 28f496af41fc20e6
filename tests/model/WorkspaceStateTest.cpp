#include "Velto/model/WorkspaceState.h"
#include "platform/L10n.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <random>

namespace {

QList<FileNode> sampleTree(const QString &deepName)
{
    return {FileNode(QUrl::fromLocalFile("/r/a"), "a", true,
                     QList<FileNode> {
                         FileNode(QUrl::fromLocalFile("/r/a/b"), "b", true,
                                  QList<FileNode> {FileNode(QUrl::fromLocalFile("/r/a/b/x.md"),
                                                            deepName, false)})}),
            FileNode(QUrl::fromLocalFile("/r/z.md"), "z.md", false)};
}

} // namespace

TEST(WorkspaceState, newInstanceIsAnEmptyUntitledDocument)
{
    WorkspaceState ws;
    EXPECT_FALSE(ws.folderURL());
    EXPECT_TRUE(ws.fileTree().isEmpty());
    EXPECT_FALSE(ws.selectedFileURL());
    EXPECT_EQ(ws.text(), QString());
    EXPECT_EQ(ws.savedText(), QString());
    EXPECT_EQ(ws.cursorPosition(), 0);
    EXPECT_FALSE(ws.restoreCursorPosition());
    EXPECT_FALSE(ws.expandedFolderID());
    EXPECT_EQ(ws.remoteEditGeneration(), 0);
    EXPECT_FALSE(ws.isModified());
    EXPECT_EQ(ws.windowTitle(), QStringLiteral("Velto"));
    EXPECT_EQ(ws.wordCount(), 0);
    EXPECT_EQ(ws.charCount(), 0);
    EXPECT_EQ(ws.readingTime(), QStringLiteral("1 min"));
}

TEST(WorkspaceState, typingIntoUntitledMarksModifiedButKeepsTitle)
{
    WorkspaceState ws;
    ws.setText(QStringLiteral("Hallo Welt"));
    EXPECT_TRUE(ws.isModified());
    EXPECT_EQ(ws.windowTitle(), QStringLiteral("Velto"));
    EXPECT_EQ(ws.wordCount(), 2);
    EXPECT_EQ(ws.charCount(), 10);
}

TEST(WorkspaceState, titleShowsTheFileNameAndTheEditedMarkWhileModified)
{
    WorkspaceState ws;
    ws.setSelectedFileURL(QUrl::fromLocalFile(QStringLiteral("/home/u/notes.md")));
    ws.setSavedText(QStringLiteral("# A"));
    ws.setText(QStringLiteral("# A!"));
    ASSERT_TRUE(L10n::has(QStringLiteral("content.edited")));
    EXPECT_EQ(ws.windowTitle(),
              QStringLiteral("notes.md \u2014 ") + L10n::text(QStringLiteral("content.edited")));
    ws.setSavedText(ws.text());
    EXPECT_EQ(ws.windowTitle(), QStringLiteral("notes.md"));
}

TEST(WorkspaceState, settersNotifyOnlyOnRealChanges)
{
    WorkspaceState ws;
    QSignalSpy text(&ws, &WorkspaceState::textChanged);
    QSignalSpy tree(&ws, &WorkspaceState::fileTreeChanged);
    QSignalSpy selected(&ws, &WorkspaceState::selectedFileURLChanged);
    QSignalSpy restore(&ws, &WorkspaceState::restoreCursorPositionChanged);
    QSignalSpy cursor(&ws, &WorkspaceState::cursorPositionChanged);
    QSignalSpy folder(&ws, &WorkspaceState::folderURLChanged);
    QSignalSpy expanded(&ws, &WorkspaceState::expandedFolderIDChanged);
    QSignalSpy remote(&ws, &WorkspaceState::remoteEditGenerationChanged);

    ws.setText(QString());
    ws.setSelectedFileURL(std::nullopt);
    ws.setRestoreCursorPosition(std::nullopt);
    ws.setCursorPosition(0);
    ws.setFolderURL(std::nullopt);
    ws.setExpandedFolderID(std::nullopt);
    ws.setRemoteEditGeneration(0);
    ws.setFileTree({});
    for (QSignalSpy *spy :
         {&text, &tree, &selected, &restore, &cursor, &folder, &expanded, &remote})
        EXPECT_EQ(spy->count(), 0);

    ws.setText(QStringLiteral("caf\u00e9"));
    ws.setSavedText(QStringLiteral("caf\u00e9"));
    ws.setText(QStringLiteral("cafe\u0301")); // canonically the same text
    EXPECT_EQ(text.count(), 1);
    EXPECT_FALSE(ws.isModified());

    ws.setRestoreCursorPosition(0);
    ws.setRestoreCursorPosition(0);
    EXPECT_EQ(restore.count(), 1);
    ws.setCursorPosition(7);
    ws.setCursorPosition(7);
    EXPECT_EQ(cursor.count(), 1);
    ws.setSelectedFileURL(QUrl::fromLocalFile("/a.md"));
    ws.setSelectedFileURL(QUrl::fromLocalFile("/a.md"));
    EXPECT_EQ(selected.count(), 1);
    const QUuid id = QUuid::createUuid();
    ws.setExpandedFolderID(id);
    ws.setExpandedFolderID(id);
    EXPECT_EQ(expanded.count(), 1);
    ws.setRemoteEditGeneration(1);
    EXPECT_EQ(remote.count(), 1);

    ws.setFileTree(sampleTree("x.md"));
    ws.setFileTree(sampleTree("x.md"));
    EXPECT_EQ(tree.count(), 1);
    ws.setFileTree(sampleTree("renamed.md"));
    EXPECT_EQ(tree.count(), 2);
    EXPECT_EQ(ws.fileTree().at(0).children->at(0).children->at(0).name,
              QStringLiteral("renamed.md"));
}

// Derived values are kept per revision; every way the texts change must reach them, including a
// canonically equal text that is stored without notice.
TEST(WorkspaceState, derivedValuesFollowEveryRevisionOfTheTexts)
{
    WorkspaceState ws;
    ws.setSavedText(QStringLiteral("caf\u00e9 bar"));
    ws.setText(QStringLiteral("caf\u00e9 bar"));
    EXPECT_FALSE(ws.isModified());
    EXPECT_EQ(ws.wordCount(), 2);

    const quint64 before = ws.textRevision();
    QSignalSpy text(&ws, &WorkspaceState::textChanged);
    ws.setText(QStringLiteral("cafe\u0301 bar")); // same text, other code units
    EXPECT_EQ(text.count(), 0);
    EXPECT_GT(ws.textRevision(), before);
    EXPECT_FALSE(ws.isModified());
    EXPECT_EQ(ws.charCount(), 8);

    ws.setText(QStringLiteral("caf\u00e9 bar baz"));
    EXPECT_TRUE(ws.isModified());
    EXPECT_EQ(ws.wordCount(), 3);
    EXPECT_EQ(ws.charCount(), 12);
    EXPECT_EQ(ws.windowTitle(), QStringLiteral("Velto"));

    ws.setSavedText(ws.text());
    EXPECT_FALSE(ws.isModified());
    const quint64 settled = ws.textRevision();
    ws.setText(ws.text());
    EXPECT_EQ(ws.textRevision(), settled);
}

// At every text change the workspace tells what the new text shares with the one of the change
// before, also across edits stored without notice, and nothing it cannot know.
TEST(WorkspaceState, sharedEndsSinceTheLastChangeAreTrulyShared)
{
    WorkspaceState ws;
    ws.setText(QStringLiteral("ab caf\u00e9 cd\nef gh"));
    std::mt19937 random(7);
    QString announced = ws.text();
    quint64 announcedRevision = ws.textRevision();
    int known = 0;
    QObject::connect(&ws, &WorkspaceState::textChanged, [&] {
        const SharedEnds ends = ws.sharedEndsSince(announcedRevision);
        const QString &now = ws.text();
        EXPECT_LE(ends.prefix, std::min(now.size(), announced.size()));
        EXPECT_LE(ends.suffix, std::min(now.size(), announced.size()));
        EXPECT_EQ(now.first(ends.prefix), announced.first(ends.prefix));
        EXPECT_EQ(now.last(ends.suffix), announced.last(ends.suffix));
        known += ends.prefix + ends.suffix > 0;
        EXPECT_EQ(ws.sharedEndsSince(announcedRevision - 1).prefix, 0);
        announced = now;
        announcedRevision = ws.textRevision();
    });
    const QStringList pieces = {"x", "", "\u00e9", "e\u0301", "\n", "yz"};
    for (int step = 0; step < 400; ++step) {
        const QString text = ws.text();
        const qsizetype at = qsizetype(random() % (text.size() + 1));
        const qsizetype removed = std::min<qsizetype>(text.size() - at, random() % 3);
        const QString inserted = pieces[int(random() % pieces.size())];
        const QString next = QString(text).replace(at, removed, inserted);
        if (step % 37 == 0)
            ws.setText(next); // a whole new text: nothing known
        else if (step % 41 == 0)
            ws.editText(next);
        else
            ws.setText(next, at, removed, inserted.size());
    }
    EXPECT_GT(known, 300);
}

TEST(WorkspaceState, keystrokesComparedAroundTheEditKeepTheModifiedStateExact)
{
    WorkspaceState ws;
    const QString saved = QStringLiteral("one caf\u00e9 two\nthree");
    ws.setSavedText(saved);
    ws.setText(saved);
    QSignalSpy text(&ws, &WorkspaceState::textChanged);
    auto type = [&ws](qsizetype at, qsizetype removed, const QString &inserted) {
        ws.setText(QString(ws.text()).replace(at, removed, inserted), at, removed, inserted.size());
    };
    type(4, 0, QStringLiteral("x"));
    EXPECT_TRUE(ws.isModified());
    type(4, 1, QString()); // taken back
    EXPECT_FALSE(ws.isModified());
    EXPECT_EQ(text.count(), 2);
    type(7, 1, QStringLiteral("e\u0301")); // the same text in another form: no change
    EXPECT_EQ(text.count(), 2);
    EXPECT_FALSE(ws.isModified());
    type(ws.text().size(), 0, QStringLiteral("!"));
    type(0, 0, QStringLiteral("!"));
    EXPECT_TRUE(ws.isModified());
    type(ws.text().size() - 1, 1, QString());
    type(0, 1, QString());
    EXPECT_FALSE(ws.isModified());
    // An edit that does not fit the text is compared whole.
    ws.setText(QStringLiteral("other"), 0, 100, 5);
    EXPECT_EQ(ws.text(), QStringLiteral("other"));
    EXPECT_TRUE(ws.isModified());
}
