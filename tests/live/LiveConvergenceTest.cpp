// Two devices editing one document through the relay: every local change is diffed, sent as an
// edit, and applied on the other side. The devices here apply what builds on their text or claims
// a newer one and repair nothing; the editing bridge's repairs are tested with the sync adapter.
#include "LiveTestSupport.h"

#include "core/live/LiveSyncEngine.h"
#include "core/live/TextDiff.h"
#include "fakes/live/FakeLiveRelay.h"
#include "fakes/platform/FakeClock.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using testsupport::waitUntil;

namespace {

const QString file = u"notes/a.md"_s;

// One device's document with the bookkeeping of the editing bridge: the text last sent or
// received is what the next local change is diffed against.
struct Device
{
    QString text;
    QString lastKnown;
    std::unique_ptr<LiveSyncEngine> engine;
    int refused = 0;

    Device(const QString &name, FakeLiveRelay &relay, FakeClock &clock)
        : engine(std::make_unique<LiveSyncEngine>(u"7"_s, u"token"_s, relay.baseUrl(), name,
                                                  LiveSyncTimings {}, &clock))
    {
        engine->open([this](LiveSyncMessage m, LiveOrder order) -> QCoro::Task<> {
            if (m.file != file || order == LiveOrder::Same || order == LiveOrder::Behind)
                co_return;
            if (m.type == LiveMessageType::Edit && m.ops && !m.ops->isEmpty()) {
                if (const auto next = TextDiff::applyChecked(*m.ops, text)) {
                    text = lastKnown = *next;
                    engine->adopt(file, m.v.value_or(0));
                } else {
                    ++refused;
                }
            } else if (m.type == LiveMessageType::Sync && m.text) {
                text = lastKnown = *m.text;
                engine->adopt(file, m.v.value_or(0));
            }
            co_return;
        });
    }

    void type(const QString &next)
    {
        text = next;
        const QList<EditOp> ops = TextDiff::diff(lastKnown, text);
        lastKnown = text;
        if (!ops.isEmpty())
            engine->sendEdit(file, ops);
    }
};

struct TwoDevices
{
    FakeLiveRelay relay;
    FakeClock clock;
    std::unique_ptr<Device> a;
    std::unique_ptr<Device> b;

    TwoDevices()
    {
        EXPECT_TRUE(relay.listen());
        a = std::make_unique<Device>(u"devA"_s, relay, clock);
        EXPECT_TRUE(relay.waitForOpenConnections(1));
        b = std::make_unique<Device>(u"devB"_s, relay, clock);
        EXPECT_TRUE(waitUntil([&] {
            return a->engine->client()->isHandshakeDone() && b->engine->client()->isHandshakeDone();
        }));
    }

    // Lets the debounce expire and waits until both documents agree.
    bool settle()
    {
        clock.advance(50ms);
        return waitUntil([&] { return a->text == b->text; });
    }
};

} // namespace

TEST(LiveConvergence, sequentialEditsFromBothSidesConverge)
{
    TwoDevices d;
    Device &a = *d.a;
    Device &b = *d.b;
    const QList<std::pair<Device *, QString>> steps {
        {&a, u"Hello world"_s},
        {&a, u"Hello \U0001F44D\U0001F3FD world"_s},
        {&b, u"Hello \U0001F44D\U0001F3FD there"_s},
        {&b, u"Hello \U0001F44D\U0001F3FD there\r\nsecond line\r\n"_s},
        {&a, u"Hello \U0001F44D\U0001F3FD there\r\nsecond line\r\ncafe"_s},
        {&a, u"Hello \U0001F44D\U0001F3FD there\r\nsecond line\r\ncafe\u0301"_s},
        {&b, u"Hello \U0001F44D\U0001F3FD there\r\nsecond line\r\ncafe\u0301 \U0001F1E9"_s},
        {&b,
         u"Hello \U0001F44D\U0001F3FD there\r\nsecond line\r\ncafe\u0301 \U0001F1E9\U0001F1EA"_s},
        {&a, u"Hello \U0001F44D\U0001F3FD\r\ncafe\u0301 \U0001F1E9\U0001F1EA"_s}, // across lines
        {&b, u"\u1100\u1161\u11A8 \u0915\u094D\u0937 Hello\r\ncafe\u0301 \U0001F1E9\U0001F1EA"_s},
        {&a, QString()},
        {&b, u"again"_s},
    };
    for (const auto &[device, text] : steps) {
        device->type(text);
        ASSERT_TRUE(d.settle()) << text.toStdString();
        EXPECT_EQ(d.a->text, text);
    }
    EXPECT_EQ(a.refused + b.refused, 0);
}

