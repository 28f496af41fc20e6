#include "platform/Text.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

// The workspace compares every keystroke's text with the one before under canonical
// equivalence; that comparison looks only at the changed part, and must still be exact.
TEST(CanonicalEquality, largeTextsAreComparedAroundTheChangeOnly)
{
    const QString head = QString(5000, u'a') + QStringLiteral("\n— “quoted” ");
    const QString tail = QStringLiteral(" end\n") + QString(5000, u'z');
    auto with = [&](const QString &middle) { return head + middle + tail; };

    EXPECT_TRUE(canonicallyEqual(with(QStringLiteral("e\u0301")), with(QStringLiteral("é"))));
    // Combining marks in another order are the same text once ordered canonically.
    EXPECT_TRUE(canonicallyEqual(with(QStringLiteral("a\u0323\u0301")),
                                 with(QStringLiteral("a\u0301\u0323"))));
    // A Hangul syllable and its jamo.
    EXPECT_TRUE(
        canonicallyEqual(with(QStringLiteral("\uAC00")), with(QStringLiteral("\u1100\u1161"))));
    // A mark that belongs to the character before the change.
    EXPECT_TRUE(canonicallyEqual(head + QStringLiteral("o\u0308x") + tail,
                                 head + QStringLiteral("\u00F6x") + tail));

    EXPECT_FALSE(canonicallyEqual(with(QStringLiteral("ä")), with(QStringLiteral("a"))));
    EXPECT_FALSE(canonicallyEqual(with(QStringLiteral("e\u0301")), with(QStringLiteral("e"))));
    EXPECT_FALSE(canonicallyEqual(with(QString::fromUtf8("😀")), with(QString::fromUtf8("😃"))));
    EXPECT_FALSE(canonicallyEqual(with(QStringLiteral("x")), with(QStringLiteral("xx"))));
    EXPECT_FALSE(canonicallyEqual(head, head + QStringLiteral("\u0301")));
}

TEST(CanonicalEquality, emptyAndWholeTextsAreDecidedExactly)
{
    EXPECT_TRUE(canonicallyEqual(QString(), QString()));
    EXPECT_TRUE(canonicallyEqual(QString(), QStringLiteral("")));
    // Marks alone still make a text: they never normalize away.
    EXPECT_FALSE(canonicallyEqual(QString(), QStringLiteral("\u0301\u0323")));
    EXPECT_FALSE(canonicallyEquivalent(QStringLiteral("\u0301"), QString()));

    // Long texts that differ in each line's form, so that the two sides' pieces never line up.
    QString precomposed;
    QString decomposed;
    for (int i = 0; i < 3000; ++i) {
        precomposed += QStringLiteral("# Kopf \u00F1\n\u00E4\u00F6\u00FC \u20AC ")
            + QString::fromUtf8("😀\n");
        decomposed += QStringLiteral("# Kopf n\u0303\na\u0308o\u0308u\u0308 \u20AC ")
            + QString::fromUtf8("😀\n");
    }
    EXPECT_TRUE(canonicallyEqual(precomposed, decomposed));
    EXPECT_FALSE(canonicallyEqual(precomposed, decomposed + QStringLiteral("\u0301")));
    EXPECT_FALSE(canonicallyEqual(QStringLiteral("x") + precomposed, decomposed));
    EXPECT_TRUE(
        canonicallyEqual(QStringLiteral("e\u0301") + precomposed + QStringLiteral("\u00E9"),
                         QStringLiteral("\u00E9") + decomposed + QStringLiteral("e\u0301")));
}

// Text without a single ASCII character, changed in the middle: the cut around the change must
// still keep marks with their base and reorder them as in the whole text.
TEST(CanonicalEquality, changesInNonAsciiTextKeepMarksWithTheirBase)
{
    const QString cjk = QString(20000, QChar(0x4E2D));
    EXPECT_TRUE(canonicallyEqual(cjk + QStringLiteral("\u00C5\u0323") + cjk,
                                 cjk + QStringLiteral("A\u0323\u030A") + cjk));
    EXPECT_FALSE(canonicallyEqual(cjk + QStringLiteral("\u00C5") + cjk,
                                  cjk + QStringLiteral("A\u0323") + cjk));
    // Only a mark after a supplementary character differs.
    const QString emoji = QString::fromUtf8("😀");
    EXPECT_TRUE(canonicallyEqual(cjk + emoji + QStringLiteral("\u0323\u0301") + cjk,
                                 cjk + emoji + QStringLiteral("\u0301\u0323") + cjk));
    EXPECT_FALSE(canonicallyEqual(cjk + emoji + QStringLiteral("\u0301") + cjk,
                                  cjk + emoji + QStringLiteral("\u0300") + cjk));
    // Surrogate pairs that share only their high half.
    EXPECT_FALSE(
        canonicallyEqual(cjk + QString::fromUtf8("😀") + cjk, cjk + QString::fromUtf8("😃") + cjk));
}

// After a keystroke the workspace passes what the texts are known to share: the answer must be
// the one of a whole comparison, and what it hands back must be shared indeed.
TEST(CanonicalEquality, knownSharedEndsGiveTheWholeComparisonsAnswer)
{
    const QStringList pieces
        = {"a",  "e", "\u0301", "\u0323", "é", "\uAC00", "\u1100", "\u1161", QString::fromUtf8("😀"),
           "\n", " "};
    std::srand(7);
    auto piece = [&] { return pieces[std::rand() % pieces.size()]; };
    QString text;
    for (int i = 0; i < 40; ++i)
        text += piece();
    QString saved = text;
    qsizetype prefix = 0;
    qsizetype suffix = 0;
    qsizetype lastAt = 0;
    QString lastRemoved, lastInserted;
    int equal = 0;
    for (int step = 0; step < 3000; ++step) {
        qsizetype at = std::rand() % (text.size() + 1);
        qsizetype removed = std::min<qsizetype>(text.size() - at, std::rand() % 3);
        QString inserted = std::rand() % 3 ? piece() : QString();
        if (std::rand() % 3 == 0) { // the last edit taken back
            at = lastAt;
            removed = lastInserted.size();
            inserted = lastRemoved;
        } else if (const qsizetype composed = text.indexOf(u'é'); composed >= 0 && step % 4 == 0) {
            at = composed; // the same text in another form
            removed = 1;
            inserted = QStringLiteral("e\u0301");
        }
        lastAt = at;
        lastRemoved = text.mid(at, removed);
        lastInserted = inserted;
        QString next = text;
        next.replace(at, removed, inserted);
        qsizetype editPrefix = at;
        qsizetype editSuffix = text.size() - at - removed;
        ASSERT_EQ(canonicallyEqual(text, next, editPrefix, editSuffix),
                  canonicallyEqual(text, next));
        prefix = std::min(prefix, at);
        suffix = std::min(suffix, text.size() - at - removed);
        text = next;
        ASSERT_EQ(canonicallyEqual(text, saved, prefix, suffix), canonicallyEqual(text, saved));
        const qsizetype limit = std::min(text.size(), saved.size());
        ASSERT_LE(prefix, limit);
        ASSERT_LE(suffix, limit);
        EXPECT_EQ(text.left(prefix), saved.left(prefix));
        EXPECT_EQ(text.right(suffix), saved.right(suffix));
        equal += canonicallyEqual(text, saved);
        if (step % 20 == 19) {
            saved = text; // saved
            prefix = suffix = 0;
        }
    }
    EXPECT_GT(equal, 100);
}
