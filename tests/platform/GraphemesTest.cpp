#include "platform/Graphemes.h"
#include "platform/Text.h"

#include "support/IcuOracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

using namespace Qt::StringLiterals;

namespace {

// Every way the walk can use a text, checked against ICU's iterator on the whole text.
void expectLikeIcu(const QString &text)
{
    const std::vector<qsizetype> truth = oracle::boundaries(text);
    std::vector<qsizetype> bounds;
    graphemes::appendBoundaries(text, 0, text.size(), bounds);
    ASSERT_EQ(bounds, truth) << text.toStdString();
    ASSERT_EQ(graphemes::countClusters(text), qint64(truth.size())) << text.toStdString();
    for (qsizetype k = 0; k <= text.size(); ++k) {
        const auto before = std::upper_bound(truth.begin(), truth.end(), k);
        const qsizetype start = before == truth.begin() ? 0 : *(before - 1);
        ASSERT_EQ(graphemes::clusterStart(text, k), start) << text.toStdString() << " at " << k;
        if (!graphemes::isSafeBoundary(text, k))
            continue;
        ASSERT_EQ(start, k) << "safe but no boundary: " << text.toStdString() << " at " << k;
        ASSERT_EQ(graphemes::countClusters(text, 0, k)
                      + graphemes::countClusters(text, k, text.size()),
                  qint64(truth.size()))
            << text.toStdString() << " at " << k;
    }
    for (qint64 c = 1; c <= qint64(truth.size()); ++c)
        ASSERT_EQ(graphemes::advance(text, 0, text.size(), c), truth[std::size_t(c - 1)]);
}

} // namespace

TEST(Graphemes, followIcuOnRandomTexts)
{
    std::mt19937 rng(20250118);
    for (int n = 0; n < 6000; ++n) {
        expectLikeIcu(oracle::randomText(rng, 14));
        if (HasFatalFailure())
            return;
    }
}

TEST(Graphemes, followIcuOnRandomCodePointsOfEveryPlane)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<char32_t> any(0, 0x10FFFF);
    std::uniform_int_distribution<char32_t> common(0, 0x2FFFF);
    std::uniform_int_distribution<int> length(1, 7);
    for (int n = 0; n < 30000; ++n) {
        QString text;
        for (int k = length(rng); k > 0; --k) {
            const char32_t c = k % 3 == 0 ? any(rng) : common(rng);
            text += QChar::requiresSurrogates(c) ? QString::fromUcs4(&c, 1) : QString(QChar(c));
        }
        expectLikeIcu(text);
        if (HasFatalFailure())
            return;
    }
}

TEST(Graphemes, followIcuOnEveryShortSequenceOfCodePointKinds)
{
    // One code point of each kind the rules tell apart: letters, controls, marks with and without a
    // combining class, joiners, regional indicators, prepended letters, spacing marks, Hangul
    // jamo and syllables, pictographs, conjunct consonants of two scripts and a virama, Thai (left
    // to ICU) and a lone surrogate.
    const QStringList kinds {
        u"a"_s,      u"\r"_s,
        u"\n"_s,     u"\t"_s,
        u"\u0301"_s, u"\uFE0F"_s,
        u"\u200D"_s, u"\U0001F1E9"_s,
        u"\u0600"_s, u"\U0001D166"_s,
        u"\u1100"_s, u"\u1161"_s,
        u"\u11A8"_s, u"\uAC00"_s,
        u"\uAC01"_s, u"\U0001F600"_s,
        u"\u0915"_s, u"\u0995"_s,
        u"\u094D"_s, u"\u093F"_s,
        u"\u0E33"_s, QString(QChar(0xD800)),
    };
    const int k = int(kinds.size());
    for (int a = 0; a < k; ++a)
        for (int b = 0; b < k; ++b)
            for (int c = 0; c < k; ++c)
                for (int d = 0; d < k; ++d) {
                    expectLikeIcu(kinds[a] + kinds[b] + kinds[c] + kinds[d]);
                    if (HasFatalFailure())
                        return;
                }
}

TEST(Graphemes, countWhereOlderSegmentationsDisagree)
{
    EXPECT_EQ(graphemes::countClusters(u"\U0001F600\U0001F1E9\U0001F1EA"_s), 2);
    EXPECT_EQ(graphemes::countClusters(u"\u0915\r\n"_s), 2);
    EXPECT_EQ(graphemes::countClusters(u"\u0928\u092E\u0938\u094D\u0924\u0947 \U0001F64F"_s), 5);
    // The version the tables follow is ICU's (15.0 with ICU 72).
    EXPECT_FALSE(graphemes::unicodeVersion().isEmpty());
    std::cout << "[ segmentation follows Unicode " << graphemes::unicodeVersion().toStdString()
              << " ]\n";
}

TEST(Graphemes, sameCharacterIsCanonicalEquivalence)
{
    EXPECT_TRUE(graphemes::sameCharacter(u"\u00e9"_s, u"e\u0301"_s));
    EXPECT_TRUE(graphemes::sameCharacter(u"\u212A"_s, u"K"_s));
    EXPECT_TRUE(graphemes::sameCharacter(u"a\u0323\u0301"_s, u"a\u0301\u0323"_s));
    EXPECT_FALSE(graphemes::sameCharacter(u"a"_s, u"b"_s));
    EXPECT_FALSE(graphemes::sameCharacter(u"e\u0301"_s, u"e"_s));
}

TEST(Text, wellFormedMeansEverySurrogateIsPaired)
{
    EXPECT_TRUE(isWellFormedUtf16(u"a\U0001F600b"_s));
    EXPECT_TRUE(isWellFormedUtf16(QString()));
    const QChar high(0xD83D);
    const QChar low(0xDE00);
    for (const QString &bad :
         {u"a"_s + high + u"b"_s, QString(low), u"x"_s + high, QString(low) + high})
        EXPECT_FALSE(isWellFormedUtf16(bad)) << bad.size();
}
