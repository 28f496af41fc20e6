#include "platform/RegularExpression.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QString replaced(const QString &pattern, const QString &text, const QString &replacement)
{
    const auto re = RegularExpression::compile(pattern);
    if (!re)
        return u"<invalid>"_s;
    return re->replaceAll(text, replacement).value_or(u"<failed>"_s);
}

QStringList matches(const QString &pattern, const QString &text)
{
    QStringList found;
    RegularExpression::compile(pattern)->forEachMatch(text, [&](qsizetype from, qsizetype to) {
        found << text.mid(from, to - from);
        return found.size() < 3;
    });
    return found;
}

} // namespace

TEST(RegularExpression, speaksIcuSyntaxAndTemplates)
{
    EXPECT_EQ(replaced(u"[[a-z]--[aeiou]]"_s, u"hello"_s, u"_"_s), u"_e__o"_s);
    EXPECT_EQ(replaced(u"\\N{LATIN SMALL LETTER A}"_s, u"cat"_s, u"_"_s), u"c_t"_s);
    EXPECT_EQ(replaced(u"(?<v>a)"_s, u"cat"_s, u"[${v}|$1|\\$1]"_s), u"c[a|a|$1]t"_s);
    EXPECT_EQ(replaced(u"\\p{Lu}"_s, u"aÄb"_s, u"_"_s), u"a_b"_s);
    EXPECT_EQ(replaced(u"(a"_s, u"a"_s, u"_"_s), u"<invalid>"_s);
    EXPECT_EQ(replaced(u"(a)"_s, u"a"_s, u"$3"_s), u"<failed>"_s);
    EXPECT_EQ(replaced(u"x*"_s, u"ab"_s, u"-"_s), u"-a-b-"_s);
    EXPECT_EQ(matches(u"\\d+"_s, u"1 22 333 4444"_s), (QStringList {u"1"_s, u"22"_s, u"333"_s}));
}

TEST(RegularExpression, crLfIsOneLineEnd)
{
    EXPECT_EQ(replaced(u"$"_s, u"a\r\nb\r\n"_s, u"|"_s), u"a\r\nb|\r\n|"_s);
    EXPECT_EQ(replaced(u"(?m)$"_s, u"a\r\nb"_s, u"|"_s), u"a|\r\nb|"_s);
    EXPECT_EQ(replaced(u"."_s, u"a\r\nb"_s, u"_"_s), u"_\r\n_"_s);
    // Empty matches between CR and LF do not count.
    EXPECT_EQ(replaced(u"x*"_s, u"\r\n"_s, u"-"_s), u"-\r\n-"_s);
    EXPECT_EQ(replaced(u"\\B"_s, u"\r\n"_s, u"-"_s), u"-\r\n-"_s);
    EXPECT_EQ(matches(u"\\B"_s, u"\r\n"_s), (QStringList {QString(), QString()}));
}

TEST(RegularExpression, runawayBacktrackingFailsInsteadOfHanging)
{
    const QString text = QString(40, u'a') + u"b"_s;
    const auto re = RegularExpression::compile(u"(a+)+$"_s);
    EXPECT_FALSE(re->replaceAll(text, u"x"_s));
    EXPECT_FALSE(re->forEachMatch(text, [](qsizetype, qsizetype) { return true; }));
}
