#include "FakePreviewHost.h"
#include "QStringPrinter.h"

#include "PreviewControllerTestAccess.h"
#include "Velto/preview/PreviewScripts.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownParser.h"
#include "core/markdown/TextAnalysis.h"
#include "fakes/platform/FakeClock.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

const QString marker = QStringLiteral("'velto-injected'");
const QString swapStart = QStringLiteral("document.body.innerHTML = ");

struct PreviewControllerTest : ::testing::Test
{
    FakePreviewHost host;
    PreviewController::Style style;
    QStringList libraries {QStringLiteral("lib1();"), QStringLiteral("lib2();")};
    PreviewController controller {host, sources()};

    PreviewController::Sources sources()
    {
        PreviewController::Sources s;
        s.renderPage = [](const QString &md) { return QStringLiteral("PAGE:") + md; };
        s.renderBody = [](const QString &md) { return QStringLiteral("BODY:") + md; };
        s.previewScripts = [this] { return libraries; };
        s.style = [this] { return style; };
        return s;
    }

    // Loads the page and completes the library chain, which ends with the first swap in flight.
    void becomeReady()
    {
        controller.pageLoaded(true);
        while (!controller.jsReady())
            ASSERT_TRUE(host.completeNext(QStringLiteral("velto-injected")));
    }
    QStringList swaps() const { return host.scriptsContaining(swapStart); }
};

TEST_F(PreviewControllerTest, startLoadsThePageOfTheFirstText)
{
    controller.start(QStringLiteral("# A"));
    EXPECT_EQ(host.pages, QStringList {QStringLiteral("PAGE:# A")});
    EXPECT_EQ(controller.lastRenderedMarkdown(), QStringLiteral("# A"));
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(PreviewControllerTest, librariesRunOneAfterAnotherAndAFailingOneDoesNotStopTheChain)
{
    testsupport::LogCapture log;
    controller.start(QStringLiteral("x"));
    controller.pageLoaded(true);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].script, QStringLiteral("lib1();\n;") + marker);

    // The library throws: its console error names the failure.
    controller.consoleError(QStringLiteral("Uncaught Error: boom"));
    host.completeNext();
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_TRUE(host.calls[1].script.startsWith(QStringLiteral("lib2();")));
    EXPECT_EQ(log.lines(),
              QStringList {QStringLiteral("[Preview] JS inject error: Uncaught Error: boom")});

    EXPECT_FALSE(controller.jsReady());
    host.completeNext(QStringLiteral("velto-injected"));
    EXPECT_TRUE(controller.jsReady());
    EXPECT_EQ(controller.jsLoadIndex(), 2);
    EXPECT_EQ(log.lines().size(), 1);
    // Set-up script, then the first swap.
    ASSERT_EQ(host.calls.size(), 4u);
    EXPECT_EQ(host.calls[2].script, PreviewScripts::setupScript());
    EXPECT_TRUE(host.calls[3].script.startsWith(swapStart));
}

TEST_F(PreviewControllerTest, textsBeforeReadyEndInOneSwapOfTheNewestWithCurrentLookAndNoScroll)
{
    controller.start(QStringLiteral("first"));
    controller.update(QStringLiteral("second"), 4);
    controller.update(QStringLiteral("third"), 5);
    EXPECT_EQ(controller.pendingMarkdown(), QStringLiteral("third"));
    EXPECT_TRUE(host.calls.empty());

    style = {true, QStringLiteral("body{color:red;}")};
    becomeReady();
    ASSERT_EQ(swaps().size(), 1);
    EXPECT_EQ(swaps()[0],
              PreviewScripts::updateScript(QStringLiteral("BODY:third"), true,
                                           QStringLiteral("body{color:red;}"), std::nullopt));
    EXPECT_FALSE(swaps()[0].contains(QStringLiteral("_scrollToSourceLine(")));
    EXPECT_FALSE(controller.pendingMarkdown().has_value());
    EXPECT_EQ(controller.lastRenderedMarkdown(), QStringLiteral("third"));
}

