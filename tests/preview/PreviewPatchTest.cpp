#include "QStringPrinter.h"
#include "WebTestSupport.h"
#include "support/TestSupport.h"

#include "Velto/preview/PreviewScripts.h"
#include "Velto/preview/PreviewView.h"
#include "core/markdown/MarkdownParser.h"
#include "support/LogCapture.h"

#include <QWebEnginePage>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <random>

using namespace std::chrono_literals;

namespace {

std::unique_ptr<PreviewView> openView(const QString &markdown, bool incremental)
{
    auto view = std::make_unique<PreviewView>(markdown, webtest::sources(), webtest::pageHandler());
    view->controller().setIncremental(incremental);
    // Low: most blocks are far from the view and typeset only on demand.
    view->resize(700, 120);
    view->show();
    return view;
}

bool settled(PreviewView &view, std::chrono::milliseconds timeout = 30s)
{
    return testsupport::waitUntil(
        [&] { return view.controller().jsReady() && !view.controller().swapInFlight(); }, timeout);
}

// The body's blocks in order (taken out of the groups that hold them, their lines brought up to
// date) with every block typeset and every diagram drawn, with Mermaid's generated ids made
// comparable.
QString settledBody(PreviewView &view)
{
    webtest::evaluate(view.page(), QStringLiteral("__velto.syncLines();__velto.typesetAll()"));
    const QString drawn
        = QStringLiteral("Array.prototype.every.call(document.querySelectorAll('.mermaid'),"
                         "function(e){return !!e.querySelector('svg');})"
                         "&&!document.querySelector('[id^=\"dmermaid\"],[id^=\"imermaid\"]')");
    if (!webtest::waitForTrue(view.page(), drawn, 30000))
        return QStringLiteral("<diagrams never finished>");
    // Mermaid keeps one invisible tooltip element of its own at the end of the body; it is not
    // part of the document.
    return webtest::evaluate(
               view.page(),
               QStringLiteral("(function(){var b=document.body.cloneNode(true);"
                              "b.querySelectorAll(':scope > .mermaidTooltip').forEach("
                              "function(e){e.remove();});"
                              "b.querySelectorAll(':scope > [data-velto-group]').forEach("
                              "function(g){while(g.firstChild)b.insertBefore(g.firstChild,g);"
                              "g.remove();});"
                              "return b.innerHTML.replace(/mermaid-\\d+/g,'mermaid-N');})()"))
        .toString();
}

// Random documents and edits: prose with inline mathematics, display mathematics, code,
// diagrams, lists, quotes and tables.
struct DocumentModel
{
    std::mt19937 random;
    QStringList blocks;

    explicit DocumentModel(unsigned seed)
        : random(seed)
    {
        for (int i = 0; i < 8; ++i)
            blocks << makeBlock();
    }
    int below(int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(random)); }
    QString word() { return QStringList {"alpha", "beta", "gamma", "x", "sum"}.at(below(5)); }
    QString makeBlock()
    {
        const QString w = word();
        switch (below(8)) {
        case 0:
            return QStringLiteral("Some %1 text with $%1_%2^2$ inline and **bold**.")
                .arg(w)
                .arg(below(9));
        case 1:
            return QStringLiteral("$$\n\\frac{%1}{%2}\n$$").arg(w).arg(below(9));
        case 2:
            return QStringLiteral("```cpp\nint %1 = %2; // %1\n```").arg(w).arg(below(99));
        case 3:
            return QStringLiteral("```mermaid\ngraph TD\n  A[%1]-->B[%2]\n```")
                .arg(w)
                .arg(below(9));
        case 4:
            return QStringLiteral("- %1 one\n- item `%2`\n  - nested $y$").arg(w).arg(below(9));
        case 5:
            return QStringLiteral("> quoted %1\n> more").arg(w);
        case 6:
            return QStringLiteral("| a | b |\n|---|---|\n| %1 | $z$ |").arg(w);
        default:
            return QStringLiteral("## Heading %1").arg(w);
        }
    }
    QString text() const { return blocks.join(QStringLiteral("\n\n")) + u'\n'; }

