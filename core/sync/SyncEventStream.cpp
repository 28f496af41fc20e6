#include "core/sync/SyncEventStream.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

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
    m_totalTimer.setSingleShot(true);
    connect(&m_totalTimer, &QTimer::timeout, this, [this] {
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
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &SyncEventStream::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &SyncEventStream::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &SyncEventStream::onFinished);
    m_totalTimer.start(Clock::intervalMs(m_totalTimeout));
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
    m_parser.feed(bytes, parsed);
    for (SSEChangeNotification &notification : parsed)
        m_queue.push(std::move(notification));
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
    m_totalTimer.stop();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_queue.finish();
}
