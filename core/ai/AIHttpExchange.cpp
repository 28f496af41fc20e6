#include "core/ai/AIHttpExchange.h"

#include "core/ai/AIReplyStream.h"
#include "core/ai/AIRequestBody.h"

#include "platform/L10n.h"

#include <QNetworkReply>

namespace {

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Qt mirrors 4xx/5xx statuses into error() (400 as ProtocolInvalidOperationError, 407 as
// ProxyAuthenticationRequiredError, the rest as content and server errors); with a status at
// hand only the network and proxy range, an unsupported scheme and a garbled response mean that
// reading itself failed.
bool isTransportFailure(QNetworkReply::NetworkError error, std::optional<int> status)
{
    switch (error) {
    case QNetworkReply::NoError:
        return false;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolFailure:
        return true;
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return status != 407;
    default:
        break;
    }
    const int code = error;
    return (code >= 1 && code <= 199) || !status;
}

} // namespace

AIHttpExchange::AIHttpExchange(QNetworkReply *reply, AIRequestBody *body,
                               AILineParser::Dialect dialect, QString refusalName,
                               AIReplyStream *stream)
    : QObject(stream)
    , m_reply(reply)
    , m_body(body)
    , m_stream(stream)
    , m_dialect(dialect)
    , m_refusalName(std::move(refusalName))
{
    reply->setParent(this);
    connect(reply, &QNetworkReply::metaDataChanged, this, &AIHttpExchange::onMetaDataChanged);
    connect(reply, &QNetworkReply::readyRead, this, &AIHttpExchange::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &AIHttpExchange::onFinished);
    stream->abortToken().onCancel(this, [this] { onAbortRequested(); });
}

AIHttpExchange::~AIHttpExchange()
{
    stopReply();
}

QString AIHttpExchange::refusalDescription(const QString &refusalName, int status,
                                           const QString &text)
{
    return refusalName + u' ' + QString::number(status) + QStringLiteral(": ") + text;
}

QString AIHttpExchange::errorChunkText(const QString &description)
{
    return QStringLiteral("\n[Fehler: ") + description + u']';
}

std::optional<int> AIHttpExchange::status() const
{
    const QVariant value = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!value.isValid())
        return std::nullopt;
    return value.toInt();
}

void AIHttpExchange::onMetaDataChanged()
{
    if (m_phase != Phase::head)
        return;
    const auto code = status();
    // The server answered: sending the body again (a redirect) is its own request now.
    if (code && m_body)
        m_body->allowRewind();
    // The head of a redirect that Qt follows is not the answer.
    if (code && !isRedirectStatus(*code))
        decide(code);
}

void AIHttpExchange::decide(std::optional<int> code)
{
    if (!code || *code == 200) {
        m_phase = Phase::streaming;
        emit headDecided();
        return;
    }
    m_phase = Phase::refused;
    m_status = *code;
}

void AIHttpExchange::onReadyRead()
{
    if (m_phase == Phase::done)
        return;
    if (m_phase == Phase::head)
        decide(status());
    if (m_phase == Phase::refused) {
        readRefusal();
        return;
    }
    QPointer<AIHttpExchange> self(this);
    consume(m_splitter.feed(m_reply->readAll()));
    if (!self || m_phase == Phase::done)
        return;
    if (m_splitter.overflowed())
        failReply(L10n::text(QStringLiteral("ai.error.lineTooLong")));
}

void AIHttpExchange::readRefusal()
{
    // Only as much as the message may take is read; the rest of the body is never looked at.
    if (m_refusal.append(m_reply->read(m_refusal.room())))
        completeRefusal();
}

