#include "Velto/root/AppContext.h"
#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/HistoryStore.h"
#include "Velto/model/SettingsNavigation.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "core/ai/AISettings.h"
#include "platform/Defaults.h"
#include "support/Ports.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

class BonjourAdvertiser;

namespace {

QJsonObject get(quint16 port, const QByteArray &target)
{
    QTcpSocket socket;
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    bool closed = false;
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] { closed = true; });
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("GET " + target + " HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    testsupport::waitUntil([&] { return closed; }, std::chrono::seconds(20));
    return QJsonDocument::fromJson(received.mid(received.indexOf("\r\n\r\n") + 4)).object();
}

// The root builds every service once over one store, hands the same instances to the windows
// and answers the remaining accessors with them only while it lives; its API serves the routes
// the subsystems register, the sync routes among them.
TEST(AppContext, buildsOneOfEachServiceAndWiresTheApiRoutes)
{
    QTemporaryDir dir;
    {
        AppContext context(dir.filePath("defaults.json"));
        EXPECT_EQ(context.store().filePath(), dir.filePath("defaults.json"));
        EXPECT_EQ(&AppSettings::shared(), &context.settings());
        EXPECT_EQ(&AISettings::shared(), &context.aiSettings());
        EXPECT_EQ(&HistoryStore::shared(), &context.history());
        EXPECT_EQ(&SettingsNavigation::shared(), &context.navigation());
        EXPECT_EQ(&DebugServer::shared(), &context.debugServer());
        EXPECT_EQ(&MacSyncAdapter::shared(), &context.syncAdapter());
        EXPECT_TRUE(RootInstance<BonjourAdvertiser>::isSet());

        const ShellServices services = context.shellServices();
        EXPECT_EQ(services.settings, &context.settings());
        EXPECT_EQ(services.debugServer, &context.debugServer());
        EXPECT_EQ(services.syncAdapter, &context.syncAdapter());
        EXPECT_EQ(services.defaults, &context.store());
        EXPECT_EQ(services.clock.get(), &context.clock());
        EXPECT_TRUE(services.makeChatView);

        context.settings().setApiToken(QString());
        DebugServer &api = context.debugServer();
        const quint16 port = testsupport::listenOnFreePort([&](quint16 candidate) {
            api.startListener(candidate);
            return api.activePort() == candidate;
        });
        EXPECT_EQ(get(port, "/api/sync/status").value("isPaired"), false);
        EXPECT_TRUE(get(port, "/api/status").contains("wordCount"));
        EXPECT_TRUE(get(port, "/api/endpoints").contains("endpoints"));
    }
    EXPECT_FALSE(RootInstance<AppSettings>::isSet());
    EXPECT_FALSE(RootInstance<MacSyncAdapter>::isSet());
}

} // namespace
