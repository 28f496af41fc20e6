#include "NaiveTextDiff.h"

#include "LiveTestSupport.h"

#include "core/live/TextDiff.h"
#include "support/IcuOracle.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace Qt::StringLiterals;

namespace {

using Ops = QList<EditOp>;

QString nfd(const QString &s)
{
    return s.normalized(QString::NormalizationForm_D);
}

QString randomText(std::mt19937 &rng, int maxPieces, const QStringList &alphabet = oracle::pieces())
{
    return oracle::randomText(rng, maxPieces, alphabet);
}

// A variant of `text`: a random stretch replaced by random pieces (or everything rewritten).
QString randomEdit(std::mt19937 &rng, const QString &text, int maxPieces)
{
    std::uniform_int_distribution<int> kind(0, 9);
    if (kind(rng) == 0)
        return randomText(rng, maxPieces);
    std::uniform_int_distribution<qsizetype> at(0, text.size());
    qsizetype from = at(rng);
    qsizetype to = at(rng);
    if (from > to)
        std::swap(from, to);
    if (to - from > 8)
        to = from + 8;
    return text.left(from) + randomText(rng, 3) + text.mid(to);
}

// The reference apply; `strict` refuses the whole list when one operation does not fit.
std::optional<QString> naiveApply(const Ops &ops, const QString &text, bool strict = false)
{
    bool fits = true;
    QString result = naive::apply(ops, text, &fits);
    if (strict && !fits)
        return std::nullopt;
    return result;
}

void expectRoundTrip(const QString &a, const QString &b)
{
    const Ops ops = TextDiff::diff(a, b);
    ASSERT_EQ(ops, naive::diff(a, b)) << a.toStdString() << " -> " << b.toStdString();
    ASSERT_LE(ops.size(), 2);
    ASSERT_EQ(nfd(TextDiff::apply(ops, a)), nfd(b)) << a.toStdString() << " -> " << b.toStdString();
}

} // namespace

TEST(TextDiff, trimsPrefixAndSuffixIntoOneDeleteAndOneInsert)
{
    EXPECT_EQ(TextDiff::diff(u"same"_s, u"same"_s), Ops {});
    EXPECT_EQ(TextDiff::diff(QString(), u"a"_s), Ops {EditOp::insert(0, u"a"_s)});
    EXPECT_EQ(TextDiff::diff(u"ab"_s, QString()), Ops {EditOp::deletion(0, 2)});
    EXPECT_EQ(TextDiff::diff(u"helo world"_s, u"hello world"_s), Ops {EditOp::insert(3, u"l"_s)});
    EXPECT_EQ(TextDiff::diff(u"hello world"_s, u"helo world"_s), Ops {EditOp::deletion(3, 1)});
    EXPECT_EQ(TextDiff::diff(u"the red car"_s, u"the blue car"_s),
              (Ops {EditOp::deletion(4, 3), EditOp::insert(4, u"blue"_s)}));
    // The suffix never overlaps the prefix.
    EXPECT_EQ(TextDiff::diff(u"aaa"_s, u"aa"_s), Ops {EditOp::deletion(2, 1)});
    // Two distant changes become one run.
    EXPECT_EQ(TextDiff::diff(u"abcdef"_s, u"Xbcdef!"_s),
              (Ops {EditOp::deletion(0, 6), EditOp::insert(0, u"Xbcdef!"_s)}));
}

