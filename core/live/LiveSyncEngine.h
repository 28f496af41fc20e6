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

// Where a received message's version stands against the version of the text this device holds
// for its file.
enum class LiveOrder {
    Unversioned, // no file or no version
    Next, // one above: it builds on the text held here
    Ahead, // further above: something in between never arrived
    Same,
    Behind,
};

// The live editing session of one paired sync folder: owns the client while open, stamps
// outgoing edits and full texts with a per-file version and every message with this device's
// name, and hands received messages on one at a time with their order against the file's
// version. Messages that name an unsafe path and this device's own messages coming back are
// dropped (those that name their characters pass: taking them twice changes nothing).
//
// A file's version is the version of the text held here: taken by every local change and sync
// sent, raised by adopt() when a received change has been applied. Nothing received raises it
// by itself, so a change that could not be applied leaves it where the text is.
class LiveSyncEngine : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)

public:
    // Awaited for each message before the next one is taken.
    using MessageHandler = std::function<QCoro::Task<>(LiveSyncMessage, LiveOrder)>;

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
    // `merge` rides along for peers that merge concurrent changes (see LiveDocument).
    void sendEdit(const QString &file, const QList<EditOp> &ops,
                  const std::optional<QJsonObject> &merge = std::nullopt);
    // Full text under the next version, sent at once: this text is to replace what the peers
    // hold.
    void sendSync(const QString &file, const QString &text);
    // Full text under the version it has (0 when none was taken or adopted yet), sent at once:
    // peers holding a newer text keep theirs.
    void sendCurrentText(const QString &file, const QString &text,
                         const std::optional<QJsonObject> &merge = std::nullopt);
    void sendCursor(const QString &file, qint64 pos,
                    const std::optional<QJsonObject> &merge = std::nullopt);
    void sendSelect(const QString &file);
    void sendScroll(const QString &file, double offset);

    // The file's next version, stored. Nothing once the counter holds the largest value: the
    // message then goes out unversioned instead of wrapping into versions peers take as old.
    std::optional<qint64> nextVersion(const QString &file);
    // The version of the file's text held here; nothing before any was taken or adopted.
    std::optional<qint64> fileVersion(const QString &file) const;
    // Whether that version was taken here (a local change or a sync sent) rather than adopted.
    bool isOwnVersion(const QString &file) const;
    // A received change of this version has been applied: the file's version rises to it (never
    // falls). Versions of 0 and below are not recorded.
    void adopt(const QString &file, qint64 version);

    QString deviceName() const { return m_deviceName; }
    LiveSyncClient *client() const { return m_client; }

Q_SIGNALS:
    void isConnectedChanged(bool isConnected);
    // Every completed handshake, the first and each one after a reconnect.
    void connected();

private:
    struct FileVersion
    {
        qint64 version = 0;
        bool own = false;
    };

    // Nothing when the message is to be dropped.
    std::optional<LiveOrder> accept(const LiveSyncMessage &message) const;
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
    QHash<QString, FileVersion> m_fileVersions;
};
