#include "QStringPrinter.h"
#include "WebTestSupport.h"
#include "support/TestSupport.h"

#include "PreviewControllerTestAccess.h"
#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewPage.h"
#include "Velto/preview/PreviewView.h"
#include "support/LogCapture.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QString mixedDocument = QStringLiteral("# Title\n\nInline $E=mc^2$ here.\n\n"
                                             "```cpp\nint x = 1;\n```\n\n"
                                             "```mermaid\ngraph TD\n  A-->B\n```\n");

struct PreviewWebTest : ::testing::Test
{
    PreviewController::Style style;
    std::unique_ptr<PreviewView> view;

    void open(const QString &markdown, PreviewController::Sources sources)
    {
        view = std::make_unique<PreviewView>(markdown, std::move(sources), webtest::pageHandler());
        view->show();
        ASSERT_TRUE(settled(60s)) << "the preview never became ready";
    }
    void open(const QString &markdown, const QStringList &withoutLibraries = {})
    {
        open(markdown, webtest::sources(&style, withoutLibraries));
    }
    bool settled(std::chrono::milliseconds timeout = 20s)
    {
        return testsupport::waitUntil(
            [&] { return view->controller().jsReady() && !view->controller().swapInFlight(); },
            timeout);
    }
    void swapTo(const QString &markdown)
    {
        view->setMarkdown(markdown);
        ASSERT_TRUE(settled());
    }
    QVariant js(const QString &script) { return webtest::evaluate(view->page(), script); }
    int count(const QString &selector)
    {
        return js(QStringLiteral("document.querySelectorAll('%1').length").arg(selector)).toInt();
    }
};

TEST_F(PreviewWebTest, thePageDefinesTheLibrariesAndServesFromItsOwnScheme)
{
    open(QStringLiteral("# Hello"));
    EXPECT_EQ(js(QStringLiteral("typeof katex")).toString(), QStringLiteral("object"));
    EXPECT_EQ(js(QStringLiteral("typeof hljs")).toString(), QStringLiteral("object"));
    EXPECT_EQ(js(QStringLiteral("typeof mermaid")).toString(), QStringLiteral("object"));
    EXPECT_EQ(js(QStringLiteral("typeof renderMathInElement")).toString(),
              QStringLiteral("function"));
    EXPECT_EQ(js(QStringLiteral("typeof window._scrollToSourceLine")).toString(),
              QStringLiteral("function"));
    EXPECT_EQ(js(QStringLiteral("location.protocol")).toString(), QStringLiteral("velto-page:"));
    // The local API evaluates code with an indirect eval; the page must allow it.
    EXPECT_EQ(js(QStringLiteral("(0,eval)('1+1')")).toInt(), 2);
    EXPECT_EQ(
        js(QStringLiteral("document.querySelector('h1').getAttribute('data-line')")).toString(),
        QStringLiteral("1"));
}

TEST_F(PreviewWebTest, theFirstDocumentIsRenderedWithThemeAndWidthBeforeAnyKeystroke)
{
    // Apostrophes, backslashes and line breaks (a style sheet file has them) arrive intact.
    const QString css = QStringLiteral("body{color:rgb(1, 2, 3);}\na::after{content:'\\'}");
    style = {true, css};
    open(mixedDocument);
    EXPECT_EQ(
        js(QStringLiteral("document.getElementById('theme-override').textContent")).toString(),
        css);
    EXPECT_GT(count(QStringLiteral(".katex")), 0);
    EXPECT_GT(count(QStringLiteral("code.hljs")), 0);
    EXPECT_EQ(js(QStringLiteral("document.body.style.maxWidth")).toString(),
              QStringLiteral("none"));
    EXPECT_EQ(js(QStringLiteral("getComputedStyle(document.body).color")).toString(),
              QStringLiteral("rgb(1, 2, 3)"));
    EXPECT_TRUE(webtest::waitForTrue(
        view->page(), QStringLiteral("document.querySelectorAll('.mermaid svg').length > 0")));
}

