#include "ShellFixture.h"

#include "Velto/shell/SidebarModel.h"
#include "Velto/shell/SidebarView.h"
#include "core/model/SessionRestore.h"
#include "support/TestSupport.h"

#include <QMenu>
#include <QPushButton>
#include <QToolButton>

using namespace shelltest;
using Kind = SidebarModel::Kind;
using Foreground = SidebarModel::Foreground;

namespace {

class Sidebar : public ShellTest
{
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        view = std::make_unique<SidebarView>(*ws, *history, *defaults);
    }
    void TearDown() override
    {
        view.reset();
        ShellTest::TearDown();
    }
    SidebarModel &model() const { return *view->model(); }
    const SidebarModel::Row &row(int i) const { return model().rows().at(size_t(i)); }
    int find(const QString &title, Kind kind) const
    {
        for (size_t i = 0; i < model().rows().size(); ++i) {
            if (model().rows()[i].title == title && model().rows()[i].kind == kind)
                return int(i);
        }
        return -1;
    }
    // Clicks the folder row and waits for its tree.
    bool openFolderRow()
    {
        model().activate(find(QStringLiteral("docs"), Kind::historyFolder));
        return waitForTree();
    }

    std::unique_ptr<SidebarView> view;
};

TEST_F(Sidebar, emptyHistoryShowsTheEmptyStateEvenWithAFolderOpenAndBothOfferTheOpenPanel)
{
    ws->setFolderURL(QUrl::fromLocalFile(tmp.filePath(QStringLiteral("docs"))));
    EXPECT_TRUE(view->showsEmptyState());
    view->emptyStateOpenButton()->click();
    EXPECT_TRUE(panels.openPending());
    panels.answerOpen(std::nullopt);

    makeFolder();
    EXPECT_FALSE(view->showsEmptyState());
    view->openButton()->click();
    EXPECT_TRUE(panels.openPending());
    EXPECT_EQ(view->openButton()->toolTip(), QStringLiteral("Datei oder Ordner öffnen"));
}

TEST_F(Sidebar, sectionsFollowTheAgeGroupsNewestFirst)
{
    ASSERT_TRUE(write(QStringLiteral("old.md"), "x"));
    ASSERT_TRUE(write(QStringLiteral("new.md"), "x"));
    ASSERT_TRUE(write(QStringLiteral("yesterday.md"), "x"));
    const QDateTime today = now;
    now = today.addDays(-40);
    history->add(docURL(QStringLiteral("old.md")), false);
    now = today.addDays(-1);
    history->add(docURL(QStringLiteral("yesterday.md")), false);
    now = today;
    history->add(docURL(QStringLiteral("new.md")), false);
    QStringList titles;
    for (const auto &r : model().rows())
        titles << (r.kind == Kind::sectionHeader ? u'[' + r.title + u']' : r.title);
    EXPECT_EQ(
        titles,
        (QStringList {"[Heute]", "new.md", "[Gestern]", "yesterday.md", "[Älter]", "old.md"}));
}

TEST_F(Sidebar, anEntryWithoutExistenceLooksMissingAndIgnoresClicksButCanBeRemoved)
{
    ASSERT_TRUE(write(QStringLiteral("a.md"), "# A\n"));
    history->add(docURL(QStringLiteral("a.md")), false);
    // A fresh store has loaded the entry but resolved nothing.
    HistoryStore loaded(*defaults, bookmarks, [this] { return now; });
    SidebarView missing(*ws, loaded, *defaults);
    const auto &rows = missing.model()->rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[1].warningIcon);
    EXPECT_EQ(rows[1].iconName, QStringLiteral("exclamationmark.triangle.fill"));
    EXPECT_EQ(rows[1].foreground, Foreground::tertiary);
    EXPECT_DOUBLE_EQ(rows[1].opacity, 0.6);
    missing.model()->activate(1);
    EXPECT_FALSE(ws->selectedFileURL());

    std::unique_ptr<QMenu> menu(missing.contextMenuForRow(1));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("Aus dem Verlauf entfernen"));
    menu->actions().first()->trigger();
    EXPECT_TRUE(loaded.entries().isEmpty());
    EXPECT_TRUE(missing.showsEmptyState());
}

TEST_F(Sidebar, theExpandedFolderListsItsWholeTreeIndentedWithDirectoriesDisabled)
{
    makeFolder();
    ASSERT_TRUE(write(QStringLiteral("sub/deeper/c.txt"), "x"));
    ASSERT_TRUE(openFolderRow());
    const int folder = find(QStringLiteral("docs"), Kind::historyFolder);
    EXPECT_TRUE(row(folder).expanded);
    EXPECT_EQ(row(folder).iconName, QStringLiteral("folder.fill"));
    EXPECT_EQ(row(folder).foreground, Foreground::primary);
    EXPECT_TRUE(row(folder).medium);

    QStringList tree;
    for (const auto &r : model().rows()) {
        if (r.kind == Kind::treeRow)
            tree << QStringLiteral("%1:%2:%3:%4")
                        .arg(r.title, r.iconName)
                        .arg(r.indent)
                        .arg(r.enabled ? "on" : "off");
    }
    EXPECT_EQ(
        tree,
        (QStringList {"sub:folder.fill:8:off", "deeper:folder.fill:24:off", "c.txt:doc.text:40:on",
                      "b.md:doc.richtext:24:on", "a.md:doc.richtext:8:on"}));
    EXPECT_FALSE(model()
                     .flags(model().index(find(QStringLiteral("sub"), Kind::treeRow)))
                     .testFlag(Qt::ItemIsEnabled));
    EXPECT_EQ(view->contextMenuForRow(find(QStringLiteral("a.md"), Kind::treeRow)), nullptr);
}

