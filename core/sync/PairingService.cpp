#include "core/sync/PairingService.h"

#include "core/sync/SyncError.h"
#include "core/sync/SyncFailure.h"

#include "platform/Detached.h"

PairingService::PairingService(FileSyncClient client, QObject *parent)
    : QObject(parent)
    , m_client(client.withCancellation(m_lifetime))
{
}

PairingService::~PairingService()
{
    m_lifetime.cancel();
    if (m_pollTask)
        m_pollTask->cancel();
}

void PairingService::setPairingState(const PairingState &state)
{
    if (m_pairingState == state)
        return;
    m_pairingState = state;
    emit pairingStateChanged();
}

void PairingService::setPairingCode(const std::optional<QString> &code)
{
    if (m_pairingCode == code)
        return;
    m_pairingCode = code;
    emit pairingCodeChanged();
}

void PairingService::setPollSecret(const std::optional<QString> &secret)
{
    if (m_pollSecret == secret)
        return;
    m_pollSecret = secret;
    emit pollSecretChanged();
}

void PairingService::setPollTask(const std::optional<CancelToken> &task)
{
    if (m_pollTask == task)
        return;
    m_pollTask = task;
    emit pollTaskChanged();
}

QCoro::Task<> PairingService::requestPairing(std::optional<QString> deviceName,
                                             std::optional<QString> deviceType)
{
    const QPointer<PairingService> self(this);
    setPairingState(PairingState::requesting());
    PairRequestResponse response;
    std::optional<QString> failure;
    try {
        response = co_await FileSyncClient(m_client).requestPairing(deviceName, deviceType);
    } catch (const SyncFailure &f) {
        failure = f.description();
    } catch (const std::exception &e) {
        failure = QString::fromUtf8(e.what());
    }
    if (!self)
        co_return;
    if (failure) {
        setPairingState(PairingState::error(*failure));
        co_return;
    }
    setPairingCode(response.code);
    setPollSecret(response.pollSecret);
    setPairingState(PairingState::waitingForConfirmation(response.code));
    if (m_pollTask)
        m_pollTask->cancel();
    const CancelToken task;
    setPollTask(task);
    runDetached(poll(self, response.expiresIn, task), QStringLiteral("Pairing poll"));
}

QCoro::Task<> PairingService::poll(QPointer<PairingService> service, qint64 expiresIn,
                                   CancelToken cancel)
{
    const FileSyncClient client = service->m_client.withCancellation(cancel);
    const SyncTiming timing = client.timing();
    // No cap on the count: the server's lifetime decides, cancel() stops it.
    const qint64 polls = expiresIn / 2;
    for (qint64 done = 0; done < polls;) {
        if (cancel.isCancelled())
            co_return;
        co_await timing.effectiveClock().sleep(timing.pairingPollInterval, cancel);
        if (cancel.isCancelled() || !service || !service->m_pollSecret)
            co_return;
        bool expired = false;
        bool confirmed = false;
        try {
            const PairStatusResponse status = co_await client.pairingStatus(*service->m_pollSecret);
            confirmed = status.status == u"confirmed" || status.folderId.has_value();
        } catch (const SyncFailure &f) {
            expired = f.fileSyncError()
                && f.fileSyncError()->errorCase() == FileSyncError::Case::notFound;
        } catch (...) {
        }
        if (cancel.isCancelled() || !service)
            co_return;
        if (confirmed) {
            service->setPairingState(PairingState::confirmed());
            co_return;
        }
        if (expired) {
            service->setPairingState(PairingState::expired());
            co_return;
        }
        ++done;
    }
    if (service && !cancel.isCancelled())
        service->setPairingState(PairingState::expired());
}

void PairingService::cancel()
{
    if (m_pollTask)
        m_pollTask->cancel();
    setPollTask(std::nullopt);
    setPairingState(PairingState::idle());
    setPairingCode(std::nullopt);
    setPollSecret(std::nullopt);
}

QCoro::Task<> PairingService::confirmPairing(QString code, QString folderId, QString folderToken)
{
    co_await FileSyncClient(m_client).confirmPairing(code, folderId, folderToken);
}

QCoro::Task<CreateFolderResponse> PairingService::createFolder(QString name,
                                                               std::optional<QString> deviceName)
{
    co_return co_await FileSyncClient(m_client).createFolder(name, std::nullopt, deviceName);
}

QCoro::Task<PairingService::Status> PairingService::checkStatus()
{
    if (!m_pollSecret)
        throw SyncFailure(SyncError::notPaired());
    const PairStatusResponse status
        = co_await FileSyncClient(m_client).pairingStatus(*m_pollSecret);
    if (!status.folderId || !status.folderToken)
        throw SyncFailure(SyncError::notPaired());
    co_return Status {*status.folderId, *status.folderToken, status.deviceId, status.ownerID};
}
