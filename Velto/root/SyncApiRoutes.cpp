#include "Velto/root/SyncApiRoutes.h"

#include "Velto/api/DebugServer.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "core/sync/SyncState.h"
#include "platform/Detached.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace syncapi {

namespace {

// The connection stays open while the pass runs; other requests are served meanwhile.
QCoro::Task<> trigger(QPointer<MacSyncAdapter> adapter, QPointer<ApiConnection> connection)
{
    if (adapter)
        co_await adapter->handleRemoteChanges();
    DebugServer::sendJSON(connection, {{u"ok"_s, true}});
}

} // namespace

QJsonObject status(const SyncState &state)
{
    const auto folderId = state.folderId();
    return {{u"isPaired"_s, state.isPaired()},
            {u"isActive"_s, state.isPaired()},
            {u"folderId"_s, folderId ? QJsonValue(*folderId) : QJsonValue(QJsonValue::Null)},
            {u"connectionStatus"_s, state.connectionStatus().toString()},
            {u"lastServerID"_s, QJsonValue(state.lastServerID())},
            {u"structureHash"_s, state.structureHash()},
            {u"backendURL"_s, state.backendURL()}};
}

void install(DebugServer &server, MacSyncAdapter &adapter)
{
    const QPointer<MacSyncAdapter> sync(&adapter);
    server.setRouteHandler(
        ApiRoute::SyncStatus,
        [sync](const DebugServer::Request &, QPointer<ApiConnection> connection) {
            if (sync)
                DebugServer::sendJSON(connection, status(sync->state()));
        });
    server.setRouteHandler(
        ApiRoute::SyncTrigger,
        [sync](const DebugServer::Request &, QPointer<ApiConnection> connection) {
            runDetached(trigger(sync, connection), u"Remote changes started through the API"_s);
        });
}

} // namespace syncapi