TEST_F(PreviewControllerTest, theLoadedTextIsSwappedOnceAfterSetUpToo)
{
    controller.start(QStringLiteral("same"));
    becomeReady();
    ASSERT_EQ(swaps().size(), 1);
    EXPECT_TRUE(swaps()[0].contains(QStringLiteral("\"BODY:same\"")));
    EXPECT_TRUE(swaps()[0].contains(QStringLiteral("maxWidth = '800px'")));
}

TEST_F(PreviewControllerTest, sameTextOnlyScrollsWhenTheLineChangedAndIsPositive)
{
    controller.start(QStringLiteral("t"));
    becomeReady();
    host.completeNext();
    const size_t before = host.calls.size();

    controller.update(QStringLiteral("t"), 0);
    EXPECT_EQ(host.calls.size(), before);
    controller.update(QStringLiteral("t"), 7);
    ASSERT_EQ(host.calls.size(), before + 1);
    EXPECT_EQ(host.calls.back().script,
              QStringLiteral("if(window._scrollToSourceLine) window._scrollToSourceLine(7)"));
    EXPECT_FALSE(host.calls.back().done);
    controller.update(QStringLiteral("t"), 7);
    controller.update(QStringLiteral("t"), 0);
    EXPECT_EQ(host.calls.size(), before + 1);
    controller.update(QStringLiteral("t"), 3);
    controller.update(QStringLiteral("t"), 3);
    EXPECT_EQ(host.calls.size(), before + 2);
    EXPECT_EQ(swaps().size(), 1);
}

TEST_F(PreviewControllerTest, aChangedTextCarriesWidthEscapedThemeStyleAndTheLineEvenZero)
{
    controller.start(QStringLiteral("a"));
    becomeReady();
    host.completeNext();

    style = {true, QStringLiteral("a::after{content:'x';}")};
    controller.update(QStringLiteral("b"), 0);
    ASSERT_EQ(swaps().size(), 2);
    const QString swap = swaps().back();
    EXPECT_TRUE(swap.contains(QStringLiteral("maxWidth = 'none'")));
    EXPECT_TRUE(swap.contains(QStringLiteral("veltoThemeCSS = \"a::after{content:'x';}\";\n")));
    EXPECT_TRUE(swap.contains(
        QStringLiteral("\nif(window._scrollToSourceLine) window._scrollToSourceLine(0);\n")));
    EXPECT_EQ(controller.lastScrolledLine(), 0);
}

TEST_F(PreviewControllerTest, changesDuringASwapAreCoalescedAndTheNewestGoesOutAfterIt)
{
    controller.start(QStringLiteral("a"));
    becomeReady();
    host.completeNext();
    controller.update(QStringLiteral("b"), 1);
    EXPECT_TRUE(controller.swapInFlight());
    controller.update(QStringLiteral("c"), 2);
    controller.update(QStringLiteral("d"), 3);
    controller.update(QStringLiteral("e"), 4);
    EXPECT_EQ(swaps().size(), 2);

    host.completeNext();
    ASSERT_EQ(swaps().size(), 3);
    EXPECT_TRUE(swaps().back().contains(QStringLiteral("\"BODY:e\"")));
    EXPECT_TRUE(swaps().back().contains(QStringLiteral("_scrollToSourceLine(4);\n")));

    host.completeNext();
    EXPECT_EQ(swaps().size(), 3);
    EXPECT_FALSE(controller.swapInFlight());
    EXPECT_EQ(PreviewControllerTestAccess::swapCount(controller), 3);
}

TEST_F(PreviewControllerTest, returningToTheTextInFlightSendsNoFurtherSwap)
{
    controller.start(QStringLiteral("a"));
    becomeReady();
    host.completeNext();
    controller.update(QStringLiteral("b"), 0);
    controller.update(QStringLiteral("c"), 0);
    controller.update(QStringLiteral("b"), 6); // undo while "b" is in flight: only the scroll
    EXPECT_EQ(host.calls.back().script,
              QStringLiteral("if(window._scrollToSourceLine) window._scrollToSourceLine(6)"));
    host.completeNext();
    EXPECT_EQ(swaps().size(), 2);
    EXPECT_FALSE(controller.swapInFlight());
}