    // One edit as a person makes them; names it for failure messages.
    QString edit()
    {
        const int at = below(int(blocks.size()));
        QString &block = blocks[at];
        switch (below(9)) {
        case 0:
        case 1: { // typing, possibly a line break or Markdown punctuation
            if (block.startsWith(QStringLiteral("```mermaid")))
                return edit();
            const QString keys = QStringLiteral("ab $*_`\n#-");
            block.insert(below(int(block.size()) + 1), keys.at(below(int(keys.size()))));
            return QStringLiteral("type in %1").arg(at);
        }
        case 2:
            if (blocks.size() > 2) {
                blocks.removeAt(at);
                return QStringLiteral("delete %1").arg(at);
            }
            [[fallthrough]];
        case 3:
            blocks.insert(at, makeBlock());
            return QStringLiteral("insert at %1").arg(at);
        case 4: {
            const int to = below(int(blocks.size()));
            blocks.move(at, to);
            return QStringLiteral("move %1 to %2").arg(at).arg(to);
        }
        case 5:
            blocks.insert(0, QStringLiteral("Intro %1\nsecond line").arg(word()));
            return QStringLiteral("lines added at the top");
        case 6:
            if (block.contains(u'$')) {
                block.replace(QStringLiteral("^2"), QStringLiteral("^3"));
                block.replace(QStringLiteral("\\frac"), QStringLiteral("\\sqrt"));
                return QStringLiteral("edit maths in %1").arg(at);
            }
            [[fallthrough]];
        case 7:
            if (block.startsWith(QStringLiteral("```mermaid"))) {
                block = QStringLiteral("```mermaid\ngraph LR\n  C[%1]-->D\n```").arg(word());
                return QStringLiteral("edit diagram %1").arg(at);
            }
            if (block.startsWith(QStringLiteral("```cpp"))) {
                block.replace(QStringLiteral("int "), QStringLiteral("long "));
                return QStringLiteral("edit code %1").arg(at);
            }
            [[fallthrough]];
        default:
            block = makeBlock();
            return QStringLiteral("replace %1").arg(at);
        }
    }
};

TEST(PreviewPatch, afterEveryEditThePatchedPageEqualsAFullSwapAndRedraw)
{
    // A fixed seed keeps runs reproducible; VELTO_PATCH_SEED tries others.
    const unsigned seed = qEnvironmentVariableIsSet("VELTO_PATCH_SEED")
        ? unsigned(qEnvironmentVariableIntValue("VELTO_PATCH_SEED"))
        : 20240517u;
    DocumentModel model(seed);
    auto patched = openView(model.text(), true);
    auto full = openView(model.text(), false);
    ASSERT_TRUE(settled(*patched, 60s) && settled(*full, 60s));
    // Small groups, so that edits also cross, empty and split them.
    webtest::evaluate(patched->page(), QStringLiteral("__velto.group = 3"));
    // Scroll sync's pick, as the element's place among all with a line, and its line.
    webtest::evaluate(patched->page(),
                      QStringLiteral("Element.prototype.scrollIntoView=function(){window.__hit="
                                     "this;};window.__pick=function(e){return e?Array.prototype."
                                     "indexOf.call(document.querySelectorAll('[data-line]'),e)+':'+"
                                     "e.getAttribute('data-line'):'none';}"));
    // The first element with the largest line not after the one asked for.
    const QString expectedPick = QStringLiteral(
        "(function(l){var best=null,bl=0,all=document.querySelectorAll('[data-line]');"
        "all.forEach(function(e){var v=+e.getAttribute('data-line');if(v<=l&&(!best||v>bl)){"
        "best=e;bl=v;}});return best?Array.prototype.indexOf.call(all,best)+':'+bl:'none';})(%1)");

    qint64 drawnPatched = 0, drawnFull = 0;
    int lazySteps = 0, groupedSteps = 0, lagsPatchedOver = 0, lagsLookedUp = 0;
    for (int step = 0; step < 60; ++step) {
        const QString what = model.edit();
        const QString text = model.text();
        if (webtest::evaluate(patched->page(), QStringLiteral("__velto.lagging.size")).toInt() > 0)
            ++lagsPatchedOver;
        const qint64 beforePatched = patched->controller().drawnBlocks();
        const qint64 beforeFull = full->controller().drawnBlocks();
        patched->setMarkdown(text);
        full->setMarkdown(text);
        ASSERT_TRUE(settled(*patched) && settled(*full)) << what.toStdString();
        drawnPatched += patched->controller().drawnBlocks() - beforePatched;
        drawnFull += full->controller().drawnBlocks() - beforeFull;
        if (webtest::evaluate(patched->page(), QStringLiteral("__velto.todo.size")).toInt() > 0)
            ++lazySteps;
        if (webtest::evaluate(patched->page(),
                              QStringLiteral("document.body.querySelectorAll(':scope > "
                                             "[data-velto-group]').length"))
                .toInt()
            > 2)
            ++groupedSteps;
        // The reference: the whole body swapped in and redrawn at once, as a page does without
        // the drawing runtime.
        webtest::evaluate(full->page(),
                          QStringLiteral("__velto.reset();document.body.innerHTML=")
                              + PreviewScripts::jsonStringLiteral(MarkdownParser::renderBody(text))
                              + QStringLiteral(";var ts=document.getElementById('theme-override');"
                                               "var veltoThemeCSS=ts.textContent")
                              + PreviewScripts::redrawPiece());
        // Lines looked up while groups may still owe their deltas give today's answers.
        if (webtest::evaluate(patched->page(), QStringLiteral("__velto.lagging.size")).toInt() > 0)
            ++lagsLookedUp;
        const int lines = int(text.count(u'\n'));
        for (int line : {model.below(lines) + 1, lines + 5, model.below(lines) + 1}) {
            const QString got
                = webtest::evaluate(
                      patched->page(),
                      QStringLiteral(
                          "window.__hit=null;_scrollToSourceLine(%1);__pick(window.__hit)")
                          .arg(line))
                      .toString();
            ASSERT_EQ(got, webtest::evaluate(full->page(), expectedPick.arg(line)).toString())
                << "step " << step << ", line " << line << ": " << what.toStdString();
        }
        // Compared every other step only, so that pending deltas also meet the next patch.
        if (step % 2 == 0)
            continue;
        const QString a = settledBody(*patched), b = settledBody(*full);
        qsizetype at = 0;
        while (at < a.size() && at < b.size() && a[at] == b[at])
            ++at;
        ASSERT_EQ(a.size(), b.size() == a.size() && at == a.size() ? a.size() : -1)
            << "seed " << seed << ", step " << step << ": " << what.toStdString()
            << "\npatched: " << a.mid(at - 200, 400).toStdString()
            << "\nfull:    " << b.mid(at - 200, 400).toStdString() << "\ntext:\n"
            << text.toStdString();
    }
    // Only what changed was drawn, and blocks out of view waited to be typeset.
    EXPECT_LT(drawnPatched * 3, drawnFull);
    EXPECT_GT(lazySteps, 10);
    EXPECT_GT(groupedSteps, 10);
    EXPECT_GT(lagsPatchedOver, 5);
    EXPECT_GT(lagsLookedUp, 5);
}

