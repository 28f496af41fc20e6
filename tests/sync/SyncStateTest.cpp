#include "core/sync/SyncState.h"
#include "core/sync/FileSyncClient.h"

#include "platform/Defaults.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Store
{
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("config/defaults.json"));
    std::unique_ptr<Defaults> defaults = std::make_unique<Defaults>(path);

    // A fresh Defaults reading the same file, as after a restart.
    Defaults &reopen()
    {
        defaults = std::make_unique<Defaults>(path);
        return *defaults;
    }
    QJsonObject file() const
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return QJsonDocument::fromJson(f.readAll()).object();
    }
};

using Status = SyncState::ConnectionStatus;

} // namespace

TEST(SyncState, freshInstallLoadsUnpairedDefaults)
{
    Store store;
    SyncState state(*store.defaults);
    EXPECT_FALSE(state.isPaired());
    EXPECT_EQ(state.backendURL(), defaultSyncBackendURL().toString());
    EXPECT_EQ(state.lastServerID(), 0);
    EXPECT_EQ(state.structureHash(), QString());
    EXPECT_FALSE(state.lastSyncDate().has_value());
    EXPECT_FALSE(state.deviceId().has_value());
    EXPECT_EQ(state.connectionStatus(), Status::disconnected());
    EXPECT_EQ(state.pendingUploadCount(), 0);
}

TEST(SyncState, savesUnderTheSyncKeysAndLoadsThemBack)
{
    Store store;
    {
        SyncState state(*store.defaults);
        state.setFolderId(QStringLiteral("42"));
        state.setFolderToken(QStringLiteral("secret"));
        state.setBackendURL(QStringLiteral("http://127.0.0.1:9"));
        state.setDeviceId(Q_INT64_C(9007199254740993));
        state.setOwnerID(7);
        state.setLastServerID(120);
        state.setStructureHash(QStringLiteral("abc"));
        state.setLastSyncDate(QDateTime::fromMSecsSinceEpoch(1500, Qt::UTC));
        state.setPendingUploadCount(3);
        state.setConnectionStatus(Status::connected());
        state.save();
    }
    const QJsonObject file = store.file();
    EXPECT_EQ(file.value(QStringLiteral("sync.folderId")), QJsonValue(QStringLiteral("42")));
    EXPECT_EQ(file.value(QStringLiteral("sync.folderToken")), QJsonValue(QStringLiteral("secret")));
    EXPECT_EQ(file.value(QStringLiteral("sync.backendURL")),
              QJsonValue(QStringLiteral("http://127.0.0.1:9")));
    EXPECT_EQ(file.value(QStringLiteral("sync.deviceId")).toInteger(), Q_INT64_C(9007199254740993));
    EXPECT_EQ(file.value(QStringLiteral("sync.ownerID")).toInteger(), 7);
    EXPECT_EQ(file.value(QStringLiteral("sync.lastServerID")).toInteger(), 120);
    EXPECT_EQ(file.value(QStringLiteral("sync.structureHash")), QJsonValue(QStringLiteral("abc")));
    EXPECT_DOUBLE_EQ(file.value(QStringLiteral("sync.lastSyncDate")).toDouble(), 1.5);
    EXPECT_FALSE(file.contains(QStringLiteral("sync.pendingUploadCount")));
    EXPECT_FALSE(file.contains(QStringLiteral("sync.connectionStatus")));

    // The file holds the folder token: readable by the user only.
    const QFile::Permissions perms = QFileInfo(store.path).permissions();
    EXPECT_EQ(perms
                  & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup
                     | QFileDevice::WriteOther),
              0);
    EXPECT_EQ(QFileInfo(QFileInfo(store.path).path()).permissions()
                  & (QFileDevice::ReadOther | QFileDevice::ExeOther | QFileDevice::ReadGroup),
              0);

    SyncState loaded(store.reopen());
    EXPECT_TRUE(loaded.isPaired());
    EXPECT_TRUE(loaded.property("isPaired").toBool());
    EXPECT_EQ(loaded.property("lastServerID").toLongLong(), 120);
    EXPECT_EQ(loaded.folderId(), QStringLiteral("42"));
    EXPECT_EQ(loaded.deviceId(), Q_INT64_C(9007199254740993));
    EXPECT_EQ(loaded.ownerID(), 7);
    EXPECT_EQ(loaded.lastServerID(), 120);
    EXPECT_EQ(loaded.lastSyncDate(), QDateTime::fromMSecsSinceEpoch(1500, Qt::UTC));
    EXPECT_EQ(loaded.pendingUploadCount(), 0);
    EXPECT_EQ(loaded.connectionStatus(), Status::disconnected());
}

