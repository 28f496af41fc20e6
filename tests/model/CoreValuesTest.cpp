#include "core/model/FileNode.h"
#include "core/model/HistoryDateGroup.h"
#include "core/model/HistoryEntry.h"
#include "core/model/TextMetrics.h"
#include "platform/L10n.h"
#include "support/IcuOracle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

FileNode file(const QString &path, const QString &name = {})
{
    return FileNode(QUrl::fromLocalFile(path), name.isEmpty() ? path.section(u'/', -1) : name,
                    false);
}

FileNode folder(const QString &path, QList<FileNode> children)
{
    return FileNode(QUrl::fromLocalFile(path), path.section(u'/', -1), true, std::move(children));
}

HistoryEntry sampleEntry()
{
    return HistoryEntry(QUuid::fromString(QStringLiteral("6f1c2a7e-0b4d-4e8a-9c3f-2d5e7a1b9c40")),
                        QStringLiteral("/home/u/notes"), true,
                        QByteArray("\x01\x02\xff bookmark", 12), 732000000.125);
}

QJsonObject sampleJson()
{
    return QJsonDocument::fromJson(HistoryEntry::encodeList({sampleEntry()}))
        .array()
        .at(0)
        .toObject();
}

} // namespace

TEST(FileNode, absentChildrenDifferFromAnEmptyListAndEqualityDescendsTheTree)
{
    const FileNode withEmpty = folder(QStringLiteral("/r/a"), {});
    FileNode withoutList = withEmpty;
    withoutList.children.reset();
    EXPECT_NE(withEmpty, withoutList);

    const FileNode tree
        = folder(QStringLiteral("/r"),
                 {folder(QStringLiteral("/r/a"), {file(QStringLiteral("/r/a/x.md"))})});
    FileNode renamed
        = folder(QStringLiteral("/r"),
                 {folder(QStringLiteral("/r/a"),
                         {file(QStringLiteral("/r/a/x.md"), QStringLiteral("y.md"))})});
    EXPECT_EQ(tree,
              folder(QStringLiteral("/r"),
                     {folder(QStringLiteral("/r/a"), {file(QStringLiteral("/r/a/x.md"))})}));
    EXPECT_NE(tree, renamed);
    EXPECT_NE(qHash(tree), qHash(renamed));
    // Identity is the URL alone.
    EXPECT_EQ(tree.children->at(0).children->at(0).id(),
              renamed.children->at(0).children->at(0).id());
}

TEST(FileNode, canonicallyEquivalentNamesAreEqualAndHashAlike)
{
    const FileNode composed = file(QStringLiteral("/r/x"), QStringLiteral("caf\u00e9.md"));
    const FileNode decomposed = file(QStringLiteral("/r/x"), QStringLiteral("cafe\u0301.md"));
    EXPECT_EQ(composed, decomposed);
    EXPECT_EQ(qHash(composed), qHash(decomposed));
}

TEST(HistoryEntry, encodesExactlyTheFiveKeysAndRoundTrips)
{
    const QJsonObject json = sampleJson();
    EXPECT_EQ(json.keys(),
              (QStringList {"bookmarkData", "id", "isDirectory", "lastOpenedDate", "path"}));
    EXPECT_EQ(json.value("id").toString(), QStringLiteral("6F1C2A7E-0B4D-4E8A-9C3F-2D5E7A1B9C40"));
    EXPECT_EQ(json.value("bookmarkData").toString(), QStringLiteral("AQL/IGJvb2ttYXJr"));
    EXPECT_EQ(json.value("isDirectory"), QJsonValue(true));
    EXPECT_EQ(json.value("lastOpenedDate").toDouble(), 732000000.125);
    const QByteArray encoded = HistoryEntry::encodeList({sampleEntry()});
    EXPECT_FALSE(encoded.contains(' ')) << "compact JSON";

    const auto decoded = HistoryEntry::decodeList(encoded);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 1);
    EXPECT_EQ(decoded->first(), sampleEntry());
    EXPECT_EQ(qHash(decoded->first()), qHash(sampleEntry()));
    // The date keeps its meaning: seconds since 2001-01-01 UTC.
    EXPECT_EQ(HistoryEntry::referenceSeconds(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC)),
              0.0);
    EXPECT_EQ(sampleEntry().lastOpenedDateTime().toUTC(),
              QDateTime(QDate(2024, 3, 13), QTime(5, 20, 0, 125), Qt::UTC));
}

