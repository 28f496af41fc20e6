#include "core/ai/AILineParser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString dataPrefix = QStringLiteral("data: ");
const QString endMarker = QStringLiteral("[DONE]");

std::optional<QJsonObject> jsonObject(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

// The payload of a "data: " line; anything else (also "data:" without the space) has none.
std::optional<QString> ssePayload(const QString &line)
{
    if (!line.startsWith(dataPrefix))
        return std::nullopt;
    return line.mid(dataPrefix.size());
}

AILineResult chunk(const QString &text, bool done = false)
{
    AILineResult result;
    result.chunk = AIStreamChunk {text, done};
    return result;
}

AILineResult ending()
{
    AILineResult result;
    result.endsReply = true;
    return result;
}

AILineResult failure(const QString &message)
{
    AILineResult result;
    result.errorMessage = message;
    return result;
}

} // namespace

AILineResult AILineParser::parse(Dialect dialect, const QString &line)
{
    switch (dialect) {
    case Dialect::anthropic:
        return parseAnthropicLine(line);
    case Dialect::openAI:
        return parseOpenAILine(line);
    case Dialect::ollama:
        return parseOllamaLine(line);
    }
    return {};
}

AILineResult AILineParser::parseAnthropicLine(const QString &line)
{
    const auto payload = ssePayload(line);
    if (!payload)
        return {};
    if (*payload == endMarker)
        return ending();
    const auto object = jsonObject(*payload);
    if (!object)
        return {};

    const QJsonValue typeValue = object->value(QLatin1String("type"));
    const QString type = typeValue.isString() ? typeValue.toString() : QString();
    if (type == QLatin1String("content_block_delta")) {
        const QJsonValue delta = object->value(QLatin1String("delta"));
        if (!delta.isObject())
            return {};
        const QJsonValue text = delta.toObject().value(QLatin1String("text"));
        if (!text.isString())
            return {};
        return chunk(text.toString());
    }
    if (type == QLatin1String("message_stop"))
        return ending();
    // An overloaded or failed generation arrives as an error event; passing over it would
    // present a truncated answer as complete.
    if (type == QLatin1String("error")) {
        const QJsonValue error = object->value(QLatin1String("error"));
        const QJsonValue message
            = error.isObject() ? error.toObject().value(QLatin1String("message")) : QJsonValue();
        return failure(message.isString() ? message.toString() : *payload);
    }
    return {};
}

AILineResult AILineParser::parseOpenAILine(const QString &line)
{
    const auto payload = ssePayload(line);
    if (!payload)
        return {};
    if (*payload == endMarker)
        return ending();
    const auto object = jsonObject(*payload);
    if (!object)
        return {};

    const QJsonValue choices = object->value(QLatin1String("choices"));
    if (choices.isArray()) {
        const QJsonArray array = choices.toArray();
        bool allObjects = !array.isEmpty();
        for (const QJsonValue &element : array)
            allObjects = allObjects && element.isObject();
        if (allObjects) {
            const QJsonValue delta = array.first().toObject().value(QLatin1String("delta"));
            if (delta.isObject()) {
                const QJsonValue content = delta.toObject().value(QLatin1String("content"));
                if (content.isString())
                    return chunk(content.toString());
            }
        }
    }

    const QJsonValue error = object->value(QLatin1String("error"));
    if (error.isObject()) {
        const QJsonValue message = error.toObject().value(QLatin1String("message"));
        if (message.isString())
            return failure(message.toString());
    }
    return {};
}

AILineResult AILineParser::parseOllamaLine(const QString &line)
{
    const auto object = jsonObject(line);
    if (!object)
        return {};

    const QJsonValue message = object->value(QLatin1String("message"));
    if (message.isObject()) {
        const QJsonValue content = message.toObject().value(QLatin1String("content"));
        if (content.isString()) {
            const QJsonValue doneValue = object->value(QLatin1String("done"));
            const bool done = doneValue.isBool() && doneValue.toBool();
            AILineResult result = chunk(content.toString(), done);
            result.endsReply = done;
            return result;
        }
    }

    const QJsonValue error = object->value(QLatin1String("error"));
    if (error.isString())
        return failure(error.toString());
    return {};
}
