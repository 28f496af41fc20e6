#include "core/highlight/RunShift.h"
#include "core/highlight/SyntaxHighlighter.h"

#include <QStringList>

#include <random>

#include <gtest/gtest.h>

namespace {

std::vector<HighlightRun> lineOf(const HighlightRuns &runs, qsizetype line)
{
    const auto span = runs.line(line);
    return {span.begin(), span.end()};
}

} // namespace

// Until the parse of an edited text lands, its runs are those of the old text moved along.
TEST(RunShift, runsMoveWithTypingLineBreaksAndJoinedLines)
{
    const HighlightRuns before
        = SyntaxHighlighter::highlight(QStringLiteral("a **bc** d\nx *y*\nz"));
    ASSERT_EQ(before.lineCount(), 3);

    // "q" typed between b and c: the strong run grows, the runs after it move one on.
    const HighlightRuns typed = shiftRuns(before, {0, 5, 0, 5, 0, 6});
    EXPECT_EQ(typed.lineCount(), 3);
    for (const HighlightRun &run : lineOf(typed, 0)) {
        const HighlightRun *old = nullptr;
        for (const HighlightRun &o : before.line(0))
            if (o.style == run.style && (o.start == run.start || o.start + 1 == run.start))
                old = &o;
        ASSERT_NE(old, nullptr);
        if (run.start <= 5 && run.start + run.length > 5)
            EXPECT_EQ(run.length, old->length + 1);
        else
            EXPECT_EQ(run.start, old->start < 5 ? old->start : old->start + 1);
    }
    EXPECT_EQ(lineOf(typed, 1), lineOf(before, 1));

    // A line break after "a ": the first line keeps nothing past it, the new second line holds
    // the rest moved to its start, the old second line moves down untouched.
    const HighlightRuns broken = shiftRuns(before, {0, 2, 0, 2, 1, 0});
    ASSERT_EQ(broken.lineCount(), 4);
    EXPECT_TRUE(lineOf(broken, 0).empty());
    ASSERT_FALSE(lineOf(broken, 1).empty());
    EXPECT_EQ(lineOf(broken, 1).front().start, lineOf(before, 0).front().start - 2);
    EXPECT_EQ(lineOf(broken, 2), lineOf(before, 1));
    EXPECT_EQ(lineOf(broken, 3), lineOf(before, 2));

    // Joining the first two lines (the line break removed): the second line's runs follow the
    // first line's end, and what was below moves up.
    const HighlightRuns joined = shiftRuns(before, {0, 10, 1, 0, 0, 10});
    ASSERT_EQ(joined.lineCount(), 2);
    const std::vector<HighlightRun> second = lineOf(before, 1);
    const std::vector<HighlightRun> now = lineOf(joined, 0);
    ASSERT_GE(now.size(), second.size());
    EXPECT_EQ(now.back().start, second.back().start + 10);
    EXPECT_EQ(lineOf(joined, 1), lineOf(before, 2));
}

// Split lines keep every character's style: runs reaching over a split go on in the next piece.
TEST(RunShift, splitLinesKeepEachCharactersStyle)
{
    const QString text = QStringLiteral("a **bold words** and `code` c\n\n*x* [link](u)\nend");
    const HighlightRuns runs = SyntaxHighlighter::highlight(text);
    const std::vector<LineSplit> splits = {{0, 0}, {0, 5}, {0, 5}, {0, 18}, {2, 4}, {2, 13}};
    const HighlightRuns split = splitLines(runs, splits);
    ASSERT_EQ(split.lineCount(), runs.lineCount() + qsizetype(splits.size()));

    // Style of each character of a line, from its runs.
    auto styles = [](std::span<const HighlightRun> line, qsizetype length) {
        std::vector<int> out(size_t(length), -1);
        for (const HighlightRun &run : line)
            for (std::uint32_t i = run.start; i < run.start + run.length; ++i)
                out.at(i) = run.style;
        return out;
    };
    const QStringList lines = text.split(u'\n');
    qsizetype shown = 0;
    for (qsizetype line = 0; line < lines.size(); ++line) {
        const std::vector<int> whole = styles(runs.line(line), lines[line].size());
        qsizetype from = 0;
        for (const LineSplit &s : splits) {
            if (s.line != line)
                continue;
            const std::vector<int> piece = styles(split.line(shown++), s.column - from);
            EXPECT_EQ(piece, std::vector<int>(whole.begin() + from, whole.begin() + s.column));
            from = s.column;
        }
        const std::vector<int> rest = styles(split.line(shown++), lines[line].size() - from);
        EXPECT_EQ(rest, std::vector<int>(whole.begin() + from, whole.end())) << line;
    }
}

