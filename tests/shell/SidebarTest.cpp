#include "ShellFixture.h"

#include "Velto/shell/SidebarModel.h"
#include "Velto/shell/SidebarView.h"
#include "core/model/SessionRestore.h"

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
    // The row titled so, of that kind; a row past the end when there is none.
    int find(const QString &title, Kind kind) const
    {
        const auto &rows = model().rows();
        int i = 0;
        while (i < int(rows.size()) && !(rows[i].title == title && rows[i].kind == kind))
            ++i;
        return i;
    }
    const SidebarModel::Row &row(const QString &title, Kind kind) const
    {
        return model().rows().at(size_t(find(title, kind)));
    }
    bool clickFolderRowAndWait()
    {
        model().activate(find(QStringLiteral("docs"), Kind::historyFolder));
        return waitForTree();
    }
    void removeByContextMenu(SidebarView &sidebar, int row)
    {
        std::unique_ptr<QMenu> menu(sidebar.contextMenuForRow(row));
        ASSERT_TRUE(menu);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("Aus dem Verlauf entfernen"));
        menu->actions().first()->trigger();
    }

    std::unique_ptr<SidebarView> view;
};

TEST_F(Sidebar, emptyHistoryShowsTheEmptyStateEvenWithAFolderOpenAndAgesGroupTheRest)
{
    ws->setFolderURL(QUrl::fromLocalFile(tmp.filePath(QStringLiteral("docs"))));
    EXPECT_TRUE(view->showsEmptyState());
    view->emptyStateOpenButton()->click();
    EXPECT_TRUE(panels.openPending());
    panels.answerOpen(std::nullopt);

    ASSERT_TRUE(write(QStringLiteral("old.md"), "x"));
    ASSERT_TRUE(write(QStringLiteral("new.md"), "x"));
    const QDateTime today = now;
    now = today.addDays(-40);
    history->add(docURL(QStringLiteral("old.md")), false);
    now = today;
    history->add(docURL(QStringLiteral("new.md")), false);
    QStringList titles;
    for (const auto &r : model().rows())
        titles << (r.kind == Kind::sectionHeader ? u'[' + r.title + u']' : r.title);
    EXPECT_EQ(titles, (QStringList {"[Heute]", "new.md", "[Älter]", "old.md"}));
    EXPECT_FALSE(view->showsEmptyState());
    view->openButton()->click();
    EXPECT_TRUE(panels.openPending()) << "the open button is there in both states";
}

TEST_F(Sidebar, anEntryWithoutExistenceLooksMissingAndIgnoresClicksButCanBeRemoved)
{
    ASSERT_TRUE(write(QStringLiteral("a.md"), "# A\n"));
    history->add(docURL(QStringLiteral("a.md")), false);
    // A fresh store has loaded the entry but resolved nothing.
    HistoryStore loaded(*defaults, bookmarks, [this] { return now; });
    SidebarView missing(*ws, loaded, *defaults);
    const auto &entry = missing.model()->rows().at(1);
    EXPECT_EQ(entry.iconName, QStringLiteral("exclamationmark.triangle.fill"));
    EXPECT_TRUE(entry.warningIcon);
    EXPECT_EQ(entry.foreground, Foreground::tertiary);
    EXPECT_DOUBLE_EQ(entry.opacity, 0.6);
    missing.model()->activate(1);
    EXPECT_FALSE(ws->selectedFileURL());
    removeByContextMenu(missing, 1);
    EXPECT_TRUE(loaded.entries().isEmpty());
}

TEST_F(Sidebar, theExpandedFolderListsItsWholeTreeAndTheOpenFileIsHighlightedTwice)
{
    makeFolder();
    ASSERT_TRUE(write(QStringLiteral("sub/deeper/c.txt"), "x"));
    history->add(docURL(QStringLiteral("a.md")), false);
    ASSERT_TRUE(clickFolderRowAndWait());
    const auto &folder = row(QStringLiteral("docs"), Kind::historyFolder);
    EXPECT_EQ(folder.iconName, QStringLiteral("folder.fill"));
    EXPECT_TRUE(folder.medium && folder.foreground == Foreground::primary);
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
    EXPECT_EQ(view->contextMenuForRow(find(QStringLiteral("a.md"), Kind::treeRow)), nullptr);

    // A tree click opens the file without the history; both of its rows are highlighted.
    const qsizetype entries = history->entries().size();
    model().activate(find(QStringLiteral("a.md"), Kind::treeRow));
    EXPECT_EQ(ws->selectedFileURL(), docURL(QStringLiteral("a.md")));
    EXPECT_EQ(history->entries().size(), entries);
    EXPECT_TRUE(row(QStringLiteral("a.md"), Kind::treeRow).medium);
    EXPECT_TRUE(row(QStringLiteral("a.md"), Kind::historyFile).medium);
    EXPECT_FALSE(row(QStringLiteral("b.md"), Kind::treeRow).medium);
}

TEST_F(Sidebar, clickingTheExpandedFolderClosesItAndRemovingItsEntryLeavesItOpen)
{
    makeFolder();
    ASSERT_TRUE(clickFolderRowAndWait());
    model().activate(find(QStringLiteral("a.md"), Kind::treeRow));
    SessionRestore session(*defaults);
    model().activate(find(QStringLiteral("docs"), Kind::historyFolder));
    EXPECT_FALSE(ws->expandedFolderID() || ws->folderURL() || session.lastFolderPath());
    EXPECT_TRUE(ws->fileTree().isEmpty());
    EXPECT_EQ(ws->selectedFileURL(), docURL(QStringLiteral("a.md"))) << "the document stays";
    EXPECT_EQ(row(QStringLiteral("docs"), Kind::historyFolder).iconName, QStringLiteral("folder"));

    ASSERT_TRUE(clickFolderRowAndWait());
    EXPECT_TRUE(session.lastFolderPath());
    removeByContextMenu(*view, find(QStringLiteral("docs"), Kind::historyFolder));
    EXPECT_TRUE(view->showsEmptyState());
    EXPECT_TRUE(ws->folderURL());
    EXPECT_FALSE(ws->fileTree().isEmpty());
}

TEST(SidebarIcons, extensionsAreMatchedWithoutRegardToCase)
{
    const QList<std::pair<const char *, const char *>> icons {
        {"README.MD", "doc.richtext"},
        {"a.mdown", "doc.richtext"},
        {"config.YAML", "doc.badge.gearshape"},
        {"notes", "doc"},
        {"image.png", "doc"},
        {"App.swift", "swift"}};
    for (const auto &[name, icon] : icons)
        EXPECT_EQ(SidebarModel::iconName(QString::fromLatin1(name)), QString::fromLatin1(icon));
}

} // namespace
