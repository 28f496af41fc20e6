#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

// The services an answer can come from. The raw value is the display name; it is stored under
// "aiProvider" and exchanged by the local API.
enum class AIProviderType {
    veltoKI,
    claude,
    openai,
    ollama,
};
Q_DECLARE_METATYPE(AIProviderType)

namespace AIProviderTypes {

QString toString(AIProviderType provider);
// Exact, case-sensitive match of the display name ("Velto KI", "Claude", "OpenAI", "Ollama").
std::optional<AIProviderType> fromString(const QString &raw);
const QList<AIProviderType> &allCases();

QString displayName(AIProviderType provider);
// Base address without a trailing "/"; the request paths are appended to it.
QString defaultEndpoint(AIProviderType provider);
QString defaultModel(AIProviderType provider);
bool needsAPIKey(AIProviderType provider);
// The localized description text of "provider.<id>.desc".
QString descriptionKey(AIProviderType provider);

} // namespace AIProviderTypes