TEST(TextDiff, countsCharactersNotCodeUnits)
{
    // Precomposed and decomposed spellings are the same Character.
    EXPECT_EQ(TextDiff::diff(u"caf\u00e9"_s, u"cafe\u0301"_s), Ops {});
    EXPECT_EQ(TextDiff::diff(u"\u212A"_s, u"K"_s), Ops {});
    // Emoji of several code points count as one position.
    EXPECT_EQ(TextDiff::diff(u"\U0001F468\u200D\U0001F469\u200D\U0001F467x"_s,
                             u"\U0001F468\u200D\U0001F469\u200D\U0001F467yx"_s),
              Ops {EditOp::insert(1, u"y"_s)});
    EXPECT_EQ(TextDiff::diff(u"\U0001F44D\U0001F3FD!"_s, u"\U0001F44D\U0001F3FD?!"_s),
              Ops {EditOp::insert(1, u"?"_s)});
    // A combining mark joins its base: the base is replaced.
    EXPECT_EQ(TextDiff::diff(u"e"_s, u"e\u0301"_s),
              (Ops {EditOp::deletion(0, 1), EditOp::insert(0, u"e\u0301"_s)}));
    // CR then LF becomes one Character.
    EXPECT_EQ(TextDiff::diff(u"a\r"_s, u"a\r\n"_s),
              (Ops {EditOp::deletion(1, 1), EditOp::insert(1, u"\r\n"_s)}));
    // Flags typed one regional indicator at a time.
    EXPECT_EQ(TextDiff::diff(u"x\U0001F1E9"_s, u"x\U0001F1E9\U0001F1EA"_s),
              (Ops {EditOp::deletion(1, 1), EditOp::insert(1, u"\U0001F1E9\U0001F1EA"_s)}));
    // Hangul jamo typed one by one build one syllable.
    EXPECT_EQ(TextDiff::diff(u"\u1100\u1161"_s, u"\u1100\u1161\u11A8"_s),
              (Ops {EditOp::deletion(0, 1), EditOp::insert(0, u"\u1100\u1161\u11A8"_s)}));
    EXPECT_EQ(TextDiff::characterCount(u"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7"_s), 2);
    EXPECT_EQ(TextDiff::characterCount(u"\u0915\u094D\u0937"_s), 1);
    // Where older segmentations disagree: a flag after an emoji, a consonant before CR LF.
    EXPECT_EQ(TextDiff::diff(u"Berlin \U0001F600\U0001F1E9\U0001F1EA"_s,
                             u"Berlin \U0001F600\U0001F1E9\U0001F1EA!"_s),
              Ops {EditOp::insert(9, u"!"_s)});
    EXPECT_EQ(TextDiff::diff(u"\u0937\U0001F308 end"_s, u"\u0937\U0001F309 end"_s),
              (Ops {EditOp::deletion(1, 1), EditOp::insert(1, u"\U0001F309"_s)}));
    EXPECT_EQ(TextDiff::characterCount(u"\u0915\r\n"_s), 2);
}

TEST(TextDiff, applySkipsDeletesThatDoNotFitAndClampsInserts)
{
    const QString abc = u"abc"_s;
    const qint64 max = std::numeric_limits<qint64>::max();
    for (const EditOp &op :
         {EditOp::deletion(3, 1), EditOp::deletion(1, 0), EditOp::deletion(1, -1),
          EditOp::deletion(-1, 1), EditOp::deletion(2, 5), EditOp::deletion(max, 1),
          EditOp::deletion(1, max), EditOp {EditOpKind::Delete, 0, {}, {}},
          EditOp::insert(1, QString()), EditOp {EditOpKind::Insert, 1, {}, {}}})
        EXPECT_EQ(TextDiff::apply({op}, abc), abc) << op.pos;
    EXPECT_EQ(TextDiff::apply({EditOp::insert(1000, u"!"_s)}, abc), u"abc!"_s);
    EXPECT_EQ(TextDiff::apply({EditOp::insert(-5, u"!"_s)}, abc), u"!abc"_s);
    EXPECT_EQ(TextDiff::apply({EditOp::deletion(1, 1), EditOp::insert(max, u"!"_s)}, abc),
              u"ac!"_s);
    EXPECT_EQ(TextDiff::apply({EditOp::deletion(1, 1)}, u"\U0001F44D\U0001F3FD\u00e9x"_s),
              u"\U0001F44D\U0001F3FDx"_s);
    EXPECT_EQ(TextDiff::apply({EditOp::insert(1, u"\r\n"_s)}, u"a\r\nb"_s), u"a\r\n\r\nb"_s);
}