TEST_F(PreviewWebTest, aBodySwapRendersMathematicsHighlightedCodeAndADiagram)
{
    open(QStringLiteral("start"));
    EXPECT_EQ(count(QStringLiteral(".katex")), 0);
    swapTo(mixedDocument);
    EXPECT_EQ(js(QStringLiteral("document.querySelector('h1').textContent")).toString(),
              QStringLiteral("Title"));
    EXPECT_GT(count(QStringLiteral(".katex")), 0);
    EXPECT_GT(count(QStringLiteral("code.hljs")), 0);
    EXPECT_EQ(count(QStringLiteral("code.language-mermaid")), 0);
    EXPECT_TRUE(webtest::waitForTrue(
        view->page(), QStringLiteral("document.querySelectorAll('.mermaid svg').length > 0")));
    EXPECT_EQ(count(QStringLiteral("#theme-override")), 1);
}

TEST_F(PreviewWebTest, withoutADocumentFolderRelativeImagesStayEmptyWhileInlineImagesShow)
{
    open(QStringLiteral("start"));
    swapTo(
        QStringLiteral("![a](bild.png)\n\n![b](data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEA"
                       "AAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=)\n"));
    ASSERT_TRUE(webtest::waitForTrue(view->page(),
                                     QStringLiteral("Array.prototype.every.call(document.images,"
                                                    "function(i){return i.complete;})")));
    EXPECT_EQ(js(QStringLiteral("document.images[0].naturalWidth")).toInt(), 0);
    EXPECT_EQ(js(QStringLiteral("document.images[1].naturalWidth")).toInt(), 1);
}

TEST_F(PreviewWebTest, parenthesesStayTextWhileBackslashParenthesesAreMathematics)
{
    // "\\(" in Markdown is an escaped backslash followed by "(", so the page receives "\(x\)".
    open(QStringLiteral("(see above) and \\\\(x\\\\) and \\\\[y\\\\]"));
    EXPECT_EQ(count(QStringLiteral(".katex")), 2);
    EXPECT_TRUE(js(QStringLiteral("document.body.innerText"))
                    .toString()
                    .contains(QStringLiteral("(see above)")));
}

// KaTeX keeps the TeX it typeset in an annotation: it is what the author wrote, backslashes and
// asterisks included, with each of the page's delimiters.
TEST_F(PreviewWebTest, mathematicsReachesKatexAsWritten)
{
    open(QStringLiteral("$$\\int_0^1 x^2\\,dx$$ and $\\{a*b*\\}$ and \\(c_*\\) `$d$`"));
    EXPECT_EQ(js(QStringLiteral("Array.from(document.querySelectorAll('annotation'))"
                                ".map(a => a.textContent).join('|')"))
                  .toString(),
              QStringLiteral("\\int_0^1 x^2\\,dx|\\{a*b*\\}|c_*"));
    EXPECT_EQ(count(QStringLiteral("code .katex")), 0);
}

TEST_F(PreviewWebTest, scrollToSourceLinePicksTheFirstElementWithTheLargestLineNotAfterIt)
{
    open(QStringLiteral("# Title\n\npara\n\n- item one\n- item two\n\ntext\n"));
    js(QStringLiteral(
        "window.__hits=[];Element.prototype.scrollIntoView=function(o){"
        "window.__hits.push(this.tagName+':'+this.getAttribute('data-line')+':'+o.block);}"));
    auto hit = [&](int line) {
        js(QStringLiteral("window._scrollToSourceLine(%1)").arg(line));
        return js(QStringLiteral("window.__hits.length ? window.__hits.pop() : ''")).toString();
    };
    EXPECT_EQ(hit(0), QString());
    EXPECT_EQ(hit(1), QStringLiteral("H1:1:start"));
    EXPECT_EQ(hit(2), QStringLiteral("H1:1:start"));
    EXPECT_EQ(hit(5), QStringLiteral("UL:5:start"));
    EXPECT_EQ(hit(6), QStringLiteral("LI:6:start")); // the item, not the paragraph inside it
    EXPECT_EQ(hit(7), QStringLiteral("LI:6:start"));
    EXPECT_EQ(hit(100), QStringLiteral("P:8:start"));
    // The same without the page's record of its blocks (a body from raw HTML).
    js(QStringLiteral("window.__veltoBlocks = null"));
    EXPECT_EQ(hit(6), QStringLiteral("LI:6:start"));
    EXPECT_EQ(hit(4), QStringLiteral("P:3:start"));
    EXPECT_EQ(hit(0), QString());
}