TEST_F(PreviewControllerTest, aSecondLoadRepeatsOnlySetUpAndTheUpdate)
{
    controller.start(QStringLiteral("a"));
    becomeReady();
    host.completeNext();
    controller.update(QStringLiteral("b"), 2);
    const size_t before = host.calls.size();

    controller.pageLoaded(true); // e.g. a reload
    EXPECT_EQ(controller.jsLoadIndex(), 2);
    ASSERT_EQ(host.calls.size(), before + 2);
    EXPECT_EQ(host.calls[before].script, PreviewScripts::setupScript());
    EXPECT_TRUE(host.calls[before + 1].script.contains(QStringLiteral("\"BODY:b\"")));

    // The completion owed by the old document is stale; the new swap's completion counts.
    EXPECT_TRUE(controller.swapInFlight());
    host.completeNext();
    EXPECT_TRUE(controller.swapInFlight());
    host.completeNext();
    EXPECT_FALSE(controller.swapInFlight());
}

TEST_F(PreviewControllerTest, aFailedFirstLoadLoadsAnEmptyPageOnceAndUpdatesKeepWorking)
{
    testsupport::LogCapture log;
    controller.start(QStringLiteral("big"));
    controller.update(QStringLiteral("bigger"), 0);
    controller.pageLoaded(false);
    EXPECT_EQ(host.fallbackPages, QStringList {QStringLiteral("PAGE:")});
    EXPECT_TRUE(log.contains(QStringLiteral("[Preview] ")));
    controller.pageLoaded(false);
    EXPECT_EQ(host.fallbackPages.size(), 1);

    becomeReady();
    ASSERT_EQ(swaps().size(), 1);
    EXPECT_TRUE(swaps()[0].contains(QStringLiteral("\"BODY:bigger\"")));
}

TEST_F(PreviewControllerTest, aFailedNavigationAfterTheFirstLoadKeepsThePage)
{
    controller.start(QStringLiteral("a"));
    becomeReady();
    controller.pageLoaded(false);
    EXPECT_TRUE(host.fallbackPages.isEmpty());
}

TEST_F(PreviewControllerTest, withoutLibrariesTheSetUpFollowsTheLoadAtOnce)
{
    libraries.clear();
    controller.start(QStringLiteral("a"));
    controller.pageLoaded(true);
    EXPECT_TRUE(controller.jsReady());
    EXPECT_EQ(swaps().size(), 1);
}

TEST_F(PreviewControllerTest, completionsAfterTheControllerIsGoneAreIgnored)
{
    FakePreviewHost otherHost;
    auto *c = new PreviewController(otherHost, sources());
    c->start(QStringLiteral("a"));
    c->pageLoaded(true);
    delete c;
    EXPECT_TRUE(otherHost.completeNext(QStringLiteral("velto-injected")));
    EXPECT_EQ(otherHost.calls.size(), 1u);
}

} // namespace

namespace {

struct PatchingControllerTest : PreviewControllerTest
{
    PreviewController patching {host, blockSources()};

