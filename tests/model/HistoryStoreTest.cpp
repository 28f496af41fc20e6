#include "ModelFakes.h"
#include "support/TestSupport.h"

#include "platform/Bookmarks.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

using namespace modeltest;

namespace {

class HistoryStoreTest : public ModelTest
{
protected:
    QUrl folderURL(const QString &name)
    {
        QDir().mkpath(docPath(name));
        return docURL(name);
    }
    std::optional<QByteArray> stored() const { return defaults->data(HistoryStore::key); }
};

} // namespace

TEST_F(HistoryStoreTest, addingAKnownPathRefreshesItInPlace)
{
    QSignalSpy entriesSpy(history.get(), &HistoryStore::entriesChanged);
    const QUrl notes = folderURL("notes");
    history->add(notes, true);
    ASSERT_EQ(history->entries().size(), 1);
    const HistoryEntry first = history->entries().first();
    EXPECT_EQ(first.path, docPath("notes"));
    EXPECT_TRUE(first.isDirectory);
    EXPECT_EQ(history->resolvedURLs().value(first.id), notes);
    EXPECT_TRUE(history->existsStatus().value(first.id));
    EXPECT_TRUE(history->activeAccess().isEmpty()) << "adding starts no access";

    now = now.addSecs(60);
    history->add(QUrl::fromLocalFile(docPath("notes") + "/"), false);
    ASSERT_EQ(history->entries().size(), 1);
    const HistoryEntry second = history->entries().first();
    EXPECT_EQ(second.id, first.id);
    EXPECT_TRUE(second.isDirectory) << "the flag stays as first recorded";
    EXPECT_EQ(second.lastOpenedDate, first.lastOpenedDate + 60);
    EXPECT_NE(second.bookmarkData, first.bookmarkData);
    EXPECT_EQ(entriesSpy.count(), 2);

    // A bookmark that cannot be renewed keeps the old one.
    bookmarks.failMake = true;
    history->add(notes, true);
    EXPECT_EQ(history->entries().first().bookmarkData, second.bookmarkData);

    // Persisted as a JSON array of the entry objects, and loaded by the next instance.
    HistoryStore reloaded(*defaults, bookmarks);
    EXPECT_EQ(reloaded.entries(), history->entries());
    EXPECT_TRUE(reloaded.resolvedURLs().isEmpty());
    EXPECT_TRUE(reloaded.existsStatus().isEmpty());
    const QJsonArray array = QJsonDocument::fromJson(*stored()).array();
    ASSERT_EQ(array.size(), 1);
    EXPECT_EQ(array.at(0).toObject().value("path").toString(), docPath("notes"));
}

TEST_F(HistoryStoreTest, observersOfTheListSeeTheNewRowsUrlAndFlagAlready)
{
    const QUrl notes = folderURL("notes");
    std::optional<bool> existsWhenListed;
    std::optional<QUrl> urlWhenListed;
    QObject::connect(history.get(), &HistoryStore::entriesChanged, history.get(), [&] {
        if (history->entries().isEmpty())
            return;
        const QUuid id = history->entries().last().id;
        existsWhenListed = history->existsStatus().value(id, false);
        urlWhenListed = history->resolvedURLs().value(id);
    });
    history->add(notes, true);
    EXPECT_EQ(existsWhenListed, true);
    EXPECT_EQ(urlWhenListed, notes);
}

TEST_F(HistoryStoreTest, pathsDifferingInCaseAreDistinctAndUnbookmarkableItemsAreNotRecorded)
{
    history->add(QUrl::fromLocalFile("/x/Notes.md"), false);
    history->add(QUrl::fromLocalFile("/x/notes.md"), false);
    EXPECT_EQ(history->entries().size(), 2);
    // The same path in another Unicode form is the same item.
    history->add(QUrl::fromLocalFile(QStringLiteral("/x/caf\u00e9.md")), false);
    history->add(QUrl::fromLocalFile(QStringLiteral("/x/cafe\u0301.md")), false);
    EXPECT_EQ(history->entries().size(), 3);

    defaults->remove(HistoryStore::key);
    bookmarks.failMake = true;
    history->add(QUrl::fromLocalFile("/x/new.md"), false);
    EXPECT_EQ(history->entries().size(), 3);
    EXPECT_FALSE(stored()) << "nothing recorded, nothing saved";
}

