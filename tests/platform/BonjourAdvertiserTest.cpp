#include "platform/BonjourAdvertiser.h"
#include "fakes/platform/FakeServiceRegistrar.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QTcpSocket>

#include <avahi-client/client.h>
#include <avahi-common/simple-watch.h>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using State = ServiceRegistrar::State;
using testsupport::waitUntil;

namespace {

struct Fixture
{
    std::shared_ptr<FakeServiceRegistrar::Record> record
        = std::make_shared<FakeServiceRegistrar::Record>();
    QString name = u"studio"_s;
    BonjourAdvertiser advertiser {std::make_unique<FakeServiceRegistrar>(record),
                                  [this] { return name; }, QHostAddress::LocalHost};
};

QByteArray txtValue(const ServiceRegistrar::Service &service, const QByteArray &key)
{
    for (const auto &[k, v] : service.txt) {
        if (k == key)
            return v;
    }
    return {};
}

} // namespace

TEST(BonjourAdvertiser, advertisesTheComputerNameInNameAndTxtRecord)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    Fixture f;
    f.advertiser.start();
    ASSERT_EQ(f.record->services.size(), 1);
    const auto &service = f.record->services.front();
    EXPECT_EQ(service.instanceName, u"Velto-studio"_s);
    EXPECT_EQ(service.type, QByteArray("_velto._tcp"));
    EXPECT_EQ(service.port, f.advertiser.port());
    EXPECT_NE(service.port, 0);
    EXPECT_EQ(txtValue(service, "hostname"), QByteArray("studio"));
    EXPECT_FALSE(f.advertiser.isAdvertising());

    f.record->report(State::Waiting);
    EXPECT_FALSE(f.advertiser.isAdvertising());
    f.record->report(State::Ready);
    EXPECT_TRUE(f.advertiser.isAdvertising());
    // The line names the computer, not the whole instance name.
    EXPECT_EQ(log.lines(), QStringList {u"[Bonjour] Advertising as Velto-studio"_s});
}

TEST(BonjourAdvertiser, fallsBackToMacAndFitsTheNameIntoOneLabel)
{
    Fixture f;
    f.name.clear();
    f.advertiser.start();
    EXPECT_EQ(f.record->services.front().instanceName, u"Velto-Mac"_s);
    EXPECT_EQ(txtValue(f.record->services.front(), "hostname"), QByteArray("Mac"));

    // 57 bytes are left for the name; a four-byte emoji that would cross the limit goes whole.
    const QString longName = u"a"_s.repeated(55) + u"\U0001F600tail"_s;
    EXPECT_EQ(BonjourAdvertiser::instanceNameFor(longName), u"Velto-"_s + u"a"_s.repeated(55));
    EXPECT_EQ(BonjourAdvertiser::instanceNameFor(u"\u00e9"_s.repeated(40)).toUtf8().size(), 62);
    EXPECT_EQ(BonjourAdvertiser::instanceNameFor(u"short"_s), u"Velto-short"_s);
}

TEST(BonjourAdvertiser, startingAgainWhileAdvertisingChangesNothing)
{
    Fixture f;
    f.advertiser.start();
    f.record->report(State::Ready);
    const quint16 port = f.advertiser.port();
    f.advertiser.start();
    f.advertiser.start();
    EXPECT_EQ(f.record->services.size(), 1);
    EXPECT_EQ(f.record->liveRegistrations, 1);
    EXPECT_EQ(f.advertiser.port(), port);
}

TEST(BonjourAdvertiser, aStartBeforeReadyOrAfterAFailureReplacesTheListener)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    Fixture f;
    f.advertiser.start();
    const auto staleHandler = f.record->handler;
    f.advertiser.start(); // not ready yet: rebuilt, the first one withdrawn
    EXPECT_EQ(f.record->services.size(), 2);
    EXPECT_EQ(f.record->liveRegistrations, 1);
    staleHandler(State::Ready); // the replaced registration no longer counts
    EXPECT_FALSE(f.advertiser.isAdvertising());

    f.record->report(State::Ready);
    EXPECT_TRUE(f.advertiser.isAdvertising());
    f.record->report(State::Failed);
    EXPECT_FALSE(f.advertiser.isAdvertising());
    f.advertiser.start();
    EXPECT_EQ(f.record->services.size(), 3);
    EXPECT_EQ(f.record->liveRegistrations, 1);
    f.record->report(State::Cancelled);
    EXPECT_FALSE(f.advertiser.isAdvertising());
    EXPECT_EQ(log.count(u"[Bonjour]"_s), 1); // failures and cancellations are silent
}

TEST(BonjourAdvertiser, aRegistrarThatCannotStartIsLoggedOnceAndTriedAgainNextTime)
{
    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    Fixture f;
    f.record->creationError = u"Daemon not running"_s;
    f.advertiser.start();
    EXPECT_EQ(log.lines(), QStringList {u"[Bonjour] Listener failed: Daemon not running"_s});
    EXPECT_FALSE(f.advertiser.isAdvertising());
    EXPECT_EQ(f.advertiser.port(), 0);

    f.record->creationError.clear();
    f.advertiser.start();
    EXPECT_EQ(f.record->services.size(), 1);
    EXPECT_NE(f.advertiser.port(), 0);
}

TEST(BonjourAdvertiser, connectionsToTheAdvertisedPortAreClosedAtOnce)
{
    Fixture f;
    f.advertiser.start();
    QTcpSocket socket;
    bool closed = false;
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] { closed = true; });
    socket.connectToHost(QHostAddress::LocalHost, f.advertiser.port());
    ASSERT_TRUE(waitUntil([&] { return closed; }));
    EXPECT_EQ(socket.bytesAvailable(), 0);
}

TEST(BonjourAdvertiser, withoutAnAvahiDaemonTheFailureIsLoggedAndNothingBreaks)
{
    // Never publish on a real network from a test: only run where no daemon answers.
    AvahiSimplePoll *poll = avahi_simple_poll_new();
    int error = 0;
    AvahiClient *probe = avahi_client_new(avahi_simple_poll_get(poll), AvahiClientFlags(0), nullptr,
                                          nullptr, &error);
    if (probe) {
        avahi_client_free(probe);
        avahi_simple_poll_free(poll);
        GTEST_SKIP() << "an Avahi daemon is running";
    }
    avahi_simple_poll_free(poll);

    testsupport::LogCapture log(testsupport::LogCapture::Source::qtMessages);
    BonjourAdvertiser advertiser(
        ServiceRegistrar::avahi(), [] { return u"test-host"_s; }, QHostAddress::LocalHost);
    advertiser.start();
    advertiser.start();
    EXPECT_FALSE(advertiser.isAdvertising());
    if (log.count(u"[Bonjour] Listener failed: "_s) == 0) {
        // With a system bus the client waits for a daemon to appear instead of failing.
        EXPECT_NE(advertiser.port(), 0);
        return;
    }
    EXPECT_EQ(log.count(u"[Bonjour] Listener failed: "_s), 2); // once per start, no retry loop
    EXPECT_EQ(advertiser.port(), 0);
}
