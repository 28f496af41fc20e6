#include "ShellFixture.h"

#include "Velto/shell/StatusBarView.h"
#include "core/sync/SyncState.h"
#include "support/TestSupport.h"

#include <QLabel>

using namespace shelltest;

namespace {

class StatusBar : public ShellTest
{
protected:
    void TearDown() override
    {
        bar.reset();
        ShellTest::TearDown();
    }
    QString counts() const
    {
        return bar->wordsLabel()->text() + u'|' + bar->charsLabel()->text() + u'|'
            + bar->readingTimeLabel()->text();
    }
    bool shown(QWidget *w) const { return w->isVisibleTo(bar.get()); }

    std::unique_ptr<StatusBarView> bar;
};

TEST_F(StatusBar, countsAndFileNameFollowTheDocumentAndLongTextsAreCountedAside)
{
    bar = std::make_unique<StatusBarView>(*ws, *sync);
    EXPECT_EQ(counts(), QStringLiteral("Wörter: 0|Zeichen: 0|1 min"));
    EXPECT_FALSE(shown(bar->syncIndicator()));
    EXPECT_FALSE(shown(bar->fileNameLabel()));

    ASSERT_TRUE(write(QStringLiteral("notes.md"), "zwei Wörter e\xcc\x81\r\n"));
    ws->openFile(docURL(QStringLiteral("notes.md")));
    EXPECT_EQ(counts(), QStringLiteral("Wörter: 3|Zeichen: 14|1 min"));
    EXPECT_TRUE(shown(bar->fileNameLabel()));
    EXPECT_EQ(bar->fileNameLabel()->text(), QStringLiteral("notes.md"));
    ws->closeFile();
    EXPECT_FALSE(shown(bar->fileNameLabel()));
    EXPECT_EQ(counts(), QStringLiteral("Wörter: 0|Zeichen: 0|1 min"));

    // A long text is counted on a worker; a later text wins over a count still under way.
    const QString words = QStringLiteral("wort ").repeated(StatusBarView::synchronousCountLimit);
    ws->setText(words);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !counts().startsWith(u"Wörter: 0|"); }));
    EXPECT_EQ(bar->wordsLabel()->text(), QStringLiteral("Wörter: %1").arg(words.size() / 5));
    ws->setText(words + u'x');
    ws->setText(QStringLiteral("eins zwei"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !bar->isCounting(); }));
    QCoreApplication::processEvents(); // a count of an earlier text lands, and is not shown
    EXPECT_EQ(counts(), QStringLiteral("Wörter: 2|Zeichen: 9|1 min"));
    // A count label keeps the width of its longest text, so new counts never lay the window
    // out again, and always has room for the text it shows.
    QLabel *label = bar->wordsLabel();
    EXPECT_EQ(label->minimumSize(), label->maximumSize());
    EXPECT_LT(label->fontMetrics().horizontalAdvance(label->text()), label->maximumWidth());
}

TEST_F(StatusBar, syncIndicatorAppearsOnlyWhilePairedWithTheStatusColour)
{
    bar = std::make_unique<StatusBarView>(*ws, *sync);
    using Status = SyncState::ConnectionStatus;
    SyncState &state = sync->state();
    state.setConnectionStatus(Status::connected());
    state.setFolderId(QStringLiteral("folder"));
    EXPECT_FALSE(shown(bar->syncIndicator())) << "not paired without the token";
    state.setFolderToken(QStringLiteral("token"));
    EXPECT_TRUE(shown(bar->syncIndicator()));

    const QList<std::pair<Status, QColor>> table {
        {Status::disconnected(), QColor(0x8E, 0x8E, 0x93)},
        {Status::pairing(), QColor(0x8E, 0x8E, 0x93)},
        {Status::connecting(), QColor(0xFF, 0x95, 0x00)},
        {Status::syncing(), QColor(0xFF, 0x95, 0x00)},
        {Status::connected(), QColor(0x34, 0xC7, 0x59)},
        {Status::error(QStringLiteral("kaputt")), QColor(0xFF, 0x3B, 0x30)},
    };
    for (const auto &[status, colour] : table) {
        state.setConnectionStatus(status);
        EXPECT_EQ(bar->syncDotColor(), colour) << status.toString().toStdString();
    }
    state.setFolderToken(std::nullopt);
    EXPECT_FALSE(shown(bar->syncIndicator()));
}

} // namespace