TEST(LiveConvergence, aBurstOfKeystrokesArrivesWithoutEchoes)
{
    TwoDevices d;
    const QString sentence = u"Typing \u00fcber \U0001F600 fast!!"_s;
    QString typed;
    int keystrokes = 0;
    for (qsizetype i = 0; i < sentence.size(); ++i) {
        typed += sentence[i];
        if (sentence[i].isHighSurrogate())
            continue; // one Character, one keystroke
        d.a->type(typed);
        ++keystrokes;
        d.clock.advance(10ms);
    }
    ASSERT_EQ(keystrokes, 20);
    ASSERT_TRUE(d.settle());
    EXPECT_EQ(d.b->text, sentence);
    EXPECT_EQ(d.relay.framesOfType(0, u"edit"_s).size(), 20);
    EXPECT_EQ(d.relay.framesOfType(1, u"edit"_s).size(), 0); // received text is not sent back
    // The frames of the burst left together, 50 ms after the last keystroke.
    const auto frames = d.relay.framesOfType(0, u"edit"_s);
    EXPECT_LE(frames.back().atMs - frames.front().atMs, 1000);
}

TEST(LiveConvergence, delayedRelayingStillConverges)
{
    TwoDevices d;
    d.relay.setRelayDelay(30ms);
    d.a->type(u"slow "_s);
    d.clock.advance(50ms);
    d.a->type(u"slow network"_s);
    ASSERT_TRUE(d.settle());
    EXPECT_EQ(d.b->text, u"slow network"_s);
}

TEST(LiveConvergence, aLostEditLeavesThePeerBehindUntilAFullText)
{
    TwoDevices d;
    d.a->type(u"one"_s);
    ASSERT_TRUE(d.settle());
    d.relay.dropNextFrames(1);
    d.a->type(u"one two"_s);
    d.clock.advance(50ms);
    d.a->type(u"one two three"_s);
    d.clock.advance(50ms);
    ASSERT_TRUE(waitUntil([&] { return d.relay.framesOfType(0, u"edit"_s).size() == 3; }));
    // The third edit counts on the second: on the peer's shorter text it does not fit and is
    // refused instead of landing somewhere else.
    ASSERT_TRUE(waitUntil([&] { return d.b->refused == 1; }));
    EXPECT_EQ(d.b->text, u"one"_s);

    d.a->engine->sendSync(file, d.a->text);
    ASSERT_TRUE(waitUntil([&] { return d.b->text == d.a->text; }));
}

TEST(LiveConvergence, anEditOutsideTheTextIsRefusedWhole)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    TwoDevices d;
    d.a->type(u"abc"_s);
    ASSERT_TRUE(d.settle());
    d.relay.sendText(
        1,
        u"{\"type\":\"edit\",\"file\":\"notes/a.md\",\"device\":\"x\",\"v\":5,\"ops\":"
        "[{\"op\":\"delete\",\"pos\":2,\"len\":9},{\"op\":\"insert\",\"pos\":2,\"text\":\"Z\"}]}"_s);
    ASSERT_TRUE(waitUntil([&] { return d.b->refused == 1; }));
    EXPECT_EQ(d.b->text, u"abc"_s);
    EXPECT_TRUE(log.contains(u"LiveSync: edit dropped"_s));
}