TEST_F(PreviewWebTest, theEditorsLineScrollsTheSwappedPage)
{
    QString text;
    for (int i = 1; i <= 200; ++i)
        text += QStringLiteral("Paragraph %1\n\n").arg(i);
    open(QStringLiteral("x"));
    view->setVisibleSourceLine(301);
    swapTo(text);
    EXPECT_TRUE(webtest::waitForTrue(view->page(), QStringLiteral("window.scrollY > 0")));
    const double y = js(QStringLiteral("window.scrollY")).toDouble();
    const double top = js(QStringLiteral("document.querySelector('[data-line=\"301\"]')"
                                         ".getBoundingClientRect().top + window.scrollY"))
                           .toDouble();
    EXPECT_NEAR(y, top, 2.0);
}

TEST_F(PreviewWebTest, scrollingToALineFarBelowLandsOnItsBlockBeforeAndAfterTypesetting)
{
    // About 1 MB of mathematics, code and prose: typeset, the blocks are taller than their source.
    QString text;
    for (int i = 0; text.size() < 1024 * 1024; ++i) {
        text += QStringLiteral("## Part %1\n\nProse with $\\frac{a_{%1}}{b^2}$ and "
                               "$\\sqrt{x_%1}$ inline, then more words.\n\n$$\n\\sum_{k=0}^{%1} "
                               "\\frac{k^2}{\\sqrt{k+1}}\n$$\n\n```cpp\nint f%1() { return %1; }"
                               "\n```\n\n")
                    .arg(i);
    }
    open(QStringLiteral("x"));
    view->resize(700, 600);
    swapTo(text);
    const int lines = int(text.count(u'\n'));
    // The block holding a line: the first element with the largest line not after it.
    auto blockTop = [&](int line) {
        return js(QStringLiteral(
                      "(function(l){var best=null,bl=0;document.querySelectorAll('[data-line]')"
                      ".forEach(function(e){var v=+e.getAttribute('data-line');if(v<=l&&(!best||"
                      "v>bl)){best=e;bl=v;}});return best?best.getBoundingClientRect().top:1e9;})"
                      "(%1)")
                      .arg(line))
            .toDouble();
    };
    const int far = lines * 4 / 5 + 1;
    EXPECT_GT(count(QStringLiteral(".katex")), 0);
    EXPECT_GT(js(QStringLiteral("__velto.todo.size")).toInt(), 1000) << "typesetting is lazy";
    view->setVisibleSourceLine(far);
    ASSERT_TRUE(webtest::waitForTrue(view->page(), QStringLiteral("window.scrollY > 0")));
    EXPECT_NEAR(blockTop(far), 0.0, 2.0);
    // The blocks around it typeset meanwhile (also above it): it stays where it is.
    ASSERT_TRUE(webtest::waitForTrue(view->page(), QStringLiteral("!__velto.busy()")));
    EXPECT_NEAR(blockTop(far), 0.0, 2.0);

    // Elsewhere and back: now the blocks there are typeset already.
    const int other = lines / 2 + 3;
    view->setVisibleSourceLine(other);
    ASSERT_TRUE(webtest::waitForTrue(view->page(), QStringLiteral("!__velto.busy()"), 30000));
    EXPECT_NEAR(blockTop(other), 0.0, 2.0);
    EXPECT_GT(js(QStringLiteral("__velto.live.size")).toInt(), 10);
    view->setVisibleSourceLine(far);
    ASSERT_TRUE(webtest::waitForTrue(view->page(), QStringLiteral("!__velto.busy()"), 30000));
    EXPECT_NEAR(blockTop(far), 0.0, 2.0);
}

