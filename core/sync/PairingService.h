#pragma once

#include "core/sync/FileSyncClient.h"
#include "core/sync/SyncModels.h"

#include "platform/CancelToken.h"

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <optional>

// Pairing by code. The joining device asks for a code and polls until the other device confirms
// it or it expires; the device that holds the folder confirms a code with its credentials. Also
// creates folders. Every property notifies only when it changes; destroying the service cancels
// its poll.
class PairingService : public QObject
{
    Q_OBJECT
public:
    struct PairingState
    {
        enum class Kind { idle, requesting, waitingForConfirmation, confirmed, expired, error };

        Kind kind = Kind::idle;
        QString code; // waitingForConfirmation
        QString message; // error

        static PairingState idle() { return {Kind::idle, {}, {}}; }
        static PairingState requesting() { return {Kind::requesting, {}, {}}; }
        static PairingState waitingForConfirmation(const QString &code)
        {
            return {Kind::waitingForConfirmation, code, {}};
        }
        static PairingState confirmed() { return {Kind::confirmed, {}, {}}; }
        static PairingState expired() { return {Kind::expired, {}, {}}; }
        static PairingState error(const QString &message) { return {Kind::error, {}, message}; }

        bool operator==(const PairingState &other) const = default;
    };

    struct Status
    {
        QString folderId;
        QString folderToken;
        std::optional<qint64> deviceId;
        std::optional<qint64> ownerID;
    };

    Q_PROPERTY(PairingState pairingState READ pairingState NOTIFY pairingStateChanged)
    Q_PROPERTY(std::optional<QString> pairingCode READ pairingCode NOTIFY pairingCodeChanged)
    Q_PROPERTY(std::optional<QString> pollSecret READ pollSecret NOTIFY pollSecretChanged)
    Q_PROPERTY(bool hasPollTask READ hasPollTask NOTIFY pollTaskChanged)

    explicit PairingService(FileSyncClient client, QObject *parent = nullptr);
    ~PairingService() override;

    PairingState pairingState() const { return m_pairingState; }
    std::optional<QString> pairingCode() const { return m_pairingCode; }
    std::optional<QString> pollSecret() const { return m_pollSecret; }
    // Whether a status poll task exists (it may already have ended, as after confirmation).
    bool hasPollTask() const { return m_pollTask.has_value(); }
    const FileSyncClient &client() const { return m_client; }

    // Never throws: a failure shows as the error state (a poll from an earlier request goes on).
    QCoro::Task<> requestPairing(std::optional<QString> deviceName = std::nullopt,
                                 std::optional<QString> deviceType = std::nullopt);
    // Throws the backend's failures; the answer's status text is not examined.
    QCoro::Task<> confirmPairing(QString code, QString folderId, QString folderToken);
    QCoro::Task<CreateFolderResponse>
    createFolder(QString name, std::optional<QString> deviceName = std::nullopt);
    void cancel();
    // The credentials of a confirmed pairing; SyncError::notPaired without a poll secret or when
    // the answer lacks them. The answer's backend URL is never adopted.
    QCoro::Task<Status> checkStatus();

signals:
    void pairingStateChanged();
    void pairingCodeChanged();
    void pollSecretChanged();
    void pollTaskChanged();

private:
    void setPairingState(const PairingState &state);
    void setPairingCode(const std::optional<QString> &code);
    void setPollSecret(const std::optional<QString> &secret);
    void setPollTask(const std::optional<CancelToken> &task);
    static QCoro::Task<> poll(QPointer<PairingService> service, qint64 expiresIn,
                              CancelToken cancel);

    PairingState m_pairingState;
    std::optional<QString> m_pairingCode;
    std::optional<CancelToken> m_pollTask;
    std::optional<QString> m_pollSecret;
    CancelToken m_lifetime;
    FileSyncClient m_client; // bound to m_lifetime
};
