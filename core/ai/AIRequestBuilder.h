#pragma once

#include "core/ai/ChatMessage.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <optional>

// One provider request as it goes on the wire: always a POST of a compact JSON body.
struct AIRequest
{
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // Header lookup by exact name; whether the header is sent at all is hasHeader().
    bool hasHeader(const QByteArray &name) const;
    QByteArray header(const QByteArray &name) const;
};

// Builds the requests of the two wire dialects. Either returns nothing when endpoint and path do
// not make an http or https URL with a host, so nothing is ever sent to a half-parsed address.
class AIRequestBuilder
{
public:
    static constexpr const char *anthropicPath = "/v1/messages";
    static constexpr const char *openAIPath = "/v1/chat/completions";
    static constexpr const char *ollamaPath = "/api/chat";
    static constexpr const char *anthropicVersion = "2023-06-01";
    static constexpr int anthropicMaxTokens = 4096;

    // Anthropic Messages API. The endpoint is used as it is (a trailing "/" stays); system-role
    // messages are left out; "system" is present whenever a system prompt is, empty or not.
    static std::optional<AIRequest> anthropic(const QList<ChatMessage> &messages,
                                              const std::optional<QString> &systemPrompt,
                                              const QString &apiKey, const QString &model,
                                              const QString &endpoint);

    // OpenAI chat completions (also the own service) or, with ollama set, Ollama's chat API. One
    // trailing "/" of the endpoint is dropped; the system prompt, when present, leads the
    // messages; "Authorization" is sent only with a non-empty key.
    static std::optional<AIRequest> openAICompatible(const QList<ChatMessage> &messages,
                                                     const std::optional<QString> &systemPrompt,
                                                     const QString &apiKey, const QString &model,
                                                     const QString &endpoint, bool ollama);

    // The URL of base + path, or nothing unless it is a valid http/https URL with a host.
    static std::optional<QUrl> requestUrl(const QString &base, const QString &path);
};
