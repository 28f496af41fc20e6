#include "core/sync/SyncState.h"

#include "core/sync/FileSyncClient.h"

#include "platform/Defaults.h"

#include <cmath>

namespace {

const QString kFolderId = QStringLiteral("sync.folderId");
const QString kFolderToken = QStringLiteral("sync.folderToken");
const QString kBackendURL = QStringLiteral("sync.backendURL");
const QString kDeviceId = QStringLiteral("sync.deviceId");
const QString kOwnerID = QStringLiteral("sync.ownerID");
const QString kLastServerID = QStringLiteral("sync.lastServerID");
const QString kStructureHash = QStringLiteral("sync.structureHash");
const QString kLastSyncDate = QStringLiteral("sync.lastSyncDate");
// Written by the application's remote-change handling; a new pairing starts without it.
const QString kKnownFiles = QStringLiteral("sync.knownFiles");

QString escapeLiteral(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case 0:
            out += QLatin1String("\\0");
            break;
        default:
            if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
                out += QStringLiteral("\\u{%1}").arg(
                    QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0'));
            else
                out += c;
        }
    }
    return out;
}

} // namespace

QString SyncState::ConnectionStatus::toString() const
{
    switch (kind) {
    case Kind::disconnected:
        return QStringLiteral("disconnected");
    case Kind::pairing:
        return QStringLiteral("pairing");
    case Kind::connecting:
        return QStringLiteral("connecting");
    case Kind::connected:
        return QStringLiteral("connected");
    case Kind::syncing:
        return QStringLiteral("syncing");
    case Kind::error:
        return QStringLiteral("error(\"") + escapeLiteral(message) + QStringLiteral("\")");
    }
    return {};
}

SyncState::SyncState(Defaults &defaults, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_backendURL(defaultBackendURL())
{
    load();
}

QString SyncState::defaultBackendURL()
{
    return defaultSyncBackendURL().toString();
}

template<class T> void SyncState::assign(T &member, const T &value, void (SyncState::*signal)())
{
    if (member == value)
        return;
    member = value;
    emit(this->*signal)();
}

void SyncState::assignCredential(std::optional<QString> &member,
                                 const std::optional<QString> &value, void (SyncState::*signal)())
{
    if (member == value)
        return;
    const bool paired = isPaired();
    member = value;
    emit(this->*signal)();
    if (paired != isPaired())
        emit isPairedChanged();
}

void SyncState::setConnectionStatus(const ConnectionStatus &status)
{
    assign(m_connectionStatus, status, &SyncState::connectionStatusChanged);
}

void SyncState::setFolderId(const std::optional<QString> &id)
{
    assignCredential(m_folderId, id, &SyncState::folderIdChanged);
}

void SyncState::setFolderToken(const std::optional<QString> &token)
{
    assignCredential(m_folderToken, token, &SyncState::folderTokenChanged);
}

void SyncState::setBackendURL(const QString &url)
{
    assign(m_backendURL, url, &SyncState::backendURLChanged);
}

void SyncState::setDeviceId(std::optional<qint64> id)
{
    assign(m_deviceId, id, &SyncState::deviceIdChanged);
}

void SyncState::setOwnerID(std::optional<qint64> id)
{
    assign(m_ownerID, id, &SyncState::ownerIDChanged);
}

void SyncState::setLastSyncDate(const std::optional<QDateTime> &date)
{
    assign(m_lastSyncDate, date, &SyncState::lastSyncDateChanged);
}

void SyncState::setPendingUploadCount(qint64 count)
{
    assign(m_pendingUploadCount, count, &SyncState::pendingUploadCountChanged);
}

void SyncState::setLastServerID(qint64 id)
{
    assign(m_lastServerID, id, &SyncState::lastServerIDChanged);
}

void SyncState::setStructureHash(const QString &hash)
{
    assign(m_structureHash, hash, &SyncState::structureHashChanged);
}

void SyncState::save()
{
    const Defaults::Batch batch(m_defaults);
    if (m_folderId)
        m_defaults.set(kFolderId, *m_folderId);
    else
        m_defaults.remove(kFolderId);
    if (m_folderToken)
        m_defaults.set(kFolderToken, *m_folderToken);
    else
        m_defaults.remove(kFolderToken);
    m_defaults.set(kBackendURL, m_backendURL);
    if (m_deviceId)
        m_defaults.set(kDeviceId, QJsonValue(*m_deviceId));
    if (m_ownerID)
        m_defaults.set(kOwnerID, QJsonValue(*m_ownerID));
    m_defaults.set(kLastServerID, QJsonValue(m_lastServerID));
    m_defaults.set(kStructureHash, m_structureHash);
    if (m_lastSyncDate)
        m_defaults.set(kLastSyncDate, double(m_lastSyncDate->toMSecsSinceEpoch()) / 1000.0);
}

void SyncState::load()
{
    setFolderId(m_defaults.string(kFolderId));
    setFolderToken(m_defaults.string(kFolderToken));
    setBackendURL(m_defaults.string(kBackendURL).value_or(defaultBackendURL()));
    const qint64 device = m_defaults.integer(kDeviceId);
    setDeviceId(device > 0 ? std::optional<qint64>(device) : std::nullopt);
    const qint64 owner = m_defaults.integer(kOwnerID);
    setOwnerID(owner > 0 ? std::optional<qint64>(owner) : std::nullopt);
    setLastServerID(m_defaults.integer(kLastServerID));
    setStructureHash(m_defaults.string(kStructureHash).value_or(QString()));
    const double seconds = m_defaults.doubleValue(kLastSyncDate);
    if (seconds > 0)
        setLastSyncDate(
            QDateTime::fromMSecsSinceEpoch(qint64(std::llround(seconds * 1000.0)), Qt::UTC));
    else
        setLastSyncDate(std::nullopt);
}

void SyncState::clear()
{
    setFolderId(std::nullopt);
    setFolderToken(std::nullopt);
    setDeviceId(std::nullopt);
    setOwnerID(std::nullopt);
    setLastSyncDate(std::nullopt);
    setLastServerID(0);
    setStructureHash(QString());
    setPendingUploadCount(0);
    setConnectionStatus(ConnectionStatus::disconnected());
    const Defaults::Batch batch(m_defaults);
    for (const QString &key : {kFolderId, kFolderToken, kBackendURL, kDeviceId, kOwnerID,
                               kLastServerID, kStructureHash, kLastSyncDate, kKnownFiles})
        m_defaults.remove(key);
}