    PreviewController::Sources blockSources()
    {
        PreviewController::Sources s = sources();
        s.renderBody = [](const QString &md) { return MarkdownParser::renderBody(md); };
        s.renderBlocks
            = [](const QString &md) { return PreviewBody::render(MarkdownDocument(md)); };
        return s;
    }
    // Updates prepared elsewhere wait here until the test runs them.
    std::vector<std::function<std::function<void()>()>> jobs;
    PreviewController::Sources deferringSources()
    {
        PreviewController::Sources s = blockSources();
        s.runElsewhere = [this](std::function<std::function<void()>()> job) {
            jobs.push_back(std::move(job));
        };
        return s;
    }
    void ready(PreviewController &c)
    {
        c.pageLoaded(true);
        while (!c.jsReady())
            ASSERT_TRUE(host.completeNext(QStringLiteral("velto-injected")));
    }
    QStringList patches() const { return host.scriptsContaining(QStringLiteral("__veltoPatched")); }
};

TEST_F(PatchingControllerTest, anEditSendsOnlyTheChangedBlockAndAStalePageGetsTheWholeBody)
{
    patching.start(QStringLiteral("one\n\ntwo\n\nthree"));
    ready(patching);
    ASSERT_EQ(swaps().size(), 1);
    EXPECT_TRUE(swaps()[0].contains(QStringLiteral("c.length===3?")));
    EXPECT_EQ(patching.lastDrawnBlocks(), 3);
    host.completeNext();

    patching.update(QStringLiteral("one\n\ntwo!\n\nthree"), 2);
    ASSERT_EQ(patches().size(), 1);
    const QString patch = patches()[0];
    EXPECT_TRUE(
        patch.contains(QStringLiteral("([[0,1,0],\"<p data-line=\\\"3\\\">two!</p>\",[2,1,0]]);")));
    EXPECT_FALSE(patch.contains(QStringLiteral(">one<")));
    EXPECT_TRUE(patch.contains(QStringLiteral("window._scrollToSourceLine(2);")));
    EXPECT_EQ(patching.lastDrawnBlocks(), 1);
    host.completeNext(QStringLiteral("ok:1"));
    EXPECT_FALSE(patching.swapInFlight());
    EXPECT_EQ(swaps().size(), 1);

    // The page answers that it does not hold the blocks: the newest text goes out whole.
    patching.update(QStringLiteral("one\n\ntwo!\n\nthree?"), 2);
    patching.update(QStringLiteral("one\n\ntwo!\n\nthree??"), 4);
    host.completeNext(QStringLiteral("stale"));
    ASSERT_EQ(swaps().size(), 2);
    EXPECT_TRUE(swaps().back().contains(QStringLiteral("three??")));
    EXPECT_TRUE(swaps().back().contains(QStringLiteral("_scrollToSourceLine(4);\n")));
    host.completeNext();
    EXPECT_FALSE(patching.swapInFlight());
}

TEST_F(PatchingControllerTest, aDeadRendererReloadsOnceAndThenRestsWithANoticeUntilTheNextDocument)
{
    testsupport::LogCapture log;
    patching.start(QStringLiteral("big"));
    ready(patching);
    host.completeNext();
    patching.update(QStringLiteral("bigger"), 0);

    patching.rendererTerminated(QStringLiteral("crashed, exit code 9"));
    EXPECT_TRUE(log.contains(
        QStringLiteral("[Preview] The renderer process ended (crashed, exit code 9)")));
    EXPECT_EQ(host.pages.last(), QStringLiteral("PAGE:bigger"));
    EXPECT_FALSE(patching.jsReady());
    EXPECT_FALSE(patching.swapInFlight());
    const size_t before = host.calls.size();
    ready(patching); // the libraries go in again
    EXPECT_EQ(host.calls.size(), before + 4); // two libraries, set-up, the first swap
    EXPECT_TRUE(host.calls.back().script.contains(QStringLiteral("bigger")));
    EXPECT_TRUE(host.calls.back().script.contains(QStringLiteral("c.length===1?")));

    patching.rendererTerminated(QStringLiteral("killed, exit code 9"));
    ASSERT_EQ(host.notices.size(), 1);
    EXPECT_TRUE(host.notices[0].contains(QStringLiteral("zu groß")));
    EXPECT_TRUE(patching.showsNotice());
    const int pages = int(host.pages.size());
    const size_t calls = host.calls.size();
    patching.update(QStringLiteral("biggest"), 3);
    patching.pageLoaded(true); // the notice page
    EXPECT_EQ(host.calls.size(), calls);

    patching.documentChanged();
    EXPECT_FALSE(patching.showsNotice());
    ASSERT_EQ(host.pages.size(), pages + 1);
    EXPECT_EQ(host.pages.last(), QStringLiteral("PAGE:biggest"));
}

} // namespace

