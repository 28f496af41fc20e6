#include "core/sync/SyncEventStream.h"

#include "core/sync/SyncEngine.h"
#include "core/sync/SyncState.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

// Bytes parsed at a time, so that what one read completes never piles up in a list of its own.
constexpr qsizetype feedSlice = 16 * 1024;
// Bytes Qt may hold for the reply before it stops reading from the connection.
constexpr qint64 readBuffer = 1024 * 1024;
// How far back a new notification looks for one of its type, and from how many waiting
// notifications on it is folded into that one even with others in between.
constexpr std::size_t lookBack = 16;
constexpr std::size_t flood = 256;

// The consumer handles a notification by its type and takes its id only to raise the resume
// position. So a notification without an id adds nothing while one of its type waits (that one
// is handled after it arrived anyway), and a keep-alive right behind a waiting one only raises
// that one's id. Events with ids each count; only under a flood are they folded into the latest
// waiting one of their type nearby (the larger id kept), so that nothing a server sends can make
// the queue grow without bound.
bool foldIntoWaiting(std::deque<SSEChangeNotification> &waiting, SSEChangeNotification &item)
{
    const std::size_t from = waiting.size() > lookBack ? waiting.size() - lookBack : 0;
    std::size_t twin = waiting.size();
    for (std::size_t i = waiting.size(); i-- > from;) {
        if (waiting[i].eventType == item.eventType) {
            twin = i;
            break;
        }
    }
    if (twin == waiting.size())
        return false;
    if (!item.lastEventID)
        return true;
    const bool behindKeepalive
        = item.eventType == SSEEventType::keepalive && twin + 1 == waiting.size();
    if (!behindKeepalive && waiting.size() < flood)
        return false;
    std::optional<QString> &kept = waiting[twin].lastEventID;
    const std::optional<qint64> keptNumber = SyncEngine::parseEventID(kept);
    const std::optional<qint64> newNumber = SyncEngine::parseEventID(item.lastEventID);
    if (!keptNumber || (newNumber && *newNumber >= *keptNumber))
        kept = std::move(item.lastEventID);
    return true;
}

} // namespace

SyncEventStream::SyncEventStream(QNetworkRequest request, std::optional<QString> folderId,
                                 const SyncTiming &timing, const SyncLimits &limits,
                                 QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
    , m_folderId(folderId)
    , m_totalTimeout(timing.streamTotalTimeout)
    , m_nam(new QNetworkAccessManager(this))
    , m_parser(std::move(folderId), limits.maxEventLineBytes)
{
    m_request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                           QNetworkRequest::AlwaysNetwork);
    m_request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    m_request.setTransferTimeout(Clock::intervalMs(timing.streamIdleTimeout));
    m_totalTimer = timing.effectiveClock().createTimer([this] {
        if (!m_reply || m_finished)
            return;
        m_totalTimedOut = true;
        m_reply->abort();
    });
}

SyncEventStream::~SyncEventStream()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void SyncEventStream::start()
{
    if (m_reply || m_finished)
        return;
    m_reply = m_nam->get(m_request);
    m_reply->setReadBufferSize(readBuffer);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &SyncEventStream::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &SyncEventStream::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &SyncEventStream::onFinished);
    m_totalTimer->start(m_totalTimeout);
}

void SyncEventStream::cancel()
{
    if (m_finished)
        return;
    m_cancelled = true;
    if (m_reply && !m_reply->isFinished())
        m_reply->abort(); // finishes through onFinished
    else
        finish();
}

void SyncEventStream::onMetaData()
{
    if (m_headAccepted || m_failure)
        return;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.isValid() ? status.toInt() : 0;
    if (code >= 200 && code <= 299) {
        m_headAccepted = true;
        return;
    }
    m_failure = SyncFailure(FileSyncError::serverError(code));
    // Not from inside Qt's own signal: it may still be reporting the status as an error.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_reply && !m_finished)
                m_reply->abort();
        },
        Qt::QueuedConnection);
}

void SyncEventStream::onReadyRead()
{
    const QByteArray bytes = m_reply->readAll();
    if (!m_headAccepted || m_cancelled || m_failure)
        return;
    QList<SSEChangeNotification> parsed;
    for (qsizetype at = 0; at < bytes.size(); at += feedSlice) {
        m_parser.feed(bytes.sliced(at, std::min(feedSlice, bytes.size() - at)), parsed);
        for (SSEChangeNotification &notification : parsed)
            m_queue.pushOrFold(std::move(notification), foldIntoWaiting);
        parsed.clear();
    }
}

void SyncEventStream::onFinished()
{
    if (m_finished)
        return;
    if (!m_cancelled && !m_failure) {
        const QNetworkReply::NetworkError error = m_reply->error();
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!m_headAccepted && status.isValid()) {
            onMetaData(); // a head that arrived together with the end
        }
        if (m_headAccepted && m_reply->bytesAvailable() > 0)
            onReadyRead();
        if (m_failure) {
            // set by the head check above
        } else if (m_totalTimedOut || error == QNetworkReply::OperationCanceledError) {
            m_failure = SyncFailure::timeout();
        } else if (error != QNetworkReply::NoError) {
            if (!status.isValid() && error >= QNetworkReply::ProtocolUnknownError
                && error <= QNetworkReply::ProtocolFailure)
                m_failure = SyncFailure(FileSyncError::serverError(0));
            else
                m_failure = SyncFailure::transport(error, m_reply->errorString());
        } else if (!m_headAccepted) {
            m_failure = SyncFailure(FileSyncError::serverError(0));
        }
    }
    finish();
}

void SyncEventStream::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_totalTimer->stop();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_queue.finish();
}