TEST(TextDiff, laterOperationsCountTheCharactersLeftByEarlierOnes)
{
    // An inserted combining mark stays its own element for the next operation.
    EXPECT_EQ(TextDiff::apply({EditOp::insert(1, u"\u0301"_s), EditOp::deletion(2, 1)}, u"abc"_s),
              u"a\u0301c"_s);
    // A delete that brings a base and a mark together does not merge them either: after the line
    // break goes, the mark is still the second element and "c" the third.
    EXPECT_EQ(TextDiff::apply({EditOp::deletion(1, 1), EditOp::deletion(2, 1)}, u"a\n\u0301c"_s),
              u"a\u0301"_s);
    EXPECT_EQ(TextDiff::apply({EditOp::insert(0, u"x"_s), EditOp::insert(0, u"y"_s)}, u"ab"_s),
              u"yxab"_s);
    EXPECT_EQ(TextDiff::apply({EditOp::deletion(1, 1), EditOp::insert(1, u"\u0301"_s)}, u"abc"_s),
              u"a\u0301c"_s);
    EXPECT_EQ(TextDiff::apply({EditOp::deletion(0, 1), EditOp::insert(2, u"!"_s)}, u"abcd"_s),
              u"bc!d"_s);
    EXPECT_EQ(TextDiff::apply({EditOp::deletion(0, 9), EditOp::insert(2, u"!"_s)}, u"abcd"_s),
              u"ab!cd"_s);
}

TEST(TextDiff, checkedApplyRefusesAWholeEditThatDoesNotFit)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    const QString abc = u"abc"_s;
    EXPECT_EQ(TextDiff::applyChecked({EditOp::deletion(1, 1), EditOp::insert(1, u"X"_s)}, abc),
              u"aXc"_s);
    EXPECT_EQ(TextDiff::applyChecked({EditOp::insert(3, u"!"_s)}, abc), u"abc!"_s);
    EXPECT_EQ(TextDiff::applyChecked({EditOp::insert(1, QString())}, abc), abc);
    EXPECT_FALSE(log.contains(u"edit dropped"_s));

    const QList<Ops> refused {
        {EditOp::deletion(2, 5), EditOp::insert(2, u"X"_s)}, // would leave the insert alone
        {EditOp::deletion(0, 1), EditOp::insert(3, u"X"_s)}, // past the end after the delete
        {EditOp::insert(4, u"X"_s)},
        {EditOp::insert(-1, u"X"_s)},
        {EditOp::deletion(0, 0)},
        {EditOp {EditOpKind::Delete, 0, {}, {}}},
        {EditOp::deletion(std::numeric_limits<qint64>::max(), 1)},
        {EditOp::insert(0, u"x"_s), EditOp::deletion(4, 1)},
        {EditOp::deletion(1, 1), EditOp::deletion(1, 1), EditOp::deletion(1, 1)},
    };
    for (const Ops &ops : refused)
        EXPECT_FALSE(TextDiff::applyChecked(ops, abc)) << ops.size();
    EXPECT_EQ(log.count(u"LiveSync: edit dropped"_s), refused.size());
}

TEST(TextDiff, randomEditsMatchTheWholeTextDiffAndApplyBack)
{
    std::mt19937 rng(20240917);
    for (int n = 0; n < 20000; ++n) {
        const QString a = randomText(rng, 12);
        const QString b = randomEdit(rng, a, 12);
        expectRoundTrip(a, b);
        if (HasFatalFailure())
            return;
    }
}

