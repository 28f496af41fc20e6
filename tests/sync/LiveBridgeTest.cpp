// Two devices, each a workspace with its sync adapter, editing one document through the live
// relay. Time is the relay clients' manual clock; the network runs for real on loopback.
#include "AdapterTestSupport.h"

#include "fakes/live/FakeLiveRelay.h"
#include "fakes/live/ManualLiveClock.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using adaptertest::Device;
using testsupport::waitUntil;

namespace {

const QString file = u"notes/a.md"_s;

struct Pair
{
    FakeLiveRelay relay;
    ManualLiveClock clock;
    std::unique_ptr<Device> a;
    std::unique_ptr<Device> b;

    explicit Pair(const QByteArray &initial = "# Notes\n")
    {
        EXPECT_TRUE(relay.listen());
        a = device(u"devA"_s, initial);
        b = device(u"devB"_s, initial);
        EXPECT_TRUE(waitUntil([&] { return handshakeDone(*a) && handshakeDone(*b); }));
        settle();
    }

    std::unique_ptr<Device> device(const QString &name, const QByteArray &initial)
    {
        auto d = std::make_unique<Device>(name, &clock);
        // Each device its own token, so the relay's connections can be told apart.
        d->pair(relay.baseUrl(), u"7"_s, u"token-"_s + name);
        EXPECT_TRUE(d->open(file, initial));
        d->adapter->attach(*d->ws);
        return d;
    }

    static bool handshakeDone(const Device &d)
    {
        const LiveSyncEngine *live = d.adapter->liveEngine();
        return live && live->client() && live->client()->isHandshakeDone();
    }

    // The relay's open connection of a device, -1 when it has none.
    int connectionOf(const Device &d) const
    {
        const QString token = d.adapter->state().folderToken().value_or(QString());
        for (int id = relay.connectionCount() - 1; id >= 0; --id) {
            const auto &c = relay.connection(id);
            if (c.open && c.token == token)
                return id;
        }
        return -1;
    }

    // Every frame a device wrote has reached the relay and every frame the relay passed on has
    // been read.
    bool quiet() const
    {
        for (const Device *d : {a.get(), b.get()}) {
            if (!handshakeDone(*d))
                continue;
            const int id = connectionOf(*d);
            if (id < 0)
                return false;
            const LiveSyncClient *client = d->adapter->liveEngine()->client();
            const auto &c = relay.connection(id);
            if (c.received.size() != client->framesSent()
                || c.delivered.size() != client->framesReceived())
                return false;
        }
        return true;
    }

    // Lets the network and the message handlers finish what is under way.
    void settle()
    {
        for (int round = 0; round < 3; ++round) {
            ASSERT_TRUE(waitUntil([&] { return quiet(); }));
            for (int i = 0; i < 5; ++i)
                QCoreApplication::processEvents();
        }
    }

    void advance(std::chrono::milliseconds by)
    {
        for (auto done = 0ms; done < by; done += 10ms) {
            clock.advance(10ms);
            settle();
        }
    }

    // Waits out the debounce and whatever follows, then the time given.
    bool convergesWithin(std::chrono::milliseconds limit)
    {
        advance(limit);
        return a->ws->text() == b->ws->text();
    }

    int editFrames(const Device &d) const
    {
        int count = 0;
        const QString token = d.adapter->state().folderToken().value_or(QString());
        for (int id = 0; id < relay.connectionCount(); ++id) {
            if (relay.connection(id).token == token)
                count += int(relay.framesOfType(id, u"edit"_s).size());
        }
        return count;
    }
};

void type(Device &d, qsizetype position, const QString &text)
{
    QString next = d.ws->text();
    next.insert(std::clamp<qsizetype>(position, 0, next.size()), text);
    d.ws->setText(next);
}

void erase(Device &d, qsizetype position)
{
    QString next = d.ws->text();
    if (next.isEmpty())
        return;
    next.remove(std::clamp<qsizetype>(position, 0, next.size() - 1), 1);
    d.ws->setText(next);
}

} // namespace

TEST(LiveBridge, typingReachesThePeerAndNothingComesBack)
{
    Pair p;
    const QString words = u"Tippen \u00fcber Zeilen\nhinweg."_s;
    for (const QChar c : words) {
        type(*p.a, p.a->ws->text().size(), QString(c));
        p.advance(10ms);
    }
    ASSERT_TRUE(p.convergesWithin(100ms));
    EXPECT_EQ(p.b->ws->text(), u"# Notes\n"_s + words);
    EXPECT_GE(p.editFrames(*p.a), 1);
    EXPECT_EQ(p.editFrames(*p.b), 0); // received text is not sent back
    EXPECT_NE(p.b->ws->remoteEditGeneration(), 0);
    EXPECT_EQ(p.b->adapter->lastKnownText(), p.b->ws->text());

    // And the other way round; a text set by another writer (the API) goes out like typing.
    p.b->ws->setText(u"replaced by B"_s);
    ASSERT_TRUE(p.convergesWithin(100ms));
    EXPECT_EQ(p.a->ws->text(), u"replaced by B"_s);
    type(*p.b, 8, u"!"_s);
    ASSERT_TRUE(p.convergesWithin(100ms));
    EXPECT_EQ(p.a->ws->text(), u"replaced! by B"_s);
    const auto last = p.relay.framesOfType(p.connectionOf(*p.b), u"edit"_s).back();
    EXPECT_TRUE(last.text.contains(u"[{\"op\":\"insert\",\"pos\":8,\"text\":\"!\"}]"_s));
}