TEST_F(HistoryStoreTest, removeEndsAccessFirstAndAlwaysSaves)
{
    const QUrl notes = folderURL("notes");
    history->add(notes, true);
    const QUuid id = history->entries().first().id;
    ASSERT_EQ(history->startAccess(id), notes);
    EXPECT_TRUE(history->activeAccess().contains(id));

    defaults->setData(HistoryStore::key, "sentinel");
    history->remove(QUuid::createUuid());
    EXPECT_EQ(history->entries().size(), 1);
    EXPECT_EQ(stored(), HistoryEntry::encodeList(history->entries())) << "saved although unchanged";

    history->remove(id);
    EXPECT_EQ(bookmarks.stopped, QList<QUrl> {notes});
    EXPECT_TRUE(history->entries().isEmpty());
    EXPECT_FALSE(history->resolvedURLs().contains(id));
    EXPECT_FALSE(history->existsStatus().contains(id));
    EXPECT_TRUE(history->activeAccess().isEmpty());
    EXPECT_EQ(stored(), QByteArray("[]"));
}

TEST_F(HistoryStoreTest, resolveAllRefreshesUrlsAndExistenceFlags)
{
    history->resolveAll();
    EXPECT_FALSE(stored()) << "an empty list saves nothing";

    const QUrl kept = folderURL("kept");
    ASSERT_TRUE(write("gone.md", "x"));
    history->add(kept, true);
    history->add(docURL("gone.md"), false);
    const QUuid keptID = history->entries().at(0).id;
    const QUuid goneID = history->entries().at(1).id;
    QFile::remove(docPath("gone.md"));

    HistoryStore fresh(*defaults, bookmarks);
    EXPECT_FALSE(fresh.startAccess(keptID)) << "nothing is known before resolving";
    bookmarks.reportStale = true;
    const QByteArray oldBookmark = fresh.entries().at(0).bookmarkData;
    fresh.resolveAll();
    EXPECT_EQ(fresh.resolvedURLs().value(keptID), kept);
    EXPECT_TRUE(fresh.existsStatus().value(keptID));
    EXPECT_EQ(fresh.resolvedURLs().value(goneID), docURL("gone.md"));
    EXPECT_FALSE(fresh.existsStatus().value(goneID, true));
    EXPECT_NE(fresh.entries().at(0).bookmarkData, oldBookmark) << "a stale bookmark is renewed";

    // A bookmark that no longer resolves keeps the URL of earlier in the run.
    bookmarks.failResolve = true;
    fresh.resolveAll();
    EXPECT_EQ(fresh.resolvedURLs().value(keptID), kept);
    EXPECT_FALSE(fresh.existsStatus().value(keptID, true));
    EXPECT_EQ(fresh.entries().size(), 2);
}

TEST_F(HistoryStoreTest, accessIsStartedOnceAndARefusalIsRetried)
{
    const QUrl notes = folderURL("notes");
    history->add(notes, true);
    const QUuid id = history->entries().first().id;
    EXPECT_FALSE(history->startAccess(QUuid::createUuid()));

    bookmarks.refuseAccess = true;
    EXPECT_EQ(history->startAccess(id), notes) << "the URL comes back even when refused";
    EXPECT_FALSE(history->activeAccess().contains(id));
    bookmarks.refuseAccess = false;
    EXPECT_EQ(history->startAccess(id), notes);
    EXPECT_EQ(history->startAccess(id), notes);
    EXPECT_EQ(bookmarks.started.size(), 2);
    EXPECT_TRUE(history->activeAccess().contains(id));

    history->stopAccess(id);
    history->stopAccess(id);
    EXPECT_EQ(bookmarks.stopped.size(), 1);
}

