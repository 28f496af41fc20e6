#include "core/ai/AIRequestBuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject messageObject(const QString &role, const QString &content)
{
    return QJsonObject {{QStringLiteral("role"), role}, {QStringLiteral("content"), content}};
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const QByteArray contentType = QByteArrayLiteral("Content-Type");
const QByteArray jsonType = QByteArrayLiteral("application/json");

} // namespace

bool AIRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first == name)
            return true;
    }
    return false;
}

QByteArray AIRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first == name)
            return h.second;
    }
    return {};
}

std::optional<QUrl> AIRequestBuilder::requestUrl(const QString &base, const QString &path)
{
    const QUrl url(base + path, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    return url;
}

std::optional<AIRequest> AIRequestBuilder::anthropic(const QList<ChatMessage> &messages,
                                                     const std::optional<QString> &systemPrompt,
                                                     const QString &apiKey, const QString &model,
                                                     const QString &endpoint)
{
    const auto url = requestUrl(endpoint, QLatin1String(anthropicPath));
    if (!url)
        return std::nullopt;

    QJsonArray list;
    for (const ChatMessage &m : messages) {
        if (m.role() != ChatMessage::Role::system)
            list.append(messageObject(ChatMessage::toString(m.role()), m.content()));
    }
    QJsonObject body {
        {QStringLiteral("model"), model},
        {QStringLiteral("max_tokens"), anthropicMaxTokens},
        {QStringLiteral("stream"), true},
        {QStringLiteral("messages"), list},
    };
    if (systemPrompt)
        body.insert(QStringLiteral("system"), *systemPrompt);

    // The header goes out even with an empty key; a null byte array would drop it.
    QByteArray key = apiKey.toUtf8();
    if (key.isNull())
        key = QByteArray("");

    AIRequest request;
    request.url = *url;
    request.headers = {
        {contentType, jsonType},
        {QByteArrayLiteral("x-api-key"), key},
        {QByteArrayLiteral("anthropic-version"), QByteArray(anthropicVersion)},
    };
    request.body = compact(body);
    return request;
}

std::optional<AIRequest> AIRequestBuilder::openAICompatible(
    const QList<ChatMessage> &messages, const std::optional<QString> &systemPrompt,
    const QString &apiKey, const QString &model, const QString &endpoint, bool ollama)
{
    QString base = endpoint;
    if (base.endsWith(u'/'))
        base.chop(1);
    const auto url = requestUrl(base, QLatin1String(ollama ? ollamaPath : openAIPath));
    if (!url)
        return std::nullopt;

    QJsonArray list;
    if (systemPrompt)
        list.append(messageObject(QStringLiteral("system"), *systemPrompt));
    for (const ChatMessage &m : messages)
        list.append(messageObject(ChatMessage::toString(m.role()), m.content()));
    const QJsonObject body {
        {QStringLiteral("model"), model},
        {QStringLiteral("messages"), list},
        {QStringLiteral("stream"), true},
    };

    AIRequest request;
    request.url = *url;
    request.headers = {{contentType, jsonType}};
    if (!apiKey.isEmpty())
        request.headers.append({QByteArrayLiteral("Authorization"), "Bearer " + apiKey.toUtf8()});
    request.body = compact(body);
    return request;
}
