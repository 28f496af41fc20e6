#include "EditorFixture.h"

#include "Velto/editor/MarkdownHighlighter.h"
#include "Velto/model/DocumentAnalysis.h"
#include "core/highlight/SyntaxHighlighter.h"
#include "core/markdown/TextAnalysis.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

QString longDocument()
{
    QString text;
    for (int i = 0; text.size() < backgroundParseSize + 20000; ++i)
        text += QStringLiteral("## Part %1\n\nSome *emphasis*, **strong** and `code` in %1.\n\n"
                               "- item [link](http://x/%1)\n- ~~gone~~ item\n\n"
                               "```\nint x = %1;\n```\n\n")
                    .arg(i);
    return text;
}

bool runsEqual(const HighlightRuns &a, const HighlightRuns &b)
{
    if (a.lineCount() != b.lineCount())
        return false;
    for (qsizetype i = 0; i < a.lineCount(); ++i) {
        if (!HighlightRuns::sameRuns(a.line(i), b.line(i)))
            return false;
    }
    return true;
}

// Whether every block shows exactly the runs of its line.
bool blocksShow(const VeltoTextView *view, const HighlightRuns &runs)
{
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
        const QList<QTextLayout::FormatRange> formats = block.layout()->formats();
        const auto line = runs.line(block.blockNumber());
        if (qsizetype(formats.size()) != qsizetype(line.size()))
            return false;
        for (qsizetype i = 0; i < formats.size(); ++i) {
            if (formats[i].start != int(line[size_t(i)].start)
                || formats[i].length != int(line[size_t(i)].length))
                return false;
        }
    }
    return true;
}

qsizetype newlines(const TextAnalysis &analysis)
{
    return analysis.text().count(u'\n');
}

} // namespace

TEST(BackgroundHighlight, aShortTextIsStyledFromAFreshParseBeforeTheNextEvent)
{
    EditorFixture f(QStringLiteral("plain\n\nmore"));
    f.select(5, 5);
    QTest::keyClicks(f.view(), QStringLiteral(" *a*"));
    EXPECT_TRUE(f.controller()->isHighlightCurrent());
    EXPECT_TRUE(runsEqual(f.controller()->highlighter()->runs(),
                          SyntaxHighlighter::highlight(f.documentText())));
}

// Random bursts of edits in a long text, with the event loop running now and then so that some
// parses land in the middle of a burst and others arrive too late. Whenever styles are applied
// they must be those of the text the view holds at that moment, and after the burst the view
// ends styled exactly as a fresh parse of the final text.
TEST(BackgroundHighlight, stylesThatLandAreAlwaysThoseOfTheCurrentTextAndEndAsAFreshParse)
{
    const QStringList pieces {QStringLiteral("a"),    QStringLiteral("*"),  QStringLiteral("`"),
                              QStringLiteral("\n"),   QStringLiteral("# "), QStringLiteral("```\n"),
                              QStringLiteral("**b"),  QStringLiteral("- "), QStringLiteral("~~"),
                              QStringLiteral("word ")};
    for (const quint32 seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        EditorFixture f(longDocument());
        EditorController *controller = f.controller();
        // A long text put in is styled when its parse lands.
        ASSERT_TRUE(QTest::qWaitFor([&] { return controller->isHighlightCurrent(); }, 20000));
        EXPECT_TRUE(runsEqual(controller->highlighter()->runs(),
                              SyntaxHighlighter::highlight(f.documentText())));

        int landed = 0;
        int stale = 0;
        int unshown = 0;
        QObject::connect(controller, &EditorController::highlightApplied, [&] {
            ++landed;
            MarkdownHighlighter *highlighter = controller->highlighter();
            if (!runsEqual(highlighter->runs(), SyntaxHighlighter::highlight(f.documentText())))
                ++stale;
            // Every block shows the runs, also where only some lines were compared.
            highlighter->restyleDeferred(0, f.view()->document()->blockCount());
            if (!blocksShow(f.view(), highlighter->runs()))
                ++unshown;
        });

        // Another consumer's part made only now and then, as the preview's is: a revision that
        // lacks it is no base, so the styles of several keystrokes come from one earlier revision.
        QObject lagging;
        auto asked = std::make_shared<std::atomic<int>>(0);
        DocumentAnalysis::of(f.workspace).setPreparation(&lagging, [asked](const TextAnalysis &a) {
            if (++*asked % 4 == 0)
                a.derived(&newlines);
        });

        QRandomGenerator random(seed);
        QString expected = f.workspace.text();
        for (int edit = 0; edit < 120; ++edit) {
            QTextCursor cursor(f.view()->document());
            const int length = int(expected.size());
            const int at = int(random.bounded(length + 1));
            cursor.setPosition(at);
            if (random.bounded(3) == 0) {
                const int gone = std::min<int>(int(random.bounded(6)) + 1, length - at);
                cursor.setPosition(at + gone, QTextCursor::KeepAnchor);
                cursor.removeSelectedText();
                expected.remove(at, gone);
            } else {
                const QString piece = pieces[int(random.bounded(pieces.size()))];
                cursor.insertText(piece);
                expected.insert(at, piece);
            }
            ASSERT_FALSE(controller->isHighlightCurrent());
            if (random.bounded(8) == 0)
                QTest::qWait(int(random.bounded(40)));
        }
        EXPECT_EQ(f.workspace.text(), expected);
        ASSERT_TRUE(QTest::qWaitFor([&] { return controller->isHighlightCurrent(); }, 20000));
        const HighlightRuns fresh = SyntaxHighlighter::highlight(expected);
        EXPECT_TRUE(runsEqual(controller->highlighter()->runs(), fresh));
        // Blocks out of view take their styles when they are shown.
        controller->highlighter()->restyleDeferred(0, f.view()->document()->blockCount());
        EXPECT_TRUE(blocksShow(f.view(), fresh));
        EXPECT_GE(landed, 1);
        EXPECT_EQ(stale, 0);
        EXPECT_EQ(unshown, 0);
    }
}