TEST_F(HistoryStoreTest, groupedEntriesAreNewestFirstInSectionOrder)
{
    EXPECT_TRUE(history->groupedEntries().isEmpty());
    const QDateTime today = now;
    for (const auto &[name, when] : std::initializer_list<std::pair<const char *, QDateTime>> {
             {"/h/old.md", today.addDays(-40)},
             {"/h/morning.md", today.addSecs(-3 * 3600)},
             {"/h/week.md", today.addDays(-3)},
             {"/h/noon.md", today},
             {"/h/also-noon.md", today},
         }) {
        now = when;
        history->add(QUrl::fromLocalFile(QString::fromLatin1(name)), false);
    }
    now = today;
    const auto groups = history->groupedEntries();
    ASSERT_EQ(groups.size(), 3);
    EXPECT_EQ(groups.at(0).first, HistoryDateGroup::today);
    QStringList todayNames;
    for (const HistoryEntry &e : groups.at(0).second)
        todayNames << e.name();
    // Equal dates keep the order of the list.
    EXPECT_EQ(todayNames, (QStringList {"noon.md", "also-noon.md", "morning.md"}));
    EXPECT_EQ(groups.at(1).first, HistoryDateGroup::last7Days);
    EXPECT_EQ(groups.at(2).first, HistoryDateGroup::older);
    EXPECT_EQ(groups.at(2).second.first().name(), QStringLiteral("old.md"));
}

TEST_F(HistoryStoreTest, aMalformedStoredListLoadsEmptyAndIsReplacedOnTheNextSave)
{
    QJsonObject good
        = QJsonDocument::fromJson(
              HistoryEntry::encodeList({HistoryEntry(QUuid::createUuid(), "/a", false, "b", 1)}))
              .array()
              .at(0)
              .toObject();
    QJsonObject bad = good;
    bad.remove("bookmarkData");
    const QByteArray malformed = QJsonDocument(QJsonArray {good, bad}).toJson();
    defaults->setData(HistoryStore::key, malformed);

    HistoryStore store(*defaults, bookmarks);
    EXPECT_TRUE(store.entries().isEmpty());
    EXPECT_EQ(stored(), malformed) << "left untouched until the next save";
    store.add(QUrl::fromLocalFile("/h/new.md"), false);
    const auto decoded = HistoryEntry::decodeList(*stored());
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 1);
    EXPECT_EQ(decoded->first().path, QStringLiteral("/h/new.md"));
}

TEST_F(HistoryStoreTest, pathBookmarksNoticeAReplacedItem)
{
    PathBookmarks paths;
    EXPECT_FALSE(paths.make(docURL("missing.md")));
    EXPECT_FALSE(paths.make(QUrl("https://example.invalid/a.md")));
    ASSERT_TRUE(write("a.md", "one"));
    const auto bookmark = paths.make(docURL("a.md"));
    ASSERT_TRUE(bookmark);
    auto resolved = paths.resolve(*bookmark);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->url, docURL("a.md"));
    EXPECT_FALSE(resolved->stale);

    // Another file at the same path: still resolves, but stale. Keep the old inode alive so the
    // new file cannot reuse it.
    ASSERT_TRUE(QFile::rename(docPath("a.md"), docPath("old.md")));
    ASSERT_TRUE(write("a.md", "two"));
    resolved = paths.resolve(*bookmark);
    ASSERT_TRUE(resolved);
    EXPECT_TRUE(resolved->stale);

    QFile::remove(docPath("a.md"));
    resolved = paths.resolve(*bookmark);
    ASSERT_TRUE(resolved) << "a deleted item still resolves; the existence test tells";
    EXPECT_EQ(resolved->url, docURL("a.md"));

    EXPECT_FALSE(paths.resolve("garbage"));
    EXPECT_FALSE(paths.resolve("VBM1\nx\n1\n/a"));
    EXPECT_FALSE(paths.resolve("VBM1\n1\n1\nrelative"));
    const auto odd = paths.resolve("VBM1\n1\n2\n/dir/line\nbreak.md");
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->url.toLocalFile(), QStringLiteral("/dir/line\nbreak.md"));
    EXPECT_TRUE(paths.startAccess(docURL("a.md")));
}