TEST(TextDiff, randomOperationListsApplyLikeTheArrayOfCharacters)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> opCount(1, 4);
    std::uniform_int_distribution<int> kind(0, 1);
    std::uniform_int_distribution<qint64> position(-2, 14);
    for (int n = 0; n < 20000; ++n) {
        const QString text = randomText(rng, 12);
        Ops ops;
        for (int k = opCount(rng); k > 0; --k) {
            if (kind(rng))
                ops.append(EditOp::insert(position(rng), randomText(rng, 3)));
            else
                ops.append(EditOp::deletion(position(rng), position(rng)));
        }
        ASSERT_EQ(TextDiff::apply(ops, text), naiveApply(ops, text)) << text.toStdString();
        ASSERT_EQ(TextDiff::applyChecked(ops, text), naiveApply(ops, text, true));
    }
}

TEST(TextDiff, longOperationListsApplyLikeTheArrayOfCharacters)
{
    // Many operations that fit, on one text: pieces of the text and of earlier inserts are cut,
    // removed and put together again, at seams between Characters of several code points. One
    // operation that does not fit, put in somewhere, refuses the checked edit.
    std::mt19937 rng(31);
    const QString plain = u"plain ASCII prose\n"_s.repeated(300);
    for (int n = 0; n < 300; ++n) {
        // Some texts long enough to be located in several stretches, plain and mixed.
        const QString text = n % 10 ? randomText(rng, 60) : plain + randomText(rng, 60) + plain;
        Ops ops;
        qint64 size = naive::characters(text).size();
        for (int k = 0; k < 150; ++k) {
            if (size == 0 || rng() % 2) {
                const QString piece = randomText(rng, 3) + u"x"_s;
                ops.append(EditOp::insert(qint64(rng() % quint64(size + 1)), piece));
                size += naive::characters(piece).size();
            } else {
                const qint64 at = qint64(rng() % quint64(size));
                const qint64 len = 1 + qint64(rng() % quint64(std::min<qint64>(size - at, 4)));
                ops.append(EditOp::deletion(at, len));
                size -= len;
            }
        }
        ASSERT_EQ(TextDiff::apply(ops, text), naiveApply(ops, text)) << text.toStdString();
        ASSERT_EQ(TextDiff::applyChecked(ops, text), naiveApply(ops, text));
        ops.insert(qsizetype(rng() % 150),
                   n % 2 ? EditOp::deletion(-1, 1) : EditOp::insert(-1, u"!"_s));
        ASSERT_EQ(TextDiff::apply(ops, text), naiveApply(ops, text)) << text.toStdString();
        ASSERT_FALSE(TextDiff::applyChecked(ops, text));
    }
}

TEST(TextDiff, checkedApplyRefusesEditsBeyondTheLimits)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    const QString text = u"abcdef"_s;
    const EditLimits limits {.maxOperations = 3, .maxTextLength = 8};

    Ops three(3, EditOp::insert(0, u"x"_s));
    EXPECT_EQ(TextDiff::applyChecked(three, u"ab"_s, limits), u"xxxab"_s);
    three.append(EditOp::insert(0, QString()));
    EXPECT_FALSE(TextDiff::applyChecked(three, u"ab"_s, limits));
    EXPECT_TRUE(log.contains(u"LiveSync: edit dropped, 4 operations are more than 3"_s));

    // Growing past the size: whether the text or one insert alone is too large.
    EXPECT_EQ(TextDiff::applyChecked({EditOp::insert(6, u"gh"_s)}, text, limits), u"abcdefgh"_s);
    EXPECT_FALSE(TextDiff::applyChecked({EditOp::insert(6, u"ghi"_s)}, text, limits));
    EXPECT_FALSE(TextDiff::applyChecked({EditOp::deletion(0, 6), EditOp::insert(0, u"123456789"_s)},
                                        text, limits));
    EXPECT_FALSE(TextDiff::applyChecked(
        {EditOp::insert(0, u"12"_s), EditOp::deletion(0, 1), EditOp::insert(0, u"34"_s)}, text,
        limits));
    EXPECT_EQ(log.count(u"LiveSync: edit dropped, the document would exceed 8 code units"_s), 3);
    // Room made by a delete can be filled again.
    EXPECT_EQ(TextDiff::applyChecked({EditOp::deletion(0, 4), EditOp::insert(0, u"1234"_s)}, text,
                                     limits),
              u"1234ef"_s);
    EXPECT_EQ(TextDiff::applyChecked(
                  {EditOp::deletion(0, 3), EditOp::insert(3, u"12345"_s), EditOp::deletion(0, 1)},
                  text, limits),
              u"ef12345"_s);
    // The defaults: ten thousand operations are an edit, one more is not.
    EXPECT_TRUE(TextDiff::applyChecked(Ops(10000, EditOp::insert(0, u"y"_s)), text));
    EXPECT_FALSE(TextDiff::applyChecked(Ops(10001, EditOp::insert(0, u"y"_s)), text));
}

