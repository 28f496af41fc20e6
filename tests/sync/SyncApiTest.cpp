// The local API's sync routes, served by a real listener.
#include "AdapterTestSupport.h"
#include "SyncTestSupport.h"

#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "Velto/root/SyncApiRoutes.h"
#include "support/Ports.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>

using namespace Qt::StringLiterals;
using adaptertest::Device;
using testsupport::waitUntil;

namespace {

struct Api
{
    Device device {u"desk"_s};
    AppSettings settings {*device.defaults};
    DebugServer server {settings};
    QNetworkAccessManager network;
    quint16 port = 0;

    Api()
    {
        syncapi::install(server, *device.adapter);
        port = testsupport::listenOnFreePort([&](quint16 p) {
            server.startListener(p);
            return server.activePort() == p;
        });
    }

    // The answer's JSON, once it has arrived.
    QJsonObject call(const QByteArray &method, const QString &path, const QByteArray &body = {})
    {
        QNetworkRequest request(QUrl(u"http://127.0.0.1:%1%2"_s.arg(port).arg(path)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        request.setRawHeader("Authorization", "Bearer " + settings.apiToken().toUtf8());
        QNetworkReply *reply = network.sendCustomRequest(request, method, body);
        EXPECT_TRUE(waitUntil([&] { return reply->isFinished(); }));
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        reply->deleteLater();
        return answer;
    }
};

} // namespace

TEST(SyncApi, statusShowsTheSyncStateWithAndWithoutPairing)
{
    Api api;
    QJsonObject status = api.call("GET", u"/api/sync/status"_s);
    EXPECT_EQ(status.keys(),
              (QStringList {u"backendURL"_s, u"connectionStatus"_s, u"folderId"_s, u"isActive"_s,
                            u"isPaired"_s, u"lastServerID"_s, u"structureHash"_s}));
    EXPECT_TRUE(status.value("folderId"_L1).isNull());
    EXPECT_EQ(status.value("isPaired"_L1), false);
    EXPECT_EQ(status.value("isActive"_L1), false);
    EXPECT_EQ(status.value("connectionStatus"_L1), u"disconnected"_s);

    SyncState &state = api.device.adapter->state();
    state.setFolderId(u"42"_s);
    state.setFolderToken(QString()); // present, even if empty
    state.setLastServerID(9007199254740993);
    state.setConnectionStatus(SyncState::ConnectionStatus::error(u"Stream \"lost\""_s));
    status = api.call("GET", u"/api/sync/status"_s);
    EXPECT_EQ(status.value("folderId"_L1), u"42"_s);
    EXPECT_EQ(status.value("isPaired"_L1), true);
    EXPECT_EQ(status.value("isActive"_L1), true);
    EXPECT_EQ(status.value("lastServerID"_L1).toInteger(), 9007199254740993);
    EXPECT_EQ(status.value("connectionStatus"_L1), u"error(\"Stream \\\"lost\\\"\")"_s);
}

TEST(SyncApi, theTriggerAnswersOnceOneRemoteChangePassHasRun)
{
    Api api;
    // Not paired: at once.
    EXPECT_EQ(api.call("POST", u"/api/sync/trigger"_s).value("ok"_L1), true);

    synctest::Fixture f;
    f.backend.addFile(f.folder.id, u"remote.md"_s, "from elsewhere");
    QJsonArray entries {QJsonObject {{u"relative_path"_s, u"remote.md"_s},
                                     {u"size_bytes"_s, 14},
                                     {u"content_type"_s, u"text/markdown"_s}}};
    f.backend.setStructure(f.folder.id, entries);
    api.device.pair(f.backend.baseURLString(), f.folderId, f.folder.token);
    api.device.adapter->attach(*api.device.ws);
    f.backend.delayNext("GET", u"/structure$"_s, 100);
    const QJsonObject answer = api.call("POST", u"/api/sync/trigger"_s, "{\"ignored\":1}");
    EXPECT_EQ(answer, (QJsonObject {{u"ok"_s, true}}));
    // The pass was over when the answer came.
    EXPECT_EQ(api.device.read(u"remote.md"_s), "from elsewhere");
    EXPECT_EQ(f.backend.requestCount("GET", u"/structure$"_s), 1);
}