TEST(PreviewPatch, aPageThatLostItsBlocksGetsTheWholeBodyAndRawHTMLIsSwappedWhole)
{
    auto view = openView(QStringLiteral("one\n\ntwo $x$\n"), true);
    ASSERT_TRUE(settled(*view, 60s));
    webtest::evaluate(view->page(), QStringLiteral("window.__veltoBlocks = null"));
    view->setMarkdown(QStringLiteral("one\n\ntwo $x$\n\nthree\n"));
    ASSERT_TRUE(settled(*view));
    EXPECT_EQ(webtest::evaluate(view->page(), QStringLiteral("document.body.innerText"))
                  .toString()
                  .simplified()
                  .right(5),
              QStringLiteral("three"));
    EXPECT_EQ(view->controller().lastDrawnBlocks(), 3);

    // An unclosed element in raw HTML swallows what follows it: such text is swapped whole.
    view->setMarkdown(QStringLiteral("<div class=\"box\">\n\nin box\n\nafter\n"));
    ASSERT_TRUE(settled(*view));
    view->setMarkdown(QStringLiteral("<div class=\"box\">\n\nin box\n\nafter!\n"));
    ASSERT_TRUE(settled(*view));
    EXPECT_EQ(view->controller().lastDrawnBlocks(), 3);
    EXPECT_EQ(webtest::evaluate(view->page(),
                                QStringLiteral("document.querySelectorAll('div.box p').length"))
                  .toInt(),
              2);
}

TEST(PreviewPatch, aLongBodySettlesWithItsViewDrawnAndAnEditWaitsUntilTheRestIsIn)
{
    auto view = openView(QStringLiteral("x"), true);
    ASSERT_TRUE(settled(*view, 60s));
    // The rest of a long body is held back, as on a machine too busy to put it in.
    webtest::evaluate(view->page(),
                      QStringLiteral("__velto.heldFill = __velto.fillNext;"
                                     "__velto.fillNext = function(){}"));
    QString text;
    for (int i = 0; text.size() < 400 * 1024; ++i)
        text += QStringLiteral("Paragraph %1 with *some* words in it.\n\n").arg(i);
    view->setMarkdown(text);
    ASSERT_TRUE(settled(*view));
    EXPECT_TRUE(webtest::evaluate(view->page(), QStringLiteral("!!__velto.fill")).toBool());

    text.replace(QStringLiteral("Paragraph 5000 "), QStringLiteral("Edited\n\nParagraph 5000 "));
    view->setMarkdown(text);
    ASSERT_TRUE(webtest::waitForTrue(view->page(), QStringLiteral("!!__velto.fill.then")));
    EXPECT_TRUE(view->controller().swapInFlight());
    webtest::evaluate(view->page(),
                      QStringLiteral("__velto.fillNext = __velto.heldFill; __velto.kick()"));
    ASSERT_TRUE(settled(*view));
    // The blocks, taken out of their groups and their lines brought up to date, are those of the
    // new text.
    const QString same
        = QStringLiteral("(function(){__velto.syncLines();"
                         "var d=document.createElement('div');d.innerHTML=%1;"
                         "var got=Array.prototype.map.call(document.querySelectorAll('body > "
                         "[data-velto-group] > *'),function(e){return e.outerHTML;}).join('');"
                         "return !__velto.fill && got===d.innerHTML;})()")
              .arg(PreviewScripts::jsonStringLiteral(
                  MarkdownParser::renderBody(text).remove(u'\n')));
    EXPECT_TRUE(webtest::evaluate(view->page(), same).toBool());
}