// A long text's update is prepared elsewhere: it counts as in flight until it is sent, ends as
// the same patch, and one prepared for a page that has been replaced meanwhile is dropped.
TEST_F(PatchingControllerTest, aLongTextsUpdateIsPreparedElsewhereAndDroppedWithItsPage)
{
    PreviewController::Sources s = deferringSources();
    PreviewController later {host, s};
    const QString filler = QString(backgroundParseSize, u'x');
    later.start(filler + QStringLiteral("\n\none"));
    ready(later);
    ASSERT_EQ(jobs.size(), 1u); // the first swap
    EXPECT_TRUE(later.swapInFlight());
    EXPECT_TRUE(swaps().isEmpty());
    jobs[0]()();
    ASSERT_EQ(swaps().size(), 1);
    host.completeNext();

    later.update(filler + QStringLiteral("\n\ntwo"), 0);
    ASSERT_EQ(jobs.size(), 2u);
    jobs[1]()();
    ASSERT_EQ(patches().size(), 1);
    EXPECT_TRUE(
        patches()[0].contains(QStringLiteral("[[0,1,0],\"<p data-line=\\\"3\\\">two</p>\"]")));
    EXPECT_EQ(later.lastDrawnBlocks(), 1);
    host.completeNext(QStringLiteral("ok:1"));

    later.update(filler + QStringLiteral("\n\nthree"), 0);
    ASSERT_EQ(jobs.size(), 3u);
    const std::function<void()> finish = jobs[2]();
    later.rendererTerminated(QStringLiteral("crashed, exit code 9"));
    const size_t calls = host.calls.size();
    finish();
    EXPECT_EQ(host.calls.size(), calls);
}

// What renders a long text's blocks is taken as its update is sent, not when the other thread
// gets to it: by then a newer text may have taken the analysis's place.
TEST_F(PatchingControllerTest, aLongTextsBlocksAreBoundWhenItsUpdateIsSent)
{
    QStringList bound;
    PreviewController::Sources s = deferringSources();
    s.renderBlocks = [](const QString &) {
        ADD_FAILURE() << "rendered without what was bound";
        return PreviewBody();
    };
    s.bindBlocks = [&bound](const QString &md) -> std::function<PreviewBody()> {
        bound << md;
        return [md] { return PreviewBody::render(MarkdownDocument(md)); };
    };
    PreviewController later {host, s};
    const QString filler = QString(backgroundParseSize, u'x');
    later.start(filler + QStringLiteral("\n\none"));
    ready(later);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(bound, QStringList {filler + QStringLiteral("\n\none")});
    later.update(filler + QStringLiteral("\n\ntwo"), 0); // coalesced while the first is out
    jobs[0]()();
    ASSERT_EQ(swaps().size(), 1);
    EXPECT_TRUE(swaps()[0].contains(QStringLiteral("one")));
}

TEST_F(PatchingControllerTest, aLongTextChangedDuringASwapGoesOutOnceTheSpacingHasPassed)
{
    FakeClock clock;
    PreviewController::Sources s = blockSources();
    s.clock = &clock;
    PreviewController later {host, s};
    const QString filler = QString(backgroundParseSize, u'x') + QStringLiteral("\n\n");
    later.start(filler + QStringLiteral("one"));
    ready(later);
    host.completeNext();

    later.update(filler + QStringLiteral("two"), 0);
    ASSERT_EQ(patches().size(), 1);
    later.update(filler + QStringLiteral("three"), 0);
    clock.advance(std::chrono::milliseconds(40));
    host.completeNext(QStringLiteral("ok:1"));
    later.update(filler + QStringLiteral("four"), 0); // coalesced into the waiting update
    EXPECT_TRUE(later.swapInFlight());
    clock.advance(std::chrono::milliseconds(70));
    EXPECT_EQ(patches().size(), 1);
    clock.advance(std::chrono::milliseconds(10));
    ASSERT_EQ(patches().size(), 2);
    EXPECT_TRUE(patches()[1].contains(QStringLiteral(">four</p>")));
    host.completeNext(QStringLiteral("ok:1"));
    EXPECT_FALSE(later.swapInFlight());
}