TEST_F(Sidebar, theOpenFileIsHighlightedByItsHistoryRowAndItsTreeRow)
{
    makeFolder();
    history->add(docURL(QStringLiteral("a.md")), false);
    ASSERT_TRUE(openFolderRow());
    const qsizetype entries = history->entries().size();

    // A tree click opens the file without touching the history.
    model().activate(find(QStringLiteral("a.md"), Kind::treeRow));
    EXPECT_EQ(ws->selectedFileURL(), docURL(QStringLiteral("a.md")));
    EXPECT_EQ(history->entries().size(), entries);
    const auto &treeRow = row(find(QStringLiteral("a.md"), Kind::treeRow));
    const auto &historyRow = row(find(QStringLiteral("a.md"), Kind::historyFile));
    EXPECT_TRUE(treeRow.medium);
    EXPECT_EQ(treeRow.foreground, Foreground::primary);
    EXPECT_TRUE(historyRow.medium);
    EXPECT_EQ(historyRow.foreground, Foreground::primary);
    EXPECT_FALSE(row(find(QStringLiteral("b.md"), Kind::treeRow)).medium);

    // A history click opens through the history's access.
    ws->closeFile();
    model().activate(find(QStringLiteral("a.md"), Kind::historyFile));
    EXPECT_EQ(ws->text(), QStringLiteral("# A\n"));
    EXPECT_FALSE(bookmarks.started.isEmpty());
}

TEST_F(Sidebar, clickingTheExpandedFolderClosesItAndClickingAgainReopensIt)
{
    makeFolder();
    ASSERT_TRUE(openFolderRow());
    model().activate(find(QStringLiteral("a.md"), Kind::treeRow));
    SessionRestore session(*defaults);
    ASSERT_TRUE(session.lastFolderPath());

    model().activate(find(QStringLiteral("docs"), Kind::historyFolder));
    EXPECT_FALSE(ws->expandedFolderID());
    EXPECT_FALSE(ws->folderURL());
    EXPECT_TRUE(ws->fileTree().isEmpty());
    EXPECT_FALSE(session.lastFolderPath());
    EXPECT_EQ(find(QStringLiteral("a.md"), Kind::treeRow), -1);
    EXPECT_EQ(ws->selectedFileURL(), docURL(QStringLiteral("a.md"))) << "the document stays";
    EXPECT_EQ(row(find(QStringLiteral("docs"), Kind::historyFolder)).iconName,
              QStringLiteral("folder"));

    ASSERT_TRUE(openFolderRow());
    EXPECT_NE(find(QStringLiteral("a.md"), Kind::treeRow), -1);
    EXPECT_TRUE(session.lastFolderPath());
}

TEST_F(Sidebar, removingTheExpandedFoldersEntryLeavesTheFolderOpen)
{
    makeFolder();
    ASSERT_TRUE(openFolderRow());
    std::unique_ptr<QMenu> menu(
        view->contextMenuForRow(find(QStringLiteral("docs"), Kind::historyFolder)));
    ASSERT_TRUE(menu);
    menu->actions().first()->trigger();
    EXPECT_TRUE(history->entries().isEmpty());
    EXPECT_TRUE(view->showsEmptyState());
    EXPECT_TRUE(ws->folderURL());
    EXPECT_FALSE(ws->fileTree().isEmpty());
}

TEST(SidebarIcons, extensionsAreMatchedWithoutRegardToCase)
{
    EXPECT_EQ(SidebarModel::iconName(QStringLiteral("README.MD")), QStringLiteral("doc.richtext"));
    EXPECT_EQ(SidebarModel::iconName(QStringLiteral("a.mdown")), QStringLiteral("doc.richtext"));
    EXPECT_EQ(SidebarModel::iconName(QStringLiteral("config.YAML")),
              QStringLiteral("doc.badge.gearshape"));
    EXPECT_EQ(SidebarModel::iconName(QStringLiteral("notes")), QStringLiteral("doc"));
    EXPECT_EQ(SidebarModel::iconName(QStringLiteral("image.png")), QStringLiteral("doc"));
    EXPECT_EQ(SidebarModel::iconName(QStringLiteral("App.swift")), QStringLiteral("swift"));
}

} // namespace