TEST(HistoryEntry, decodingIsStrictPerElementAndFailsTheWholeList)
{
    QJsonObject extra = sampleJson();
    extra.insert("comment", "ignored");
    EXPECT_TRUE(HistoryEntry::fromJson(extra));

    for (const char *key : {"id", "path", "isDirectory", "bookmarkData", "lastOpenedDate"}) {
        QJsonObject missing = sampleJson();
        missing.remove(key);
        EXPECT_FALSE(HistoryEntry::fromJson(missing)) << key;
    }
    QJsonObject wrongType = sampleJson();
    wrongType.insert("isDirectory", "true");
    EXPECT_FALSE(HistoryEntry::fromJson(wrongType));
    QJsonObject badDate = sampleJson();
    badDate.insert("lastOpenedDate", "732000000");
    EXPECT_FALSE(HistoryEntry::fromJson(badDate));
    QJsonObject badId = sampleJson();
    badId.insert("id", "not-a-uuid");
    EXPECT_FALSE(HistoryEntry::fromJson(badId));
    QJsonObject badBase64 = sampleJson();
    badBase64.insert("bookmarkData", "***");
    EXPECT_FALSE(HistoryEntry::fromJson(badBase64));

    QJsonObject noBookmark = sampleJson();
    noBookmark.remove("bookmarkData");
    const QByteArray list = QJsonDocument(QJsonArray {sampleJson(), noBookmark}).toJson();
    EXPECT_FALSE(HistoryEntry::decodeList(list));
    EXPECT_FALSE(HistoryEntry::decodeList("{\"not\":\"a list\"}"));
    EXPECT_FALSE(HistoryEntry::decodeList("[1]"));
    const auto empty = HistoryEntry::decodeList("[]");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isEmpty());
}

TEST(HistoryEntry, nameIsTheLastPathComponent)
{
    HistoryEntry e = sampleEntry();
    e.path = QStringLiteral("/a/b/");
    EXPECT_EQ(e.name(), QStringLiteral("b"));
    e.path = QStringLiteral("/");
    EXPECT_EQ(e.name(), QStringLiteral("/"));
    e.path = QStringLiteral("/a/notes.md");
    EXPECT_EQ(e.name(), QStringLiteral("notes.md"));
}

TEST(HistoryDateGroup, bucketsByCalendarDaysAroundTheBoundaries)
{
    const QDateTime now(QDate(2024, 3, 20), QTime(12, 0));
    using G = HistoryDateGroup;
    EXPECT_EQ(G::from(now.addSecs(3600), now), G::today);
    EXPECT_EQ(G::from(QDateTime(QDate(2024, 3, 20), QTime(0, 0)), now), G::today);
    EXPECT_EQ(G::from(QDateTime(QDate(2024, 3, 19), QTime(23, 59)), now), G::yesterday);
    EXPECT_EQ(G::from(QDateTime(QDate(2024, 3, 19), QTime(0, 1)), now), G::yesterday);
    EXPECT_EQ(G::from(now.addDays(1), now), G::last7Days);
    EXPECT_EQ(G::from(now.addDays(-6).addSecs(-23 * 3600), now), G::last7Days);
    EXPECT_EQ(G::from(now.addDays(-7), now), G::last30Days);
    EXPECT_EQ(G::from(now.addDays(-29).addSecs(-23 * 3600), now), G::last30Days);
    EXPECT_EQ(G::from(now.addDays(-30), now), G::older);
    EXPECT_EQ(G::from(now.addYears(-3), now), G::older);
    // A stored date beyond any calendar (edited by hand) cannot be compared: last seven days.
    HistoryEntry farOff = sampleEntry();
    farOff.lastOpenedDate = 1e300;
    EXPECT_FALSE(farOff.lastOpenedDateTime().isValid());
    EXPECT_EQ(G::from(farOff.lastOpenedDateTime(), now), G::last7Days);

    EXPECT_EQ(G::allCases(),
              (QList<G> {G::today, G::yesterday, G::last7Days, G::last30Days, G::older}));
    for (const G group : G::allCases())
        EXPECT_TRUE(L10n::has(group.titleKey())) << group.titleKey().toStdString();
    EXPECT_EQ(G(G::last7Days).titleKey(), QStringLiteral("history.last7Days"));
}