TEST(PreviewPatch, aLongBodysImagesLoadOnlyNearTheViewAndComeBackUnchanged)
{
    auto view = openView(QStringLiteral("x"), true);
    ASSERT_TRUE(settled(*view, 60s));
    QString text;
    int images = 0;
    for (int i = 0; text.size() < 400 * 1024; ++i) {
        text += i % 10 ? QStringLiteral("Paragraph %1 with words.\n\n").arg(i)
                       : QStringLiteral("See ![p%1](img%1.png \"t%1\") here.\n\n").arg(i);
        images += i % 10 ? 0 : 1;
    }
    view->setMarkdown(text);
    ASSERT_TRUE(settled(*view));
    ASSERT_TRUE(webtest::waitForTrue(view->page(), QStringLiteral("!__velto.fill"), 30000));
    EXPECT_EQ(webtest::evaluate(view->page(), QStringLiteral("document.images.length")).toInt(),
              images);
    const int loading = webtest::evaluate(view->page(),
                                          QStringLiteral("document.querySelectorAll('img[src]')"
                                                         ".length"))
                            .toInt();
    EXPECT_GT(loading, 0);
    EXPECT_LT(loading, 50);
    // Typeset, every block is as the whole render has it, the images' attributes in their order.
    const QString same
        = QStringLiteral("(function(){__velto.typesetAll();"
                         "var d=document.createElement('div');d.innerHTML=%1;"
                         "var got=Array.prototype.map.call(document.querySelectorAll('body > "
                         "[data-velto-group] > *'),function(e){return e.outerHTML;}).join('');"
                         "return got===d.innerHTML;})()")
              .arg(PreviewScripts::jsonStringLiteral(
                  MarkdownParser::renderBody(text).remove(u'\n')));
    EXPECT_TRUE(webtest::evaluate(view->page(), same).toBool());
}

TEST(PreviewPatch, aDeadRendererIsReplacedOnceThenTheNoticeShows)
{
    testsupport::LogCapture log;
    auto view = openView(QStringLiteral("# Doc\n\n$x$\n"), true);
    ASSERT_TRUE(settled(*view, 60s));
    view->setMarkdown(QStringLiteral("# Doc\n\n$x$ typed after\n"));
    ASSERT_TRUE(settled(*view));

    auto killRenderer = [&] {
        const qint64 pid = view->page()->renderProcessPid();
        ASSERT_GT(pid, 0);
        ::kill(pid_t(pid), SIGKILL);
    };
    killRenderer();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return log.contains(QStringLiteral("[Preview] The renderer process ended")); }, 20s));
    ASSERT_TRUE(settled(*view, 60s));
    EXPECT_TRUE(webtest::waitForTrue(
        view->page(), QStringLiteral("document.body.innerText.indexOf('typed after') >= 0")));
    EXPECT_EQ(webtest::evaluate(view->page(),
                                QStringLiteral("document.querySelectorAll('.katex')"
                                               ".length"))
                  .toInt(),
              1);

    killRenderer();
    ASSERT_TRUE(testsupport::waitUntil([&] { return view->controller().showsNotice(); }, 20s));
    EXPECT_TRUE(webtest::waitForTrue(
        view->page(), QStringLiteral("!!document.getElementById('velto-notice')"), 20000));
    EXPECT_TRUE(webtest::evaluate(view->page(), QStringLiteral("document.body.innerText"))
                    .toString()
                    .contains(QStringLiteral("zu groß")));
    // Edits wait quietly; another document brings the preview back.
    view->setMarkdown(QStringLiteral("small"));
    EXPECT_TRUE(view->controller().showsNotice());
    view->controller().documentChanged();
    ASSERT_TRUE(settled(*view, 60s));
    EXPECT_TRUE(webtest::waitForTrue(view->page(),
                                     QStringLiteral("document.body.innerText.trim() === 'small'")));
}

} // namespace
