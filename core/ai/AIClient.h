#pragma once

#include "core/ai/AIError.h"
#include "core/ai/AILineParser.h"
#include "core/ai/AIReplyStream.h"
#include "core/ai/AIRequestBuilder.h"
#include "core/ai/AIStreamChunk.h"
#include "core/ai/ChatMessage.h"

#include <QList>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <optional>

class AISettings;
class QNetworkAccessManager;
class QObject;

// What a request came to once its response head arrived: an accepted reply stream, or the
// error that kept it from producing any chunk.
struct AIStreamResult
{
    std::unique_ptr<AIReplyStream> stream;
    std::optional<AIError> error;

    bool accepted() const { return stream != nullptr; }
};

// Sends one conversation to the provider chosen in the AI settings and hands the reply back as
// a stream of chunks while it is generated. Keeps nothing between calls; any number of calls
// may run at once. Main thread only.
//
// A request still waiting for its response head is aborted when the client is destroyed; after
// that the reply stream belongs to the caller, and dropping or aborting it aborts the request.
class AIClient
{
public:
    static constexpr std::chrono::milliseconds defaultTimeout = std::chrono::seconds(60);

    // Without a network manager the client keeps one of its own; tests pass a short idle timeout.
    explicit AIClient(AISettings &settings, QNetworkAccessManager *network = nullptr,
                      std::chrono::milliseconds timeout = defaultTimeout);
    virtual ~AIClient();
    AIClient(const AIClient &) = delete;
    AIClient &operator=(const AIClient &) = delete;

    // Completes once the response head is in: with the reply stream when the provider accepted
    // the request; with an "AIClient" error (HTTP status as code) when it refused; with the
    // network error when the request could not be made. Failures while the reply streams come
    // as an error chunk ("\n[Fehler: …]", done) followed by the final chunk.
    virtual QCoro::Task<AIStreamResult> stream(QList<ChatMessage> messages,
                                               std::optional<QString> systemPrompt);

    virtual QCoro::Task<AIStreamResult> streamAnthropic(QList<ChatMessage> messages,
                                                        std::optional<QString> systemPrompt,
                                                        QString apiKey, QString model,
                                                        QString endpoint);
    virtual QCoro::Task<AIStreamResult> streamOpenAICompatible(QList<ChatMessage> messages,
                                                               std::optional<QString> systemPrompt,
                                                               QString apiKey, QString model,
                                                               QString endpoint, bool ollama);

    // Aborts every request of this client still waiting for its response head; their calls
    // complete with the cancellation. Streams already handed out are the caller's to abort.
    void abortPendingRequests();

    // Whether a header value can go on the wire: no control characters (CR, LF, NUL, …).
    static bool isSafeHeaderValue(const QByteArray &value);

private:
    QCoro::Task<AIStreamResult> send(AIRequest request, AILineParser::Dialect dialect,
                                     QString refusalName);
    static QCoro::Task<AIStreamResult> failed(AIError error);
    static AIError invalidEndpoint(const QString &endpoint);

    AISettings *m_settings = nullptr;
    std::unique_ptr<QNetworkAccessManager> m_ownNetwork;
    QNetworkAccessManager *m_network = nullptr;
    std::chrono::milliseconds m_timeout = defaultTimeout;
    // Parent of the reply streams whose response head is still outstanding.
    std::unique_ptr<QObject> m_pending;
};
