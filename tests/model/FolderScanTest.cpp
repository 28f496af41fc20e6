#include "ModelFakes.h"
#include "platform/BackgroundPool.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QThreadPool>

#include <unistd.h>

using namespace modeltest;

namespace {

class FolderScanTest : public ModelTest
{
protected:
    QList<FileNode> scan(const QString &relative = {})
    {
        return WorkspaceState::scanDirectory(docURL(relative));
    }
    void mkdir(const QString &relative) { ASSERT_TRUE(QDir().mkpath(docPath(relative))); }
};

QStringList names(const QList<FileNode> &nodes)
{
    QStringList out;
    for (const FileNode &n : nodes)
        out << n.name;
    return out;
}

} // namespace

TEST_F(FolderScanTest, emptyMissingAndNonFolderTargetsGiveAnEmptyTree)
{
    mkdir("empty");
    EXPECT_TRUE(scan("empty").isEmpty());
    EXPECT_TRUE(scan("missing").isEmpty());
    ASSERT_TRUE(write("plain.md", "x"));
    EXPECT_TRUE(scan("plain.md").isEmpty());
    EXPECT_TRUE(WorkspaceState::scanDirectory(QUrl("https://example.invalid/")).isEmpty());
}

TEST_F(FolderScanTest, hiddenAndExcludedNamesAreLeftOutEverythingElseIsListed)
{
    for (const char *name : {".env", ".gitignore", "DerivedData", "photo.png", "paper.pdf",
                             "Makefile", "notes.md", "sub/.hidden.md", "sub/keep.md"})
        ASSERT_TRUE(write(QString::fromLatin1(name), "x"));
    for (const char *name : {"node_modules/pkg", ".git/objects", "__pycache__", ".svn", ".hg",
                             ".build", "Node_Modules"})
        mkdir(QString::fromLatin1(name));

    const QList<FileNode> tree = scan();
    EXPECT_EQ(
        names(tree),
        (QStringList {"Node_Modules", "sub", "Makefile", "notes.md", "paper.pdf", "photo.png"}));
    const FileNode &sub = tree.at(1);
    EXPECT_TRUE(sub.isDirectory);
    ASSERT_TRUE(sub.children);
    EXPECT_EQ(names(*sub.children), QStringList {"keep.md"});
    EXPECT_EQ(sub.url, docURL("sub"));
    EXPECT_EQ(sub.children->first().url, docURL("sub/keep.md"));
    EXPECT_FALSE(tree.at(2).children) << "files carry no list";
    EXPECT_FALSE(tree.at(2).isDirectory);
}

TEST_F(FolderScanTest, foldersFirstThenCaseInsensitiveNonNumericOrder)
{
    mkdir("Zeta");
    mkdir("alpha-folder");
    for (const char *name : {"file2.md", "Beta.md", "file10.md", "alpha.md", "B.md", "b.md"})
        ASSERT_TRUE(write(QString::fromLatin1(name), "x"));
    EXPECT_EQ(names(scan()),
              (QStringList {"alpha-folder", "Zeta", "alpha.md", "B.md", "b.md", "Beta.md",
                            "file10.md", "file2.md"}));
}

TEST_F(FolderScanTest, descendsEightLevelsAndListsTheLastFolderWithoutChildren)
{
    QString chain;
    for (int level = 1; level <= 11; ++level)
        chain += QStringLiteral("/d%1").arg(level);
    mkdir(chain.mid(1));
    const QList<FileNode> tree = scan();
    const FileNode *node = &tree.first();
    for (int level = 1; level < 8; ++level) {
        EXPECT_EQ(node->name, QStringLiteral("d%1").arg(level));
        ASSERT_TRUE(node->children);
        ASSERT_EQ(node->children->size(), 1) << level;
        node = &node->children->first();
    }
    EXPECT_EQ(node->name, QStringLiteral("d8"));
    ASSERT_TRUE(node->children);
    EXPECT_TRUE(node->children->isEmpty());
    EXPECT_TRUE(WorkspaceState::scanDirectory(docURL("d1"), 8).isEmpty());
}

TEST_F(FolderScanTest, aLinkToAFolderIsAFileAndIsNotFollowed)
{
    mkdir("real/inner");
    ASSERT_TRUE(QFile::link(docPath("real"), docPath("link")));
    ASSERT_TRUE(QFile::link(docPath("nowhere"), docPath("broken")));
    const QList<FileNode> tree = scan();
    EXPECT_EQ(names(tree), (QStringList {"real", "broken", "link"}));
    EXPECT_FALSE(tree.at(2).isDirectory);
    EXPECT_FALSE(tree.at(2).children);
}

TEST_F(FolderScanTest, anUnreadableSubfolderIsListedEmpty)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    ASSERT_TRUE(write("locked/secret.md", "x"));
    ASSERT_TRUE(QFile::setPermissions(docPath("locked"), QFileDevice::WriteOwner));
    const QList<FileNode> tree = scan();
    QFile::setPermissions(docPath("locked"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_EQ(tree.size(), 1);
    ASSERT_TRUE(tree.first().children);
    EXPECT_TRUE(tree.first().children->isEmpty());
}

TEST_F(FolderScanTest, reloadPublishesTheTreeAndStaysQuietWhenNothingChanged)
{
    ASSERT_TRUE(write("a.md", "x"));
    QSignalSpy changes(ws.get(), &WorkspaceState::fileTreeChanged);
    ws->setFolderURL(docURL(""));
    ws->reloadFileTree();
    EXPECT_TRUE(ws->fileTree().isEmpty()) << "the scan runs in the background";
    ASSERT_TRUE(waitForTree());
    EXPECT_EQ(names(ws->fileTree()), QStringList {"a.md"});
    EXPECT_EQ(changes.count(), 1);

    ws->reloadFileTree();
    ASSERT_TRUE(waitForTree());
    EXPECT_EQ(changes.count(), 1);

    ws->setFolderURL(std::nullopt);
    ws->reloadFileTree();
    EXPECT_TRUE(ws->fileTree().isEmpty()) << "no folder empties the tree at once";
}

TEST_F(FolderScanTest, onlyTheLatestScanOfTheOpenFolderFillsTheTree)
{
    ASSERT_TRUE(write("one/a.md", "x"));
    ASSERT_TRUE(write("two/b.md", "x"));
    ws->setFolderURL(docURL("one"));
    ws->reloadFileTree();
    ws->setFolderURL(docURL("two"));
    ws->reloadFileTree();
    ASSERT_TRUE(waitForTree());
    background::pool().waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(names(ws->fileTree()), QStringList {"b.md"});

    // The sidebar closes a folder through the fields while a scan is still running.
    ws->reloadFileTree();
    ws->setExpandedFolderID(std::nullopt);
    ws->setFolderURL(std::nullopt);
    ws->setFileTree({});
    background::pool().waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(ws->fileTree().isEmpty());

    // The workspace going away drops its scan.
    ws->setFolderURL(docURL("one"));
    ws->reloadFileTree();
    ws.reset();
    background::pool().waitForDone();
    QCoreApplication::processEvents();
}
