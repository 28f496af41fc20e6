// The shared history of a document, without a network: changes delivered late, twice, out of
// order or not at all (made good by whole states).
#include "LiveTestSupport.h"

#include "core/live/LiveDocument.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(LiveDocument, concurrentChangesMergeAlikeInAnyOrder)
{
    const QString base = u"one\ntwo\nthree\n"_s;
    LiveDocument a(u"a"_s, base);
    LiveDocument b(u"b"_s, base);
    ASSERT_EQ(a.epoch(), b.epoch());
    const auto fromA = a.change(u"AAA one\ntwo\nthree\n"_s);
    const auto fromB = b.change(u"one\ntwo\nBBB three\n"_s);
    ASSERT_TRUE(fromA && fromB);
    EXPECT_EQ(b.receive(*fromA), LiveDocument::Outcome::Applied);
    EXPECT_EQ(a.receive(*fromB), LiveDocument::Outcome::Applied);
    EXPECT_EQ(a.text(), u"AAA one\ntwo\nBBB three\n"_s);
    EXPECT_EQ(b.text(), a.text());
    EXPECT_EQ(a.digest(), b.digest());
    // Twice is once.
    EXPECT_EQ(b.receive(*fromA), LiveDocument::Outcome::Applied);
    EXPECT_EQ(b.text(), a.text());

    // Both type at the same place, and one deletes a word the other types into: every typed
    // character stays, every deleted one stays deleted, in one order on both.
    const auto a2 = a.change(u"AAA one\ntwo\nxyBBB three\n"_s);
    const auto b2 = b.change(u"AAA one\ntwo\nzBBB three\n"_s);
    const auto b3 = b.change(u"AAA one\n\nzBBB three\n"_s);
    a.receive(*b2);
    a.receive(*b3);
    b.receive(*a2);
    EXPECT_EQ(a.text(), b.text());
    EXPECT_TRUE(a.text() == u"AAA one\n\nxyzBBB three\n"_s
                || a.text() == u"AAA one\n\nzxyBBB three\n"_s)
        << a.text().toStdString();

    // A change that builds on one not received yet waits for it.
    LiveDocument c(u"c"_s, base);
    const auto c1 = c.change(u"one\ntwo\nthree\nfour"_s);
    const auto c2 = c.change(u"one\ntwo\nthree\nfour five"_s);
    LiveDocument d(u"d"_s, base);
    EXPECT_EQ(d.receive(*c2), LiveDocument::Outcome::Waiting);
    EXPECT_TRUE(d.hasWaiting());
    EXPECT_EQ(d.receive(*c1), LiveDocument::Outcome::Applied);
    EXPECT_FALSE(d.hasWaiting());
    EXPECT_EQ(d.text(), c.text());

    // Another start text is another epoch.
    LiveDocument other(u"e"_s, u"other"_s);
    EXPECT_EQ(other.receive(*c1), LiveDocument::Outcome::Foreign);
}

TEST(LiveDocument, wholeStatesMakeUpForLostChanges)
{
    const QString base = u"# Notes\n"_s;
    LiveDocument a(u"a"_s, base);
    LiveDocument b(u"b"_s, base);
    a.change(u"# Notes\nfrom a \U0001F600\n"_s); // lost
    b.change(u"# Notes, b\n"_s); // lost
    const auto result = b.merge(a.state(), a.text());
    EXPECT_EQ(result.outcome, LiveDocument::Outcome::Applied);
    EXPECT_TRUE(result.theyLack);
    const auto back = a.merge(b.state(), b.text());
    EXPECT_FALSE(back.theyLack);
    EXPECT_EQ(a.text(), b.text());
    EXPECT_EQ(a.text(), u"# Notes, b\nfrom a \U0001F600\n"_s);
    EXPECT_EQ(a.digest(), b.digest());

    // A late device takes over the whole history and can take part at once.
    auto late = LiveDocument::fromState(u"c"_s, a.state(), a.text());
    ASSERT_TRUE(late);
    const auto change = late->change(late->text() + u"late"_s);
    EXPECT_EQ(b.receive(*change), LiveDocument::Outcome::Applied);
    EXPECT_EQ(b.text(), late->text());
    // A state that does not fit its text is refused.
    EXPECT_EQ(b.merge(a.state(), u"short"_s).outcome, LiveDocument::Outcome::Invalid);
}