TEST(TextMetrics, wordsAreRunsBetweenWhitespaceClusters)
{
    EXPECT_EQ(TextMetrics::wordCount(QStringLiteral("  one\ttwo\n\nthree  ")), 3);
    EXPECT_EQ(splitWords(QStringLiteral("  one\ttwo\n\nthree  ")),
              (QStringList {"one", "two", "three"}));
    EXPECT_EQ(TextMetrics::wordCount(QStringLiteral("a\u2028b")), 2);
    EXPECT_EQ(TextMetrics::wordCount(QStringLiteral("a\u00a0b\u3000c\u0085d")), 4);
    EXPECT_EQ(TextMetrics::wordCount(QStringLiteral("a\u200bb")), 1) << "zero-width space joins";
    EXPECT_EQ(TextMetrics::wordCount(QString()), 0);
    EXPECT_EQ(TextMetrics::wordCount(QStringLiteral("   \n ")), 0);
    // A combining mark on a space belongs to the space's cluster, which stays a separator.
    EXPECT_EQ(splitWords(QStringLiteral("ab \u0301cd")), (QStringList {"ab", "cd"}));
    EXPECT_EQ(splitWords(QStringLiteral("caf\u0065\u0301 \U0001F600")),
              (QStringList {QStringLiteral("caf\u0065\u0301"), QStringLiteral("\U0001F600")}));
}

TEST(TextMetrics, charactersAreGraphemeClusters)
{
    EXPECT_EQ(TextMetrics::characterCount(QString()), 0);
    EXPECT_EQ(TextMetrics::characterCount(QStringLiteral("e\u0301")), 1);
    EXPECT_EQ(TextMetrics::characterCount(QStringLiteral("\r\n")), 1);
    EXPECT_EQ(TextMetrics::characterCount(QStringLiteral("\n\r")), 2);
    EXPECT_EQ(TextMetrics::characterCount(
                  QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466")),
              1);
    EXPECT_EQ(TextMetrics::characterCount(QStringLiteral("\U0001F44D\U0001F3FD")), 1);
    EXPECT_EQ(
        TextMetrics::characterCount(QStringLiteral("\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7")), 2);
    EXPECT_EQ(TextMetrics::characterCount(QStringLiteral("a\u2028b")), 3);
    EXPECT_EQ(TextMetrics::characterCount(QStringLiteral("\u0915\r\n")), 2);
    EXPECT_EQ(TextMetrics::characterCount(
                  QStringLiteral("\u0928\u092E\u0938\u094D\u0924\u0947 \U0001F64F")),
              5);
}

TEST(TextMetrics, countsFollowIcuOnRandomTexts)
{
    std::mt19937 rng(11);
    for (int n = 0; n < 3000; ++n) {
        const QString text = oracle::randomText(rng, 20);
        const QStringList characters = oracle::characters(text);
        qsizetype words = 0;
        bool inWord = false;
        for (const QString &c : characters) {
            const bool separator = QChar::isSpace(c.toUcs4().value(0));
            words += !separator && !inWord;
            inWord = !separator;
        }
        ASSERT_EQ(TextMetrics::characterCount(text), characters.size()) << text.toStdString();
        ASSERT_EQ(TextMetrics::wordCount(text), words) << text.toStdString();
    }
}

TEST(TextMetrics, readingTimeIsWholeMinutesAtTwoHundredWordsAndAtLeastOne)
{
    const std::pair<int, const char *> cases[]
        = {{0, "1 min"},   {199, "1 min"}, {200, "1 min"}, {399, "1 min"},
           {400, "2 min"}, {599, "2 min"}, {600, "3 min"}, {2400, "12 min"}};
    for (const auto &[words, expected] : cases)
        EXPECT_EQ(TextMetrics::readingTime(words), QString::fromLatin1(expected)) << words;
}
