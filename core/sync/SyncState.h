#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <optional>

class Defaults;

// This device's membership in a sync folder and the state of its connection, persisted under the
// "sync." keys of the user defaults (the file is private to the user: it holds the folder token).
// Every setter notifies only when the value changes. Persisting happens only through save().
class SyncState : public QObject
{
    Q_OBJECT
public:
    struct ConnectionStatus
    {
        enum class Kind { disconnected, pairing, connecting, connected, syncing, error };

        Kind kind = Kind::disconnected;
        QString message; // error only

        static ConnectionStatus disconnected() { return {Kind::disconnected, {}}; }
        static ConnectionStatus pairing() { return {Kind::pairing, {}}; }
        static ConnectionStatus connecting() { return {Kind::connecting, {}}; }
        static ConnectionStatus connected() { return {Kind::connected, {}}; }
        static ConnectionStatus syncing() { return {Kind::syncing, {}}; }
        static ConnectionStatus error(const QString &message) { return {Kind::error, message}; }

        // The case name; an error as error("<message>") with the message escaped like a string
        // literal.
        QString toString() const;

        bool operator==(const ConnectionStatus &other) const
        {
            return kind == other.kind && (kind != Kind::error || message == other.message);
        }
    };

    Q_PROPERTY(ConnectionStatus connectionStatus READ connectionStatus WRITE setConnectionStatus
                   NOTIFY connectionStatusChanged)
    Q_PROPERTY(
        std::optional<QString> folderId READ folderId WRITE setFolderId NOTIFY folderIdChanged)
    Q_PROPERTY(std::optional<QString> folderToken READ folderToken WRITE setFolderToken NOTIFY
                   folderTokenChanged)
    Q_PROPERTY(QString backendURL READ backendURL WRITE setBackendURL NOTIFY backendURLChanged)
    Q_PROPERTY(
        std::optional<qint64> deviceId READ deviceId WRITE setDeviceId NOTIFY deviceIdChanged)
    Q_PROPERTY(std::optional<qint64> ownerID READ ownerID WRITE setOwnerID NOTIFY ownerIDChanged)
    Q_PROPERTY(std::optional<QDateTime> lastSyncDate READ lastSyncDate WRITE setLastSyncDate NOTIFY
                   lastSyncDateChanged)
    Q_PROPERTY(qint64 pendingUploadCount READ pendingUploadCount WRITE setPendingUploadCount NOTIFY
                   pendingUploadCountChanged)
    Q_PROPERTY(
        qint64 lastServerID READ lastServerID WRITE setLastServerID NOTIFY lastServerIDChanged)
    Q_PROPERTY(
        QString structureHash READ structureHash WRITE setStructureHash NOTIFY structureHashChanged)
    Q_PROPERTY(bool isPaired READ isPaired NOTIFY isPairedChanged)

    explicit SyncState(Defaults &defaults, QObject *parent = nullptr);

    // The backend URL used when none is stored.
    static QString defaultBackendURL();

    ConnectionStatus connectionStatus() const { return m_connectionStatus; }
    void setConnectionStatus(const ConnectionStatus &status);

    std::optional<QString> folderId() const { return m_folderId; }
    void setFolderId(const std::optional<QString> &id);

    std::optional<QString> folderToken() const { return m_folderToken; }
    void setFolderToken(const std::optional<QString> &token);

    QString backendURL() const { return m_backendURL; }
    void setBackendURL(const QString &url);

    std::optional<qint64> deviceId() const { return m_deviceId; }
    void setDeviceId(std::optional<qint64> id);

    std::optional<qint64> ownerID() const { return m_ownerID; }
    void setOwnerID(std::optional<qint64> id);

    std::optional<QDateTime> lastSyncDate() const { return m_lastSyncDate; }
    void setLastSyncDate(const std::optional<QDateTime> &date);

    qint64 pendingUploadCount() const { return m_pendingUploadCount; }
    void setPendingUploadCount(qint64 count);

    qint64 lastServerID() const { return m_lastServerID; }
    void setLastServerID(qint64 id);

    QString structureHash() const { return m_structureHash; }
    void setStructureHash(const QString &hash);

    // Both credentials present (empty texts count as present).
    bool isPaired() const { return m_folderId.has_value() && m_folderToken.has_value(); }

    void save();
    void load();
    // Forgets the pairing in memory (backendURL stays) and removes every "sync." key. Stops no
    // engine and tells the backend nothing.
    void clear();

signals:
    void connectionStatusChanged();
    void folderIdChanged();
    void folderTokenChanged();
    void backendURLChanged();
    void deviceIdChanged();
    void ownerIDChanged();
    void lastSyncDateChanged();
    void pendingUploadCountChanged();
    void lastServerIDChanged();
    void structureHashChanged();
    void isPairedChanged();

private:
    template<class T> void assign(T &member, const T &value, void (SyncState::*signal)());
    void assignCredential(std::optional<QString> &member, const std::optional<QString> &value,
                          void (SyncState::*signal)());

    Defaults &m_defaults;
    ConnectionStatus m_connectionStatus;
    std::optional<QString> m_folderId;
    std::optional<QString> m_folderToken;
    QString m_backendURL;
    std::optional<qint64> m_deviceId;
    std::optional<qint64> m_ownerID;
    std::optional<QDateTime> m_lastSyncDate;
    qint64 m_pendingUploadCount = 0;
    qint64 m_lastServerID = 0;
    QString m_structureHash;
};