TEST(LiveDocument, threeWayTextMergeKeepsBothSides)
{
    const QString base = u"one\ntwo\nthree\n"_s;
    EXPECT_EQ(
        LiveDocument::mergeTexts(base, u"AAA one\ntwo\nthree\n"_s, u"one\ntwo\nBBB three\n"_s),
        u"AAA one\ntwo\nBBB three\n"_s);
    // Overlapping: both deletions, both insertions.
    EXPECT_EQ(LiveDocument::mergeTexts(base, u"one\nX\n"_s, u"one\ntwY\nthree\n"_s),
              u"one\nXY\n"_s);
    EXPECT_EQ(LiveDocument::mergeTexts(base, u"same"_s, u"same"_s), u"same"_s);
    EXPECT_EQ(LiveDocument::mergeTexts(base, base, u"theirs"_s), u"theirs"_s);
}

// Random changes on three devices; each change reaches each peer late, out of order, or never;
// whole states exchanged at the end make every device hold the same text with every token that
// was not deleted, and none that was.
TEST(LiveDocument, randomHistoriesConverge)
{
    for (quint32 seed = 1; seed <= 300; ++seed) {
        QRandomGenerator random(seed);
        const QString base = u"one\ntwo\nthree\n"_s;
        std::vector<LiveDocument> docs;
        for (const QString &site : {u"a"_s, u"b"_s, u"c"_s})
            docs.emplace_back(site, base);
        struct InFlight
        {
            std::size_t to;
            QJsonObject change;
        };
        std::vector<InFlight> inFlight;
        QSet<QString> inserted;
        QSet<QString> deleted;
        for (int step = 0; step < 40; ++step) {
            const std::size_t who = random.bounded(3);
            LiveDocument &doc = docs[who];
            const QString text = doc.text();
            QString next = text;
            if (random.bounded(100) < 70 || inserted.isEmpty()) {
                QList<qsizetype> boundaries {0};
                for (qsizetype i = 0; i < text.size(); ++i) {
                    if (text[i] == u' ' || text[i] == u'\n')
                        boundaries.append(i + 1);
                }
                // Sometimes two tokens far apart in one change (a paste, an API call).
                QList<qsizetype> at {boundaries.at(random.bounded(boundaries.size()))};
                if (random.bounded(100) < 20)
                    at.append(boundaries.at(random.bounded(boundaries.size())));
                std::sort(at.rbegin(), at.rend()); // the later place first
                for (const qsizetype position : at) {
                    const QString token = u"[%1%2] "_s.arg(who).arg(inserted.size());
                    inserted.insert(token);
                    next.insert(position, token);
                }
            } else {
                QStringList present;
                for (const QString &t : std::as_const(inserted)) {
                    if (text.contains(t))
                        present.append(t);
                }
                if (present.isEmpty())
                    continue;
                std::sort(present.begin(), present.end());
                const QString token = present.at(random.bounded(present.size()));
                deleted.insert(token);
                next.remove(next.indexOf(token), token.size());
            }
            const auto change = doc.change(next);
            ASSERT_TRUE(change);
            ASSERT_EQ(doc.text(), next);
            for (std::size_t to = 0; to < 3; ++to) {
                if (to != who && random.bounded(100) >= 10)
                    inFlight.push_back({to, *change});
            }
            // Now and then a device sends its whole state (a reconnect, a repair).
            if (random.bounded(100) < 10) {
                const std::size_t from = random.bounded(3);
                for (std::size_t to = 0; to < 3; ++to) {
                    if (to != from) {
                        ASSERT_EQ(docs[to].merge(docs[from].state(), docs[from].text()).outcome,
                                  LiveDocument::Outcome::Applied);
                    }
                }
            }
            // Deliver some of what is in flight, in any order.
            while (!inFlight.empty() && random.bounded(100) < 60) {
                const std::size_t i = random.bounded(quint32(inFlight.size()));
                const InFlight f = inFlight[i];
                inFlight.erase(inFlight.begin() + qsizetype(i));
                ASSERT_NE(docs[f.to].receive(f.change), LiveDocument::Outcome::Invalid);
            }
        }
        for (int round = 0; round < 2; ++round) {
            for (std::size_t from = 0; from < 3; ++from) {
                for (std::size_t to = 0; to < 3; ++to) {
                    if (from != to)
                        docs[to].merge(docs[from].state(), docs[from].text());
                }
            }
        }
        const QString final = docs[0].text();
        for (const LiveDocument &doc : docs) {
            ASSERT_EQ(doc.text(), final) << "seed " << seed;
            EXPECT_EQ(doc.digest(), docs[0].digest());
            EXPECT_FALSE(doc.hasWaiting());
        }
        for (const QString &token : std::as_const(inserted))
            EXPECT_EQ(final.count(token), deleted.contains(token) ? 0 : 1)
                << "seed " << seed << " " << token.toStdString() << " in " << final.toStdString();
    }
}
