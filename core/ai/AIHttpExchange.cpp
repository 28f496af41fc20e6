#include "core/ai/AIHttpExchange.h"

#include "core/ai/AIReplyStream.h"

#include "platform/Graphemes.h"
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

AIHttpExchange::AIHttpExchange(QNetworkReply *reply, AILineParser::Dialect dialect,
                               QString refusalName, AIReplyStream *stream)
    : QObject(stream)
    , m_reply(reply)
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
    // The head of a redirect that Qt follows is not the answer.
    const auto code = status();
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
    QPointer<AIHttpExchange> self(this);
    consume(m_splitter.feed(m_reply->readAll()));
    if (!self || m_phase == Phase::done)
        return;
    if (m_splitter.overflowed()) {
        if (m_phase == Phase::refused)
            completeRefusal();
        else
            failReply(L10n::text(QStringLiteral("ai.error.lineTooLong")));
    }
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

    // Whatever arrived before a drop is still delivered; only complete lines of it count.
    QPointer<AIHttpExchange> self(this);
    consume(m_splitter.feed(m_reply->readAll()));
    if (!self || m_phase == Phase::done)
        return;

    if (transportFailure) {
        if (m_phase == Phase::refused)
            failBeforeHead(networkError());
        else
            failReply(networkError().description);
        return;
    }
    consume(m_splitter.finish());
    if (!self || m_phase == Phase::done)
        return;
    if (m_phase == Phase::refused)
        completeRefusal();
    else
        endReply();
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
        const bool goOn = m_phase == Phase::refused ? takeRefusalLine(line) : takeStreamLine(line);
        if (!goOn)
            return;
    }
}

bool AIHttpExchange::takeRefusalLine(const QByteArray &line)
{
    m_refusalText += QString::fromUtf8(line);
    if (m_refusalText.size() > refusalTextLimit
        && graphemes::countClusters(m_refusalText) > refusalTextLimit) {
        completeRefusal();
        return false;
    }
    return true;
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
                            refusalDescription(m_refusalName, m_status, m_refusalText)});
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
    m_stream->push(AIStreamChunk {errorChunkText(description), true});
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
    if (error == QNetworkReply::OperationCanceledError && !m_abortedByUs) {
        // Only the transfer timeout cancels a request we did not abort ourselves.
        return AIError {QLatin1String(AIError::networkDomain), QNetworkReply::TimeoutError,
                        L10n::text(QStringLiteral("ai.error.timeout"))};
    }
    if (error == QNetworkReply::InsecureRedirectError) {
        return AIError {QLatin1String(AIError::networkDomain), error,
                        L10n::text(QStringLiteral("ai.error.redirect"))};
    }
    return AIError {QLatin1String(AIError::networkDomain), error, m_reply->errorString()};
}