// Runs are kept in shared chunks: replaced lines, lines moved after them and copies taken before
// an edit must all stay what a plain list of lines would hold, over many edits and chunk
// boundaries.
TEST(RunShift, replacedLinesMatchAPlainListOverManyEdits)
{
    using Lines = std::vector<std::vector<HighlightRun>>;
    std::mt19937 random(7);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    auto makeLines = [&](int count) {
        Lines lines(static_cast<size_t>(count));
        for (auto &line : lines)
            for (int r = pick(3); r > 0; --r)
                line.push_back({std::uint32_t(pick(80)), std::uint32_t(1 + pick(9)),
                                std::uint8_t(1 + pick(200))});
        return lines;
    };
    auto build = [](const Lines &lines) {
        HighlightRuns runs;
        for (const auto &line : lines) {
            for (const HighlightRun &run : line)
                runs.addRun(run.start, run.length, run.style);
            runs.endLine();
        }
        return runs;
    };
    auto expectSame = [](const HighlightRuns &runs, const Lines &lines) {
        ASSERT_EQ(runs.lineCount(), qsizetype(lines.size()));
        for (qsizetype i = 0; i < runs.lineCount(); ++i)
            ASSERT_EQ(lineOf(runs, i), lines[size_t(i)]) << i;
    };

    Lines plain = makeLines(3000);
    HighlightRuns runs = build(plain);
    for (int edit = 0; edit < 300; ++edit) {
        const int size = int(plain.size());
        int first = pick(size + 1);
        int count = std::min(pick(edit % 25 == 0 ? 900 : 4), size - first);
        if (edit % 7 == 0) { // the end cut off, but for a few lines
            first = std::max(0, size - pick(300));
            count = std::max(0, size - first - pick(5));
        }
        const Lines inserted = makeLines(edit % 30 == 0 ? 700 : pick(4));
        const HighlightRuns before = runs;
        const Lines plainBefore = plain;
        runs.replaceLines(first, count, build(inserted));
        plain.erase(plain.begin() + first, plain.begin() + first + count);
        plain.insert(plain.begin() + first, inserted.begin(), inserted.end());
        expectSame(runs, plain);
        expectSame(before, plainBefore);

        // The changed lines are those the edit replaced, and only they, compared either side of
        // it with the line shift.
        const qsizetype shift = qsizetype(inserted.size()) - count;
        std::vector<qsizetype> reported;
        runs.forEachChangedLine(before, 0, 0, first, [&](qsizetype l) { reported.push_back(l); });
        runs.forEachChangedLine(before, shift, first + qsizetype(inserted.size()), runs.lineCount(),
                                [&](qsizetype l) { reported.push_back(l); });
        EXPECT_TRUE(reported.empty()) << edit;
        std::vector<qsizetype> expected;
        for (qsizetype l = 0; l < runs.lineCount(); ++l)
            if (size_t(l) >= plainBefore.size() || plain[size_t(l)] != plainBefore[size_t(l)])
                expected.push_back(l);
        reported.clear();
        runs.forEachChangedLine(before, 0, 0, runs.lineCount(),
                                [&](qsizetype l) { reported.push_back(l); });
        EXPECT_EQ(reported, expected) << edit;
    }
    EXPECT_EQ(runs.runCount(), build(plain).runCount());
}
