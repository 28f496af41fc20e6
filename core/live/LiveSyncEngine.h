#pragma once

#include "core/live/LiveSyncClient.h"
#include "core/live/LiveSyncMessage.h"

#include "platform/CancelToken.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

// The live editing session of one paired sync folder: owns the client while open, stamps
// outgoing edits and full texts with a per-file version and every message with this device's
// name, and hands received messages on one at a time after dropping stale edits and messages
// that name an unsafe path.
class LiveSyncEngine : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)

public:
    // Awaited for each accepted message before the next one is taken.
    using MessageHandler = std::function<QCoro::Task<>(LiveSyncMessage)>;

    LiveSyncEngine(const QString &folderId, const QString &folderToken, const QString &backendURL,
                   const QString &deviceName, LiveSyncTimings timings = {}, Clock *clock = nullptr,
                   QObject *parent = nullptr);
    ~LiveSyncEngine() override;

    // Starts a session. Without a folder id or token nothing happens (logged). A session already
    // running is ended first, so there is never more than one client.
    void open(MessageHandler onMessage);
    // Ends the session and forgets every file's version.
    void close();
    // A session exists; says nothing about the socket.
    bool isConnected() const { return m_client != nullptr; }

    // Versioned, through the client's debounce. Versions are taken even while not connected.
    void sendEdit(const QString &file, const QList<EditOp> &ops);
    // Versioned full text, sent at once.
    void sendSync(const QString &file, const QString &text);
    void sendCursor(const QString &file, qint64 pos);
    void sendSelect(const QString &file);
    void sendScroll(const QString &file, double offset);

    // The file's next version, stored. Nothing once the counter holds the largest value: the
    // message then goes out unversioned instead of wrapping into versions peers take as old.
    std::optional<qint64> nextVersion(const QString &file);
    // The highest version sent or accepted for the file.
    std::optional<qint64> fileVersion(const QString &file) const;

    QString deviceName() const { return m_deviceName; }
    LiveSyncClient *client() const { return m_client; }

Q_SIGNALS:
    void isConnectedChanged(bool isConnected);

private:
    bool accept(const LiveSyncMessage &message);
    static QCoro::Task<> forward(QPointer<LiveSyncEngine> engine, CancelToken session,
                                 QCoro::AsyncGenerator<LiveSyncMessage> stream,
                                 MessageHandler onMessage);

    QString m_folderId;
    QString m_folderToken;
    QString m_backendURL;
    QString m_deviceName;
    LiveSyncTimings m_timings;
    Clock *m_clock;
    QPointer<LiveSyncClient> m_client;
    // Cancelled when the session ends: its forwarding task stops at its next step.
    CancelToken m_session;
    QHash<QString, qint64> m_fileVersions;
};