// When most of a long text changes its look at once, the blocks in view are restyled at once and
// the others as they come into view.
TEST(BackgroundHighlight, blocksOutOfViewAreRestyledWhenShown)
{
    EditorFixture f(longDocument());
    EditorController *controller = f.controller();
    QTextCursor cursor(f.view()->document());
    cursor.insertText(QStringLiteral("```\n")); // everything below becomes code
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->isHighlightCurrent(); }, 20000));
    const QTextDocument *doc = f.view()->document();
    const auto [first, last] = f.view()->visibleBlocks();
    for (int i = first; i <= last; ++i)
        EXPECT_FALSE(MarkdownHighlighter::isDeferred(doc->findBlockByNumber(i))) << i;
    int deferred = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        deferred += MarkdownHighlighter::isDeferred(block) ? 1 : 0;
    EXPECT_GT(deferred, 500);

    f.view()->moveCursor(QTextCursor::End);
    f.view()->repaint();
    const auto [endFirst, endLast] = f.view()->visibleBlocks();
    EXPECT_GT(endFirst, last);
    for (int i = endFirst; i <= endLast; ++i)
        EXPECT_FALSE(MarkdownHighlighter::isDeferred(doc->findBlockByNumber(i))) << i;
    controller->highlighter()->restyleDeferred(0, doc->blockCount());
    EXPECT_TRUE(blocksShow(f.view(), SyntaxHighlighter::highlight(f.documentText())));
}

// An edit over several blocks that changes only its first line: the blocks it spans after that
// line keep the text but were restyled with the edit, so they take their styles again.
TEST(BackgroundHighlight, linesAnEditSpannedTakeTheirStylesAgain)
{
    EditorFixture f(longDocument());
    EditorController *controller = f.controller();
    QTextCursor cursor(f.view()->document());
    // Styles that came with an edit are what the next ones are compared with.
    cursor.insertText(QStringLiteral("x"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->isHighlightCurrent(); }, 20000));
    const QString text = f.workspace.text();
    const int at = int(text.indexOf(QStringLiteral("## Part 40\n")));
    const int end = int(text.indexOf(QStringLiteral("- ~~gone~~"), at));
    cursor.setPosition(at);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.insertText(QString(text.mid(at, end - at)).replace(QStringLiteral("Part"), "Bit"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->isHighlightCurrent(); }, 20000));
    controller->highlighter()->restyleDeferred(0, f.view()->document()->blockCount());
    EXPECT_TRUE(blocksShow(f.view(), SyntaxHighlighter::highlight(f.documentText())));
}