TEST_F(PatchingControllerTest, anUpdateStaysInFlightWhileThePageIsStillDrawingWhatIsInView)
{
    patching.start(QStringLiteral("one\n\ntwo"));
    ready(patching);
    int finished = 0;
    QObject::connect(&patching, &PreviewController::swapFinished, [&] { ++finished; });
    host.completeNext(QStringLiteral("busy"));
    EXPECT_TRUE(patching.swapInFlight());
    patching.update(QStringLiteral("one\n\ntwo!"), 0); // waits for the page
    EXPECT_TRUE(patches().isEmpty());
    // The page is asked again until it has drawn its visible part.
    auto asked = [&](size_t n) {
        return testsupport::waitUntil(
            [&] { return host.scriptsContaining(PreviewScripts::busyScript()).size() == int(n); },
            std::chrono::seconds(5));
    };
    ASSERT_TRUE(asked(1));
    host.completeNext(QStringLiteral("busy"));
    ASSERT_TRUE(asked(2));
    EXPECT_EQ(finished, 0);
    host.completeNext(QStringLiteral("done"));
    EXPECT_EQ(finished, 1);
    ASSERT_EQ(patches().size(), 1);
    host.completeNext(QStringLiteral("ok:1"));
    EXPECT_FALSE(patching.swapInFlight());
    EXPECT_EQ(finished, 2);
}

TEST_F(PatchingControllerTest, aLongDocumentComesInSlicesFromTheEditorsLineAfterAnEmptyFirstPage)
{
    QString text;
    for (int i = 1; text.size() < 300 * 1024; ++i)
        text += QStringLiteral("Paragraph %1 with some words to make it longer than a line.\n\n")
                    .arg(i);
    patching.start(text);
    ASSERT_EQ(host.pages.size(), 1);
    EXPECT_EQ(host.pages[0], QStringLiteral("PAGE:"));
    patching.update(text, 2001); // the editor shows line 2001: paragraph 1001
    ready(patching);
    const QStringList fills = host.scriptsContaining(QStringLiteral("__velto.startFill(["));
    ASSERT_EQ(fills.size(), 1);
    const int blocks = int(text.count(QStringLiteral("\n\n")));
    EXPECT_TRUE(fills[0].contains(QStringLiteral("],1000,%1);").arg(blocks)));
    EXPECT_TRUE(fills[0].contains(QStringLiteral("<p data-line=\\\"2001\\\">Paragraph 1001 ")));
    EXPECT_EQ(patching.lastDrawnBlocks(), blocks);

    // Typing into it afterwards is a patch again.
    host.completeNext(QStringLiteral("done"));
    patching.update(QStringLiteral("New first line\n\n") + text, 2003);
    ASSERT_EQ(patches().size(), 1);
    EXPECT_EQ(patching.lastDrawnBlocks(), 1);
}

// A long new text's first blocks go out at once, before the whole is prepared, and only then:
// an edit of it sends none. They end before the last block of the head, which may go on.
TEST_F(PatchingControllerTest, aLongNewTextsFirstBlocksGoOutAtOnceButNotForAnEdit)
{
    PreviewController::Sources s = deferringSources();
    PreviewController later {host, s};
    later.start(QStringLiteral("x"));
    ready(later);
    host.completeNext();

    QString text;
    for (int i = 0; text.size() < 512 * 1024; ++i)
        text += QStringLiteral("Paragraph %1 with [a link][r].\n\n").arg(i);
    text += QStringLiteral("[r]: https://example.com/\n");
    later.update(text, 0);
    const QStringList heads = host.scriptsContaining(QStringLiteral("__velto.showHead("));
    ASSERT_EQ(heads.size(), 1);
    EXPECT_EQ(jobs.size(), 1u); // the whole text, still being prepared
    EXPECT_TRUE(heads[0].contains(QStringLiteral(
        "<p data-line=\\\"1\\\">Paragraph 0 with <a href=\\\"https://example.com/")));
    const int lastLine = int(text.left(16 * 1024).count(u'\n'));
    EXPECT_FALSE(heads[0].contains(QStringLiteral("data-line=\\\"%1\\\"").arg(lastLine - 1)));

    jobs[0]()();
    host.completeNext();
    later.update(QStringLiteral("Edited. ") + text, 0);
    EXPECT_EQ(host.scriptsContaining(QStringLiteral("__velto.showHead(")).size(), 1);
}