TEST_F(PreviewWebTest, aLongNewTextShowsItsFirstBlocksWhileTheRestIsMadeAndKeepsThem)
{
    // The link at the top is defined at the very end: the first blocks resolve it all the same.
    QString text = QStringLiteral("# Top\n\nSee [the reference][ref] and $x^2$.\n\n");
    for (int i = 0; text.size() < 400 * 1024; ++i) {
        text += QStringLiteral("## Part %1\n\nProse with $\\frac{a_{%1}}{b}$ inline.\n\n"
                               "```cpp\nint f%1() { return %1; }\n```\n\n- one\n- two\n\n")
                    .arg(i);
    }
    text += QStringLiteral("[ref]: https://example.com/\n");
    std::vector<std::function<std::function<void()>()>> jobs;
    PreviewController::Sources s = webtest::sources(&style);
    s.runElsewhere
        = [&jobs](std::function<std::function<void()>()> job) { jobs.push_back(std::move(job)); };
    open(QStringLiteral("x"), s);
    view->resize(700, 600);

    view->setMarkdown(text);
    ASSERT_EQ(jobs.size(), 1u);
    // Before the whole text is made, its start is on the page, typeset and drawn.
    ASSERT_TRUE(webtest::waitForTrue(view->page(), QStringLiteral("__velto.firstDrawn>0")));
    EXPECT_EQ(js(QStringLiteral("document.querySelector('a').getAttribute('href')")).toString(),
              QStringLiteral("https://example.com/"));
    EXPECT_GT(count(QStringLiteral(".katex")), 0);
    const int headBlocks = js(QStringLiteral("__velto.head.nodes.length")).toInt();
    ASSERT_GT(headBlocks, 10);
    const QVariant drawnAt = js(QStringLiteral("__velto.firstDrawn"));
    js(QStringLiteral("__velto.head.nodes.forEach(function(n){n.__kept=1;})"));

    jobs[0]()();
    ASSERT_TRUE(settled(60s));
    // The whole text, its first blocks the same elements as before, still counted as first drawn.
    EXPECT_EQ(js(QStringLiteral("__velto.firstDrawn")), drawnAt);
    EXPECT_EQ(js(QStringLiteral("(function(){var b=window.__veltoBlocks;for(var i=0;i<%1;i++){if("
                                "!b[i].__kept)return i;}return b.length>%1?-1:-2;})()")
                     .arg(headBlocks))
                  .toInt(),
              -1);
    // Read in the same turn: far blocks go back to their source in later ones.
    const QString all = QStringLiteral("__velto.typesetAll(),document.body.textContent");
    const QString whole = js(all).toString();
    // As the same text put in without a head.
    open(QStringLiteral("x"));
    swapTo(text);
    EXPECT_EQ(js(all).toString(), whole);
}

TEST_F(PreviewWebTest, withoutMermaidTheDiagramContainerShowsItsSource)
{
    open(QStringLiteral("x"), {QStringLiteral("mermaid.min.js")});
    swapTo(QStringLiteral("```mermaid\ngraph TD\n  A-->B\n```\n"));
    EXPECT_EQ(js(QStringLiteral("typeof mermaid")).toString(), QStringLiteral("undefined"));
    EXPECT_EQ(count(QStringLiteral("pre")), 0);
    EXPECT_EQ(js(QStringLiteral("document.querySelector('div.mermaid').textContent")).toString(),
              QStringLiteral("graph TD\n  A-->B\n"));
}

