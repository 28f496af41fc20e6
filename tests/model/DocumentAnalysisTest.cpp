#include "Velto/model/DocumentAnalysis.h"
#include "Velto/model/WorkspaceState.h"
#include "core/model/TextMetrics.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <random>
#include <vector>

// Each workspace has its own analysis. A short text's is ready at once; a long text's parts are
// made off the GUI thread, and only the revision the workspace holds is ever announced, however
// the jobs of older ones end.
TEST(DocumentAnalysis, perWorkspaceAndOnlyTheCurrentRevisionIsAnnounced)
{
    WorkspaceState ws;
    WorkspaceState other;
    DocumentAnalysis &analysis = DocumentAnalysis::of(ws);
    EXPECT_EQ(&analysis, &DocumentAnalysis::of(ws));
    EXPECT_NE(&analysis, &DocumentAnalysis::of(other));

    QSignalSpy ready(&analysis, &DocumentAnalysis::ready);
    ws.setText(QStringLiteral("# Short\n"));
    EXPECT_EQ(ready.count(), 1);
    EXPECT_TRUE(analysis.isReady());
    EXPECT_TRUE(analysis.current()->isOf(ws.text()));

    struct Made
    {
        int part;
        quint64 revision;
        bool offGuiThread;
    };
    std::mutex mutex;
    std::vector<Made> made;
    auto record = [&](int part) {
        return [&, part](const TextAnalysis &text) {
            std::lock_guard lock(mutex);
            made.push_back({part, text.revision(), QThread::currentThread() != qApp->thread()});
        };
    };
    QObject later;
    QObject urgent;
    analysis.setPreparation(&later, record(2));
    analysis.setPreparation(&urgent, record(1));

    const QString longText(2 * backgroundParseSize, u'x');
    ws.setText(longText);
    ws.setText(longText + u'y');
    const quint64 newest = analysis.current()->revision();
    EXPECT_FALSE(analysis.isReady());
    std::vector<quint64> announced;
    QObject::connect(&analysis, &DocumentAnalysis::ready,
                     [&] { announced.push_back(analysis.current()->revision()); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return analysis.isReady(); }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !analysis.isBusy(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(announced, (std::vector<quint64> {newest})); // once all parts are made

    std::vector<int> newestParts;
    for (const Made &m : made) {
        EXPECT_TRUE(m.offGuiThread);
        if (m.revision == newest)
            newestParts.push_back(m.part);
    }
    std::sort(newestParts.begin(), newestParts.end());
    EXPECT_EQ(newestParts, (std::vector<int> {1, 2}));
    analysis.setPreparation(&later, {});
    analysis.setPreparation(&urgent, {});
}

// A revision of a long text is made from the newest one before it that has its parts, which
// keeps no base of its own; an edit of it is re-parsed where it happened.
TEST(DocumentAnalysis, aLongTextsRevisionIsMadeFromTheOneBefore)
{
    WorkspaceState ws;
    DocumentAnalysis &analysis = DocumentAnalysis::of(ws);
    QString text;
    while (text.size() < 2 * localReparseSize)
        text += QStringLiteral("# Heading\n\nSome *text*.\n\n");
    ws.setText(text);
    const std::shared_ptr<const TextAnalysis> first = analysis.current();
    first->layout();
    ws.setText(QString(text).insert(text.size() / 2, u'x'));
    const std::shared_ptr<const TextAnalysis> second = analysis.current();
    EXPECT_EQ(second->base(), first);
    ASSERT_NE(second->localReparse(), nullptr);
    EXPECT_LT(second->localReparse()->window->text().size(), 100);

    // The second revision has not got the parts of the first: the third is made from the first.
    first->derived(+[](const TextAnalysis &) { return 1; });
    ws.setText(QString(text).insert(text.size() / 2, u'y'));
    EXPECT_EQ(analysis.current()->base(), first);
    EXPECT_EQ(first->base(), nullptr);
}

// A long text's counts are made from the revision before's where its lines were re-parsed
// locally, and equal a whole count after any edit: clusters across the edit's ends, line breaks
// added or removed, and a CR LF (counted whole from then on).
TEST(DocumentAnalysis, countsMadeFromTheRevisionBeforeEqualAWholeCount)
{
    const QStringList pieces = {"word",    " ",
                                "\n",      "\n\n",
                                "e\u0301", "\U0001F469\u200D\U0001F4BB",
                                "\t",      "# ",
                                "- ",      "\U0001F1E9\U0001F1EA",
                                "a",       "\u00A0"};
    std::mt19937 random(20261210);
    auto piece = [&] { return pieces[int(random() % pieces.size())]; };
    QString text;
    while (text.size() < 2 * localReparseSize)
        text += piece();
    auto analysis = std::make_shared<const TextAnalysis>(1, text.replace("\r\n", "\n"));
    analysis->layout();
    analysis->derived(&WorkspaceState::countsOf);
    int fromBase = 0;
    for (int step = 0; step < 300; ++step) {
        QString next = analysis->text();
        const qsizetype at = qsizetype(random() % (next.size() + 1));
        next.replace(at, std::min<qsizetype>(next.size() - at, random() % 6),
                     step == 250 ? QString("\r\n") : piece() + piece());
        analysis->dropBase();
        auto made = std::make_shared<const TextAnalysis>(analysis->revision() + 1, next, analysis);
        const WorkspaceState::TextCounts &counts = made->derived(&WorkspaceState::countsOf);
        ASSERT_EQ(counts.words, TextMetrics::wordCount(next)) << "step " << step;
        ASSERT_EQ(counts.characters, TextMetrics::characterCount(next)) << "step " << step;
        fromBase += made->localReparse() != nullptr;
        made->layout();
        analysis = made;
    }
    EXPECT_GT(fromBase, 150);
}