TEST(LiveBridge, editsCrossingOnTheWireSettleOnOneText)
{
    Pair p;
    for (int round = 0; round < 5; ++round) {
        type(*p.a, 0, u"A"_s);
        type(*p.b, 999, u"B"_s);
        p.advance(50ms); // both leave at the same moment
    }
    ASSERT_TRUE(p.convergesWithin(2s))
        << p.a->ws->text().toStdString() << " | " << p.b->ws->text().toStdString();
    // Both keep typing on the settled text.
    type(*p.a, 0, u"x"_s);
    ASSERT_TRUE(p.convergesWithin(200ms));
}

TEST(LiveBridge, aMissedEditIsMadeGoodByTheNextFullText)
{
    Pair p;
    type(*p.a, 8, u"one"_s);
    p.relay.dropNextFrames(1);
    p.advance(60ms);
    type(*p.a, 11, u" two"_s);
    p.advance(60ms);
    // The second edit does not build on what B holds; B is brought up to A's text.
    ASSERT_TRUE(p.convergesWithin(1s));
    EXPECT_EQ(p.b->ws->text(), u"# Notes\none two"_s);

    // A lost last edit: nothing follows it, yet the peer catches up once the document is quiet.
    type(*p.a, 0, u"!"_s);
    p.relay.dropNextFrames(1);
    ASSERT_TRUE(p.convergesWithin(1s));
    EXPECT_EQ(p.b->ws->text(), u"!# Notes\none two"_s);
}

TEST(LiveBridge, afterAReconnectTheDocumentsAreBroughtInLine)
{
    Pair p;
    p.relay.abortAll();
    ASSERT_TRUE(
        waitUntil([&] { return !Pair::handshakeDone(*p.a) && !Pair::handshakeDone(*p.b); }));
    // Typed while the connection is down: the edit finds no connection.
    type(*p.b, 8, u"offline"_s);
    p.advance(1s);
    ASSERT_TRUE(waitUntil([&] { return Pair::handshakeDone(*p.a) && Pair::handshakeDone(*p.b); }));
    ASSERT_TRUE(p.convergesWithin(1s));
    EXPECT_EQ(p.a->ws->text(), u"# Notes\noffline"_s);
    // Each side announced its document after the reconnect.
    EXPECT_GE(p.relay.framesOfType(p.connectionOf(*p.a), u"sync"_s).size(), 1);
}

// Random typing on both sides, frames dropped now and then, connections killed: two seconds
// after the last keystroke both hold the same text.
TEST(LiveBridge, randomConcurrentEditingAlwaysConverges)
{
    const QStringList alphabet {u"a"_s, u"b"_s, u" "_s, u"\n"_s, u"\u00e9"_s, u"\U0001F600"_s};
    for (quint32 seed = 1; seed <= 10; ++seed) {
        Pair p;
        QRandomGenerator random(seed);
        for (int step = 0; step < 40; ++step) {
            const int action = int(random.bounded(100));
            auto edit = [&](Device &d) {
                const qsizetype size = d.ws->text().size();
                qsizetype at = random.bounded(int(size) + 1);
                // Never inside a surrogate pair.
                if (at > 0 && at < size && d.ws->text().at(at).isLowSurrogate())
                    --at;
                if (random.bounded(4) == 0 && size > 0) {
                    if (at == size || d.ws->text().at(at).isHighSurrogate())
                        --at;
                    if (at >= 0 && !d.ws->text().at(at).isSurrogate())
                        erase(d, at);
                } else {
                    type(d, at, alphabet.at(random.bounded(alphabet.size())));
                }
            };
            if (action < 35) {
                edit(*p.a);
            } else if (action < 70) {
                edit(*p.b);
            } else if (action < 85) {
                edit(*p.a);
                edit(*p.b);
            } else if (action < 92) {
                p.relay.dropNextFrames(1);
            } else if (action < 95) {
                p.relay.abortAll();
            }
            p.advance(std::chrono::milliseconds(10 * (1 + random.bounded(8))));
        }
        ASSERT_TRUE(p.convergesWithin(2s))
            << "seed " << seed << ": " << p.a->ws->text().toStdString() << " | "
            << p.b->ws->text().toStdString();
    }
}

