#pragma once

#include <QJsonObject>

class DebugServer;
class MacSyncAdapter;
class SyncState;

// The local API's sync routes: GET /api/sync/status reads the sync state, POST /api/sync/trigger
// runs one remote-change pass and answers {"ok": true} once it has finished.
namespace syncapi {

void install(DebugServer &server, MacSyncAdapter &adapter);

// The status answer: exactly "isPaired", "isActive", "folderId" (null without one),
// "connectionStatus", "lastServerID", "structureHash" and "backendURL".
QJsonObject status(const SyncState &state);

} // namespace syncapi
