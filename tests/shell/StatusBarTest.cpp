#include "ShellFixture.h"

#include "Velto/shell/StatusBarView.h"
#include "core/sync/SyncState.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QThreadPool>

using namespace shelltest;

namespace {

class StatusBar : public ShellTest
{
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        bar = std::make_unique<StatusBarView>(*ws, *sync);
    }
    void TearDown() override
    {
        bar.reset();
        ShellTest::TearDown();
    }
    bool indicatorShown() const { return bar->syncIndicator()->isVisibleTo(bar.get()); }
    bool fileNameShown() const { return bar->fileNameLabel()->isVisibleTo(bar.get()); }

    std::unique_ptr<StatusBarView> bar;
};

TEST_F(StatusBar, emptyUntitledDocumentShowsZeroCountsOneMinuteAndNothingAtTheTrailingEdge)
{
    EXPECT_EQ(bar->wordsLabel()->text(), QStringLiteral("Wörter: 0"));
    EXPECT_EQ(bar->charsLabel()->text(), QStringLiteral("Zeichen: 0"));
    EXPECT_EQ(bar->readingTimeLabel()->text(), QStringLiteral("1 min"));
    EXPECT_FALSE(indicatorShown());
    EXPECT_FALSE(fileNameShown());
}

TEST_F(StatusBar, countsFollowTheTextAndTheFileNameFollowsTheOpenFile)
{
    ASSERT_TRUE(write(QStringLiteral("notes.md"), "zwei Wörter e\xcc\x81\r\n"));
    ws->openFile(docURL(QStringLiteral("notes.md")));
    EXPECT_EQ(bar->wordsLabel()->text(), QStringLiteral("Wörter: 3"));
    EXPECT_EQ(bar->charsLabel()->text(), QStringLiteral("Zeichen: 14"));
    EXPECT_TRUE(fileNameShown());
    EXPECT_EQ(bar->fileNameLabel()->text(), QStringLiteral("notes.md"));

    ws->closeFile();
    EXPECT_FALSE(fileNameShown());
    EXPECT_EQ(bar->wordsLabel()->text(), QStringLiteral("Wörter: 0"));
    EXPECT_EQ(bar->charsLabel()->text(), QStringLiteral("Zeichen: 0"));
}

TEST_F(StatusBar, aLongDocumentIsCountedWithoutHoldingUpTheEdit)
{
    const QString words
        = QStringLiteral("wort ").repeated(StatusBarView::synchronousCountLimit / 5 + 1);
    ws->setText(words);
    // The old figures stay until the worker's count arrives.
    EXPECT_EQ(bar->wordsLabel()->text(), QStringLiteral("Wörter: 0"));
    const QString expected = QStringLiteral("Wörter: %1").arg(words.size() / 5);
    ASSERT_TRUE(testsupport::waitUntil([&] { return bar->wordsLabel()->text() == expected; }));
    // A later, shorter text wins over a count still under way.
    ws->setText(words + QStringLiteral("x"));
    ws->setText(QStringLiteral("eins zwei"));
    EXPECT_EQ(bar->wordsLabel()->text(), QStringLiteral("Wörter: 2"));
    QThreadPool::globalInstance()->waitForDone();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(bar->wordsLabel()->text(), QStringLiteral("Wörter: 2"));
}

TEST_F(StatusBar, syncIndicatorAppearsOnlyWhilePairedWithTheStatusColour)
{
    using Status = SyncState::ConnectionStatus;
    SyncState &state = sync->state();
    state.setConnectionStatus(Status::connected());
    EXPECT_FALSE(indicatorShown()) << "unpaired: never, whatever the status";
    state.setFolderId(QStringLiteral("folder"));
    EXPECT_FALSE(indicatorShown());
    state.setFolderToken(QStringLiteral("token"));
    EXPECT_TRUE(indicatorShown());

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
    EXPECT_FALSE(indicatorShown());
}

} // namespace