TEST_F(PreviewWebTest, rapidChangesAreCoalescedAndTheLastTextWins)
{
    open(QStringLiteral("start"));
    const int before = PreviewControllerTestAccess::swapCount(view->controller());
    for (int i = 0; i < 50; ++i)
        view->setMarkdown(QStringLiteral("edit %1 $x_%1$").arg(i));
    EXPECT_EQ(PreviewControllerTestAccess::swapCount(view->controller()), before + 1);
    ASSERT_TRUE(settled());
    EXPECT_EQ(PreviewControllerTestAccess::swapCount(view->controller()), before + 2);
    EXPECT_EQ(js(QStringLiteral("document.body.innerText")).toString().left(7),
              QStringLiteral("edit 49"));

    // Edits interleaved with event processing stay bounded too.
    const int start = PreviewControllerTestAccess::swapCount(view->controller());
    for (int i = 0; i < 40; ++i) {
        view->setMarkdown(QStringLiteral("again %1").arg(i));
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(settled());
    EXPECT_LE(PreviewControllerTestAccess::swapCount(view->controller()) - start, 40);
    EXPECT_EQ(js(QStringLiteral("document.body.innerText.trim()")).toString(),
              QStringLiteral("again 39"));
}

TEST_F(PreviewWebTest, linkClicksNeverNavigateThePreviewAway)
{
    open(QStringLiteral("[web](http://127.0.0.1:9/page)\n\n[file](file:///etc/hostname)\n\n"
                        "[here](#x)\n\n<img src=\"nowhere:x\" "
                        "onerror=\"location.href='http://127.0.0.1:9/auto'\">"));
    QList<QUrl> opened;
    view->previewPage().openExternal = [&](const QUrl &url) { opened << url; };
    const QString pageUrl = js(QStringLiteral("location.href")).toString();
    auto click = [&](int index) {
        const QVariantList r
            = js(QStringLiteral(
                     "(function(){var b=document.querySelectorAll('a')[%1]"
                     ".getBoundingClientRect();return [b.left+b.width/2,b.top+b.height/2];})()")
                     .arg(index))
                  .toList();
        ASSERT_EQ(r.size(), 2);
        QWidget *target = view->focusProxy() ? view->focusProxy() : view.get();
        QTest::mouseClick(target, Qt::LeftButton, {},
                          QPoint(int(r[0].toDouble()), int(r[1].toDouble())));
    };

    // Scripts navigate as "link clicks" too, but without the user: they open nothing.
    js(QStringLiteral("location.href = 'http://127.0.0.1:9/script'"));
    swapTo(QStringLiteral("[web](http://127.0.0.1:9/page)\n\n[file](file:///etc/hostname)\n\n"
                          "[here](#x)\n\n<img src=\"nowhere:y\" "
                          "onerror=\"window.__err=1;location.href='http://127.0.0.1:9/auto'\">"));
    EXPECT_TRUE(webtest::waitForTrue(view->page(), QStringLiteral("window.__err === 1")));
    EXPECT_TRUE(opened.isEmpty());

    click(0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !opened.isEmpty(); }));
    click(1);
    click(2);
    swapTo(QStringLiteral("after"));
    EXPECT_EQ(opened, QList<QUrl> {QUrl(QStringLiteral("http://127.0.0.1:9/page"))});
    EXPECT_TRUE(js(QStringLiteral("location.href")).toString().startsWith(pageUrl));
    EXPECT_EQ(js(QStringLiteral("document.body.innerText.trim()")).toString(),
              QStringLiteral("after"));
}

TEST_F(PreviewWebTest, aReloadFromTheContextMenuKeepsTheLivePage)
{
    open(QStringLiteral("first"));
    swapTo(QStringLiteral("second"));
    view->page()->triggerAction(QWebEnginePage::Reload);
    swapTo(QStringLiteral("third $x$"));
    EXPECT_EQ(js(QStringLiteral("typeof katex")).toString(), QStringLiteral("object"));
    EXPECT_EQ(count(QStringLiteral(".katex")), 1);
}

TEST_F(PreviewWebTest, aLibraryThatThrowsIsLoggedAndTheChainGoesOn)
{
    testsupport::LogCapture log;
    auto sources = webtest::sources(&style, {});
    sources.previewScripts = [] {
        return QStringList {QStringLiteral("throw new Error('boom');"),
                            QStringLiteral("window.secondLibrary = 7;")};
    };
    open(QStringLiteral("text"), sources);
    EXPECT_EQ(js(QStringLiteral("window.secondLibrary")).toInt(), 7);
    const QStringList errors = log.lines().filter(QStringLiteral("[Preview] JS inject error: "));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("boom")));
}

TEST_F(PreviewWebTest, aClosedPreviewWithdrawsItsPage)
{
    const int before = webtest::pageHandler().publishedCount();
    open(QStringLiteral("x"));
    EXPECT_EQ(webtest::pageHandler().publishedCount(), before + 1);
    view.reset();
    EXPECT_EQ(webtest::pageHandler().publishedCount(), before);
}

TEST(PreviewPage, anUnknownPageFailsToLoadAndTheInlineFallbackLoads)
{
    PreviewPage page;
    QSignalSpy finished(&page, &QWebEnginePage::loadFinished);
    QUrl missing = webtest::pageHandler().publish("x");
    webtest::pageHandler().withdraw(missing);
    page.loadPublished(missing);
    ASSERT_TRUE(testsupport::waitUntil([&] { return finished.size() == 1; }, 20s));
    EXPECT_FALSE(finished.at(0).at(0).toBool());

    page.loadInline(QStringLiteral("<p>fallback</p>"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return finished.size() == 2; }, 20s));
    EXPECT_TRUE(finished.at(1).at(0).toBool());
    EXPECT_EQ(webtest::evaluate(&page, QStringLiteral("document.body.innerText")).toString(),
              QStringLiteral("fallback"));
}

} // namespace
