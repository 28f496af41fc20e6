#include "platform/TextBuffers.h"
#include "platform/BackgroundPool.h"
#include "support/TextBuffersTestAccess.h"

#include <QRandomGenerator>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <deque>

namespace {
const qsizetype longSize = TextBuffers::pooledSize + 1000;

QString longText()
{
    QString text(longSize, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(u'a' + char16_t(i % 26));
    return text;
}
} // namespace

// Whoever holds earlier versions, and whatever text is handed in, every edit gives exactly what
// QString::replace gives, and the holders keep the versions they took. Earlier versions let go of
// are written over where they differ from the new text: the letters are random, so a part
// written at the wrong place shows.
TEST(TextBuffers, editsEqualPlainReplacementsWhateverHoldsEarlierVersions)
{
    QRandomGenerator random(7);
    auto letters = [&](qsizetype count) {
        QString out(count, Qt::Uninitialized);
        for (QChar &c : out)
            c = QChar(u'a' + char16_t(random.bounded(26)));
        return out;
    };
    TextBuffers buffers;
    QString text = letters(longSize);
    buffers.prepare(text.size());
    QString expected = text;
    expected.detach();
    std::deque<std::pair<QString, QString>> held; // a version and a deep copy of it
    for (int i = 0; i < 400; ++i) {
        if (random.bounded(40) == 0) { // the text replaced behind the buffers' back
            text = random.bounded(2) ? letters(longSize + random.bounded(100)) : text + QString();
            expected = text;
            expected.detach();
        }
        const qsizetype position = random.bounded(text.size() + 1);
        const qsizetype removed = random.bounded(qMin<qsizetype>(text.size() - position, 40) + 1);
        const QString inserted = letters(random.bounded(30));
        if (random.bounded(3) == 0) { // a snapshot handed away, let go of some edits later
            QString copy = text;
            copy.detach();
            held.emplace_back(text, copy);
        }
        if (held.size() > 5 || (!held.empty() && random.bounded(4) == 0))
            held.pop_front();
        buffers.replace(text, position, removed, inserted);
        expected.replace(position, removed, inserted);
        ASSERT_EQ(text, expected) << "edit " << i;
        for (const auto &[version, copy] : held)
            ASSERT_EQ(version, copy) << "a held version changed at edit " << i;
    }
    background::pool().waitForDone();
}

TEST(TextBuffers, aSharedTextIsCopiedIntoTheBufferOfAVersionNoLongerHeld)
{
    TextBuffers buffers;
    QString text = longText();
    text.reserve(longSize + 100);
    QString snapshot = text;
    buffers.replace(text, 0, 1, u"X"); // shared: copied elsewhere
    const QChar *first = snapshot.constData();
    EXPECT_NE(text.constData(), first);
    EXPECT_EQ(snapshot.at(0), u'a');

    snapshot = text; // the old version is let go of, the new one is handed away
    buffers.replace(text, 1, 1, u"Y");
    EXPECT_EQ(text.constData(), first) << "the released buffer is used again";
    EXPECT_EQ(text.left(3), QStringLiteral("XYc"));
    EXPECT_EQ(snapshot.left(3), QStringLiteral("Xbc"));

    snapshot = QString(); // no one else holds it: edited in place
    const QChar *own = text.constData();
    buffers.replace(text, 2, 0, u"Z");
    EXPECT_EQ(text.constData(), own);
    EXPECT_EQ(text.left(4), QStringLiteral("XYZc"));
}

TEST(TextBuffers, shortTextsAreNotPooledAndPreparedBuffersArrive)
{
    TextBuffers buffers;
    QString small = QStringLiteral("kurz");
    QString holder = small;
    buffers.replace(small, 0, 1, u"K");
    EXPECT_EQ(small, QStringLiteral("Kurz"));
    EXPECT_EQ(TextBuffersTestAccess::spareCount(buffers), 0);

    QString text = longText();
    buffers.prepare(text.size());
    background::pool().waitForDone();
    holder = text;
    buffers.replace(text, 0, 0, u"+");
    EXPECT_GE(TextBuffersTestAccess::spareCount(buffers), 2)
        << "prepared buffers plus the old version's";
    // The same text again keeps those it fits into (all but the loaded text's own); a longer
    // text has buffers of its own made.
    const qsizetype kept = TextBuffersTestAccess::spareCount(buffers);
    buffers.prepare(text.size());
    EXPECT_EQ(TextBuffersTestAccess::spareCount(buffers), kept - 1);
    buffers.prepare(4 * text.size());
    EXPECT_EQ(TextBuffersTestAccess::spareCount(buffers), 0);
    background::pool().waitForDone();
    holder = text;
    buffers.replace(text, 0, 0, u"+");
    EXPECT_GE(TextBuffersTestAccess::spareCount(buffers), 6);
    buffers.prepare(10); // a short text lets go of them all
    EXPECT_EQ(TextBuffersTestAccess::spareCount(buffers), 0);
}