TEST(SyncState, loadRulesForIdsDatesAndEmptyCredentials)
{
    Store store;
    store.defaults->set(QStringLiteral("sync.deviceId"), 0);
    store.defaults->set(QStringLiteral("sync.ownerID"), -5);
    store.defaults->set(QStringLiteral("sync.lastSyncDate"), 0.0);
    store.defaults->set(QStringLiteral("sync.folderId"), QString(""));
    store.defaults->set(QStringLiteral("sync.folderToken"), QString(""));
    SyncState state(*store.defaults);
    EXPECT_FALSE(state.deviceId().has_value());
    EXPECT_FALSE(state.ownerID().has_value());
    EXPECT_FALSE(state.lastSyncDate().has_value());
    EXPECT_TRUE(state.isPaired()); // empty texts count as present

    store.defaults->set(QStringLiteral("sync.deviceId"), -5);
    store.defaults->set(QStringLiteral("sync.lastSyncDate"), -1.0);
    state.load();
    EXPECT_FALSE(state.deviceId().has_value());
    EXPECT_FALSE(state.lastSyncDate().has_value());
}

TEST(SyncState, clearForgetsThePairingButKeepsTheURLInMemory)
{
    Store store;
    SyncState state(*store.defaults);
    state.setFolderId(QStringLiteral("1"));
    state.setFolderToken(QStringLiteral("t"));
    state.setBackendURL(QStringLiteral("http://127.0.0.1:1"));
    state.setDeviceId(5);
    state.save();

    // Saving without a device id leaves the stored one in place.
    state.setDeviceId(std::nullopt);
    state.save();
    EXPECT_EQ(store.file().value(QStringLiteral("sync.deviceId")).toInteger(), 5);

    QSignalSpy paired(&state, &SyncState::isPairedChanged);
    state.setConnectionStatus(Status::error(QStringLiteral("x")));
    state.setPendingUploadCount(2);
    state.clear();
    EXPECT_EQ(paired.count(), 1);
    EXPECT_FALSE(state.isPaired());
    EXPECT_EQ(state.backendURL(), QStringLiteral("http://127.0.0.1:1"));
    EXPECT_EQ(state.connectionStatus(), Status::disconnected());
    EXPECT_EQ(state.pendingUploadCount(), 0);
    for (const QString &key : store.file().keys())
        EXPECT_FALSE(key.startsWith(QStringLiteral("sync."))) << key.toStdString();

    SyncState reloaded(store.reopen());
    EXPECT_EQ(reloaded.backendURL(), defaultSyncBackendURL().toString());
    EXPECT_FALSE(reloaded.deviceId().has_value());
}

TEST(SyncState, notifiesOnlyOnRealChanges)
{
    Store store;
    SyncState state(*store.defaults);
    QSignalSpy status(&state, &SyncState::connectionStatusChanged);
    QSignalSpy folder(&state, &SyncState::folderIdChanged);
    QSignalSpy server(&state, &SyncState::lastServerIDChanged);
    state.setConnectionStatus(Status::connected());
    state.setConnectionStatus(Status::connected());
    state.setConnectionStatus(Status::error(QStringLiteral("a")));
    state.setConnectionStatus(Status::error(QStringLiteral("a")));
    state.setConnectionStatus(Status::error(QStringLiteral("b")));
    EXPECT_EQ(status.count(), 3);
    state.setFolderId(QString(""));
    state.setFolderId(QString(""));
    state.setFolderId(std::nullopt);
    EXPECT_EQ(folder.count(), 2);
    state.setLastServerID(0);
    state.setLastServerID(4);
    EXPECT_EQ(server.count(), 1);
}

TEST(SyncState, statusTextForm)
{
    EXPECT_EQ(Status::disconnected().toString(), QStringLiteral("disconnected"));
    EXPECT_EQ(Status::pairing().toString(), QStringLiteral("pairing"));
    EXPECT_EQ(Status::connecting().toString(), QStringLiteral("connecting"));
    EXPECT_EQ(Status::connected().toString(), QStringLiteral("connected"));
    EXPECT_EQ(Status::syncing().toString(), QStringLiteral("syncing"));
    EXPECT_EQ(Status::error(QStringLiteral("Server error (500)")).toString(),
              QStringLiteral("error(\"Server error (500)\")"));
    EXPECT_EQ(Status::error(QStringLiteral("a\"b\\c\nd\re\tf") + QChar(0) + QChar(0x1B)
                            + QStringLiteral("ü"))
                  .toString(),
              QStringLiteral("error(\"a\\\"b\\\\c\\nd\\re\\tf\\0\\u{1B}ü\")"));
}
