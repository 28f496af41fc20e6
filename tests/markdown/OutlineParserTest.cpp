#include "core/markdown/OutlineParser.h"

#include <gtest/gtest.h>

namespace {

struct Heading
{
    int level;
    QString title;
    int line;
    friend bool operator==(const Heading &, const Heading &) = default;
};

void PrintTo(const Heading &h, std::ostream *os)
{
    *os << "(" << h.level << ", \"" << h.title.toStdString() << "\", " << h.line << ")";
}

std::vector<Heading> headings(const QString &text)
{
    std::vector<Heading> result;
    for (const OutlineItem &item : OutlineParser::parse(text))
        result.push_back({item.level, item.title, item.line});
    return result;
}

} // namespace

TEST(OutlineParser, listsTopLevelHeadingsInOrder)
{
    EXPECT_TRUE(headings(QString()).empty());
    EXPECT_TRUE(headings(QStringLiteral("just text\n\n- a list")).empty());
    EXPECT_EQ(headings(QStringLiteral("# A\n\n## B")),
              (std::vector<Heading> {{1, "A", 1}, {2, "B", 3}}));
    // Headings inside containers are not listed.
    EXPECT_EQ(headings(QStringLiteral("> # Quoted\n\n- # In item\n\n### Top")),
              (std::vector<Heading> {{3, "Top", 5}}));
}

TEST(OutlineParser, setextHeadingsAndFrontMatter)
{
    EXPECT_EQ(headings(QStringLiteral("Line one\nline two\n---")),
              (std::vector<Heading> {{2, "Line one line two", 1}}));
    EXPECT_EQ(headings(QStringLiteral("Title\n=====\n")), (std::vector<Heading> {{1, "Title", 1}}));
    // The first "---" is a thematic break, the second underlines the key line.
    EXPECT_EQ(headings(QStringLiteral("---\nkey: value\n---\n\n# Doc")),
              (std::vector<Heading> {{2, "key: value", 2}, {1, "Doc", 5}}));
}

TEST(OutlineParser, titlesArePlainTextWithSmartPunctuation)
{
    EXPECT_EQ(
        headings(QStringLiteral("## `code` and *em* [link](x) don't -- \"q\"...")),
        (std::vector<Heading> {
            {2, QStringLiteral("`code` and em link don\u2019t \u2013 \u201Cq\u201D\u2026"), 1}}));
    // One backtick on each side whatever the source run; escapes and entities decoded.
    EXPECT_EQ(
        headings(QStringLiteral("# ``a`b`` \\*x\\* &amp; ~~s~~ ![img *d*](p.png) <b>h</b> ---")),
        (std::vector<Heading> {{1, QStringLiteral("`a`b` *x* & s img d <b>h</b> \u2014"), 1}}));
    EXPECT_EQ(headings(QStringLiteral("Hard  \nbreak\n===")),
              (std::vector<Heading> {{1, QStringLiteral("Hard\nbreak"), 1}}));
}

TEST(OutlineParser, atxEdgeCases)
{
    EXPECT_EQ(headings(QStringLiteral("# Title #")), (std::vector<Heading> {{1, "Title", 1}}));
    EXPECT_TRUE(headings(QStringLiteral("#nohash")).empty());
    EXPECT_TRUE(headings(QStringLiteral("####### seven")).empty());
    EXPECT_EQ(headings(QStringLiteral("#")), (std::vector<Heading> {{1, "", 1}}));
    EXPECT_EQ(headings(QStringLiteral("###### six")), (std::vector<Heading> {{6, "six", 1}}));
    EXPECT_EQ(headings(QStringLiteral("x\r\n\r\n# CRLF\r\n")),
              (std::vector<Heading> {{1, "CRLF", 3}}));
}

TEST(OutlineParser, everyParseDrawsFreshIds)
{
    const auto first = OutlineParser::parse(QStringLiteral("# A\n## B"));
    const auto second = OutlineParser::parse(QStringLiteral("# A\n## B"));
    ASSERT_EQ(first.size(), 2);
    ASSERT_EQ(second.size(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(first[i].level, second[i].level);
        EXPECT_EQ(first[i].title, second[i].title);
        EXPECT_EQ(first[i].line, second[i].line);
        EXPECT_NE(first[i].id, second[i].id);
    }
    EXPECT_NE(first[0].id, first[1].id);
}

TEST(OutlineParser, sharedParseGivesTheSameItems)
{
    const QString text = QStringLiteral("# A\n\n> # no\n\n## B *c*");
    const auto fresh = OutlineParser::parse(text);
    const auto shared = OutlineParser::parse(MarkdownDocument(text));
    ASSERT_EQ(fresh.size(), shared.size());
    for (qsizetype i = 0; i < fresh.size(); ++i) {
        EXPECT_EQ(fresh[i].title, shared[i].title);
        EXPECT_EQ(fresh[i].line, shared[i].line);
    }
}
