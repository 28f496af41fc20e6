#include "Velto/root/AppContext.h"
#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/HistoryStore.h"
#include "Velto/model/SettingsNavigation.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "core/ai/AISettings.h"
#include "platform/Defaults.h"
#include "support/LoopbackRequest.h"
#include "support/Ports.h"
#include "support/TestSupport.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

class BonjourAdvertiser;

namespace {

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
        EXPECT_EQ(testsupport::requestJson(port, "GET", "/api/sync/status").value("isPaired"),
                  false);
        EXPECT_TRUE(testsupport::requestJson(port, "GET", "/api/status").contains("wordCount"));
        EXPECT_TRUE(testsupport::requestJson(port, "GET", "/api/endpoints").contains("endpoints"));
    }
    EXPECT_FALSE(RootInstance<AppSettings>::isSet());
    EXPECT_FALSE(RootInstance<MacSyncAdapter>::isSet());
}

} // namespace