TEST(LiveBridge, receivedChangesApplyOnlyToTheOpenDocument)
{
    Pair p;
    const int toB = p.connectionOf(*p.b);
    p.b->write(u"other.md"_s, "other\n");
    p.relay.sendText(toB,
                     u"{\"type\":\"edit\",\"file\":\"other.md\",\"device\":\"x\",\"v\":50,"
                     "\"ops\":[{\"op\":\"insert\",\"pos\":0,\"text\":\"Z\"}]}"_s);
    p.relay.sendText(toB,
                     u"{\"type\":\"sync\",\"file\":\"other.md\",\"device\":\"x\",\"v\":50,"
                     "\"text\":\"replaced\"}"_s);
    for (const QString &path :
         {u"../outside.md"_s, u"/etc/hostname"_s, u".git/config"_s, u"missing.md"_s})
        p.relay.sendText(toB, u"{\"type\":\"select\",\"file\":\"%1\"}"_s.arg(path));
    p.settle();
    EXPECT_EQ(p.b->ws->text(), u"# Notes\n"_s);
    EXPECT_EQ(p.b->ws->selectedFileURL(), QUrl::fromLocalFile(p.b->path(file)));
    EXPECT_EQ(p.b->read(u"other.md"_s), "other\n");

    // A select of a file that exists opens it, and the device announces it back.
    p.relay.sendText(toB, u"{\"type\":\"select\",\"file\":\"other.md\",\"device\":\"devA\"}"_s);
    ASSERT_TRUE(waitUntil([&] {
        return p.b->ws->selectedFileURL() == QUrl::fromLocalFile(p.b->path(u"other.md"_s));
    }));
    p.settle();
    EXPECT_EQ(p.b->ws->text(), u"other\n"_s);
    const auto selects = p.relay.framesOfType(toB, u"select"_s);
    ASSERT_FALSE(selects.isEmpty());
    EXPECT_TRUE(selects.back().text.contains(u"other.md"_s));
    EXPECT_EQ(p.editFrames(*p.b), 0);
}

TEST(LiveBridge, caretMovesAreReportedOnlyForASyncedDocument)
{
    Pair p;
    p.b->ws->setCursorPosition(5);
    p.settle();
    const auto cursors = p.relay.framesOfType(p.connectionOf(*p.b), u"cursor"_s);
    ASSERT_EQ(cursors.size(), 1);
    EXPECT_EQ(QJsonDocument::fromJson(cursors[0].text.toUtf8()).object().value("pos"_L1), 5);
    // A document outside the folder: nothing goes out, and its text is no edit either.
    testsupport::writeFile(p.b->dir.filePath(u"outside.md"_s), "outside");
    ASSERT_TRUE(p.b->open(p.b->dir.filePath(u"outside.md"_s)));
    p.b->ws->setCursorPosition(2);
    type(*p.b, 0, u"x"_s);
    p.advance(100ms);
    EXPECT_EQ(p.relay.framesOfType(p.connectionOf(*p.b), u"cursor"_s).size(), 1);
    EXPECT_EQ(p.editFrames(*p.b), 0);
}

TEST(LiveBridge, aSecondWindowEndsTheFirstWindowsSession)
{
    Pair p;
    const int first = p.connectionOf(*p.a);
    WorkspaceState second;
    p.a->adapter->attach(second);
    ASSERT_TRUE(waitUntil([&] { return !p.relay.connection(first).open; }));
    EXPECT_EQ(p.relay.connection(first).closeCode, 1001);
    ASSERT_TRUE(waitUntil([&] { return Pair::handshakeDone(*p.a); }));
    // Typing in the first window reaches nobody now.
    type(*p.a, 0, u"stale window"_s);
    p.advance(100ms);
    EXPECT_EQ(p.b->ws->text(), u"# Notes\n"_s);
}

TEST(LiveBridge, openingAnotherFileAnnouncesItAndEditsNothingElse)
{
    Pair p;
    p.b->write(u"other.md"_s, "Other text\n");
    // The new file's text arrives before the new file name: it is no edit of the file before.
    ASSERT_TRUE(p.a->open(u"other.md"_s, "Other text\n"));
    p.advance(100ms);
    const int fromA = p.connectionOf(*p.a);
    EXPECT_EQ(p.editFrames(*p.a), 0);
    const auto syncs = p.relay.framesOfType(fromA, u"sync"_s);
    ASSERT_FALSE(syncs.isEmpty());
    EXPECT_TRUE(syncs.back().text.contains(u"\"file\":\"other.md\""_s));
    EXPECT_EQ(p.relay.framesOfType(fromA, u"select"_s).size(), 1);
    // B followed A into the file; its own copy of the first file is untouched.
    ASSERT_TRUE(waitUntil([&] { return p.b->ws->text() == u"Other text\n"_s; }));
    EXPECT_EQ(p.b->read(file), "# Notes\n");
}