TEST(TextDiff, largeDocumentsStayExactAcrossManyKeystrokes)
{
    // Large enough for the remembered Character index; edits near, inside and across lines.
    std::mt19937 rng(99);
    const QStringList words {u"Gr\u00fc\u00dfe "_s,
                             u"caf\u00e9 "_s,
                             u"e\u0301t\u00e9 "_s,
                             u"\U0001F44D\U0001F3FD "_s,
                             u"\U0001F1E9\U0001F1EA "_s,
                             u"\uD55C\uAD6D\uC5B4 "_s,
                             u"plain "_s,
                             u"text "_s,
                             u"\r\n"_s,
                             u"\n"_s,
                             u"\u4E2D\u6587"_s,
                             u"\u0915\u094D\u0937 "_s};
    QString doc;
    while (doc.size() < 20000)
        doc += randomText(rng, 20, words);
    QString remote = QString(doc.constData(), doc.size()); // another buffer, as on a peer

    std::uniform_int_distribution<int> kind(0, 5);
    for (int step = 0; step < 200; ++step) {
        std::uniform_int_distribution<qsizetype> at(0, doc.size());
        const qsizetype from = at(rng);
        QString next;
        switch (kind(rng)) {
        case 0: // paste a few lines
            next = doc.left(from) + randomText(rng, 40, words) + doc.mid(from);
            break;
        case 1: // delete a stretch, possibly across lines
            next = doc.left(from) + doc.mid(std::min(doc.size(), from + at(rng) % 200));
            break;
        default: // type or erase one piece
            next = doc.left(from) + randomText(rng, 1) + doc.mid(from + (step % 3 == 0));
            break;
        }
        const Ops ops = TextDiff::diff(doc, next);
        ASSERT_EQ(ops, naive::diff(doc, next)) << "step " << step;
        remote = TextDiff::apply(ops, remote);
        ASSERT_EQ(nfd(remote), nfd(next)) << "step " << step;
        ASSERT_EQ(TextDiff::characterCount(next), naive::characters(next).size());
        doc = next;
    }
}

TEST(TextDiff, mapsCharactersToUtf16Offsets)
{
    const QString text = u"a\U0001F44D\U0001F3FDe\u0301\r\nz"_s;
    EXPECT_EQ(TextDiff::characterCount(text), 5);
    EXPECT_EQ(TextDiff::utf16Offset(text, 0), 0);
    EXPECT_EQ(TextDiff::utf16Offset(text, 2), 5);
    EXPECT_EQ(TextDiff::utf16Offset(text, 4), 9);
    EXPECT_EQ(TextDiff::utf16Offset(text, 5), text.size());
    EXPECT_FALSE(TextDiff::utf16Offset(text, 6));
    EXPECT_FALSE(TextDiff::utf16Offset(text, -1));
    QString big;
    for (int i = 0; i < 5000; ++i)
        big += u"\u00e9\U0001F600x"_s;
    EXPECT_EQ(TextDiff::characterCount(big), 15000);
    EXPECT_EQ(TextDiff::utf16Offset(big, 14999), big.size() - 1);
}
