#include "core/ai/AIClient.h"

#include "core/ai/AIHttpExchange.h"
#include "core/ai/AIRequestBody.h"
#include "core/ai/AISettings.h"

#include "platform/L10n.h"
#include "platform/SignalWait.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>

#include <algorithm>

AIClient::AIClient(AISettings &settings, QNetworkAccessManager *network,
                   std::chrono::milliseconds timeout)
    : m_settings(&settings)
    , m_network(network)
    , m_timeout(timeout)
    , m_pending(std::make_unique<QObject>())
{
    if (!m_network) {
        m_ownNetwork = std::make_unique<QNetworkAccessManager>();
        m_network = m_ownNetwork.get();
    }
}

AIClient::~AIClient() = default;

QCoro::Task<AIStreamResult> AIClient::stream(QList<ChatMessage> messages,
                                             std::optional<QString> systemPrompt)
{
    Q_ASSERT(!QCoreApplication::instance()
             || QThread::currentThread() == QCoreApplication::instance()->thread());
    const AIProviderType provider = m_settings->provider();
    const QString model = m_settings->effectiveModel();
    const QString endpoint = m_settings->effectiveEndpoint();
    switch (provider) {
    case AIProviderType::claude:
        return streamAnthropic(std::move(messages), std::move(systemPrompt), m_settings->apiKey(),
                               model, endpoint);
    case AIProviderType::openai:
        return streamOpenAICompatible(std::move(messages), std::move(systemPrompt),
                                      m_settings->apiKey(), model, endpoint, false);
    case AIProviderType::ollama:
        return streamOpenAICompatible(std::move(messages), std::move(systemPrompt),
                                      m_settings->apiKey(), model, endpoint, true);
    case AIProviderType::veltoKI:
        break;
    }
    // The key of the settings belongs to the third-party providers; it never goes to the own
    // service.
    return streamOpenAICompatible(std::move(messages), std::move(systemPrompt), QString(), model,
                                  endpoint, false);
}

QCoro::Task<AIStreamResult> AIClient::streamAnthropic(QList<ChatMessage> messages,
                                                      std::optional<QString> systemPrompt,
                                                      QString apiKey, QString model,
                                                      QString endpoint)
{
    auto request = AIRequestBuilder::anthropic(messages, systemPrompt, apiKey, model, endpoint);
    if (!request)
        return failed(invalidEndpoint(endpoint));
    return send(std::move(*request), AILineParser::Dialect::anthropic,
                QStringLiteral("Claude API"));
}

QCoro::Task<AIStreamResult> AIClient::streamOpenAICompatible(QList<ChatMessage> messages,
                                                             std::optional<QString> systemPrompt,
                                                             QString apiKey, QString model,
                                                             QString endpoint, bool ollama)
{
    auto request = AIRequestBuilder::openAICompatible(messages, systemPrompt, apiKey, model,
                                                      endpoint, ollama);
    if (!request)
        return failed(invalidEndpoint(endpoint));
    if (ollama)
        return send(std::move(*request), AILineParser::Dialect::ollama, QStringLiteral("Ollama"));
    return send(std::move(*request), AILineParser::Dialect::openAI, QStringLiteral("OpenAI"));
}

void AIClient::abortPendingRequests()
{
    // Destroying a stream whose head is outstanding aborts its request; its caller then
    // resumes with the cancellation.
    qDeleteAll(m_pending->findChildren<AIReplyStream *>(Qt::FindDirectChildrenOnly));
}

bool AIClient::isSafeHeaderValue(const QByteArray &value)
{
    const QString text = QString::fromUtf8(value);
    return std::none_of(text.cbegin(), text.cend(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

QCoro::Task<AIStreamResult> AIClient::send(AIRequest request, AILineParser::Dialect dialect,
                                           QString refusalName)
{
    // A key typed or pasted with a line break would end its header early and let the rest
    // of it become headers of its own; such a request does not leave the machine.
    for (const auto &header : std::as_const(request.headers)) {
        if (!isSafeHeaderValue(header.second)) {
            co_return AIStreamResult {nullptr,
                                      AIError {QLatin1String(AIError::networkDomain),
                                               QNetworkReply::ProtocolInvalidOperationError,
                                               L10n::text(QStringLiteral("ai.error.invalidKey"))}};
        }
    }

    QNetworkRequest networkRequest(request.url);
    for (const auto &header : std::as_const(request.headers))
        networkRequest.setRawHeader(header.first, header.second);
    networkRequest.setTransferTimeout(int(m_timeout.count()));
    // Keys travel in headers, which Qt would forward along a redirect to any other host.
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::SameOriginRedirectPolicy);

    QNetworkAccessManager &network = *m_network;
    auto *body = new AIRequestBody(std::move(request.body));
    networkRequest.setHeader(QNetworkRequest::ContentLengthHeader, body->size());
    QNetworkReply *reply = network.post(networkRequest, body);
    body->setParent(reply);
    auto *stream = new AIReplyStream(m_pending.get());
    auto *exchange = new AIHttpExchange(reply, body, dialect, refusalName, stream);

    // The client may be gone when this resumes: touch only locals from here on.
    const QPointer<AIReplyStream> guard(stream);
    const QPointer<AIHttpExchange> watched(exchange);
    if (!exchange->isHeadDecided())
        co_await SignalWait(exchange, &AIHttpExchange::headDecided);

    if (!guard || !watched) {
        co_return AIStreamResult {nullptr,
                                  AIError {QLatin1String(AIError::networkDomain),
                                           QNetworkReply::OperationCanceledError,
                                           QStringLiteral("Operation canceled")}};
    }
    if (const auto failure = watched->failure()) {
        delete guard.data();
        co_return AIStreamResult {nullptr, failure};
    }
    guard->setParent(nullptr);
    co_return AIStreamResult {std::unique_ptr<AIReplyStream>(guard.data()), std::nullopt};
}

QCoro::Task<AIStreamResult> AIClient::failed(AIError error)
{
    co_return AIStreamResult {nullptr, std::move(error)};
}

AIError AIClient::invalidEndpoint(const QString &endpoint)
{
    // Qt's own code for "this is no address we can send to".
    return AIError {QLatin1String(AIError::networkDomain), QNetworkReply::ProtocolUnknownError,
                    L10n::format(QStringLiteral("ai.error.invalidEndpoint"), {endpoint})};
}