void AIHttpExchange::onFinished()
{
    if (m_phase == Phase::done || m_abortedByUs)
        return;
    const auto code = status();
    const bool transportFailure = isTransportFailure(m_reply->error(), code);
    if (m_phase == Phase::head) {
        if (transportFailure) {
            failBeforeHead(networkError());
            return;
        }
        decide(code);
    }

    if (m_phase == Phase::refused) {
        readRefusal();
        if (m_phase != Phase::refused)
            return;
        // A body that broke off still makes a refusal when its message was complete before.
        if (!transportFailure)
            m_refusal.finish();
        if (!transportFailure || m_refusal.passedLimit())
            completeRefusal();
        else
            failBeforeHead(networkError());
        return;
    }

    // Whatever arrived before a drop is still delivered; only complete lines of it count.
    QPointer<AIHttpExchange> self(this);
    consume(m_splitter.feed(m_reply->readAll()));
    if (!self || m_phase == Phase::done)
        return;
    if (transportFailure) {
        failReply(networkError().description);
        return;
    }
    consume(m_splitter.finish());
    if (!self || m_phase == Phase::done)
        return;
    // The body ended without the dialect's end marker: the answer is cut off.
    failReply(L10n::text(QStringLiteral("ai.error.connectionLost")));
}

void AIHttpExchange::onAbortRequested()
{
    if (m_phase == Phase::done)
        return;
    m_phase = Phase::done;
    stopReply();
}

void AIHttpExchange::consume(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines) {
        if (!takeStreamLine(line))
            return;
    }
}

bool AIHttpExchange::takeStreamLine(const QByteArray &line)
{
    const AILineResult result = AILineParser::parse(m_dialect, QString::fromUtf8(line));
    if (result.chunk && !push(*result.chunk))
        return false;
    if (result.errorMessage) {
        failReply(*result.errorMessage);
        return false;
    }
    if (result.endsReply) {
        endReply();
        return false;
    }
    return true;
}

void AIHttpExchange::completeRefusal()
{
    failBeforeHead(AIError {QLatin1String(AIError::clientDomain), m_status,
                            refusalDescription(m_refusalName, m_status, m_refusal.text())});
}

void AIHttpExchange::failBeforeHead(const AIError &error)
{
    m_phase = Phase::done;
    m_failure = error;
    stopReply();
    emit headDecided();
}

void AIHttpExchange::endReply()
{
    m_phase = Phase::done;
    QPointer<AIHttpExchange> self(this);
    m_stream->push(AIStreamChunk {QString(), true});
    if (!self)
        return;
    m_stream->finish();
    if (self)
        stopReply();
}

void AIHttpExchange::failReply(const QString &description)
{
    m_phase = Phase::done;
    QPointer<AIHttpExchange> self(this);
    m_stream->push(AIStreamChunk {errorChunkText(description), true, true});
    if (!self)
        return;
    m_stream->push(AIStreamChunk {QString(), true});
    if (!self)
        return;
    m_stream->finish();
    if (self)
        stopReply();
}

// False when the consumer stopped the reply (or destroyed the stream) in response.
bool AIHttpExchange::push(const AIStreamChunk &chunk)
{
    QPointer<AIHttpExchange> self(this);
    m_stream->push(chunk);
    return self && m_phase != Phase::done;
}

void AIHttpExchange::stopReply()
{
    if (!m_reply || m_reply->isFinished())
        return;
    m_abortedByUs = true;
    disconnect(m_reply, nullptr, this, nullptr);
    m_reply->abort();
}

AIError AIHttpExchange::networkError() const
{
    const QNetworkReply::NetworkError error = m_reply->error();
    const auto described = [error](const char *key) {
        return AIError {QLatin1String(AIError::networkDomain), error,
                        L10n::text(QLatin1String(key))};
    };
    switch (error) {
    case QNetworkReply::OperationCanceledError:
        if (m_abortedByUs)
            break;
        // Only the transfer timeout cancels a request we did not abort ourselves.
        return AIError {QLatin1String(AIError::networkDomain), QNetworkReply::TimeoutError,
                        L10n::text(QStringLiteral("ai.error.timeout"))};
    case QNetworkReply::TimeoutError:
        return described("ai.error.timeout");
    case QNetworkReply::ConnectionRefusedError:
        return described("ai.error.connectionRefused");
    case QNetworkReply::HostNotFoundError:
        return described("ai.error.hostNotFound");
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    // The connection closed before any answer and the request body refused to go out twice.
    case QNetworkReply::ContentReSendError:
        return described("ai.error.connectionLost");
    case QNetworkReply::SslHandshakeFailedError:
        return described("ai.error.tls");
    case QNetworkReply::InsecureRedirectError:
        return described("ai.error.redirect");
    default:
        break;
    }
    return AIError {QLatin1String(AIError::networkDomain), error, m_reply->errorString()};
}
