#include "core/ai/AIProviderType.h"

#include "platform/L10n.h"

#ifndef VELTO_AI_SERVICE_URL
#define VELTO_AI_SERVICE_URL "https://ai.velto.invalid"
#endif

namespace AIProviderTypes {

namespace {

struct Info
{
    AIProviderType provider;
    const char *raw;
    const char *descriptionId;
    const char *endpoint;
    const char *model;
    bool needsKey;
};

const Info infos[] = {
    {AIProviderType::veltoKI, "Velto KI", "veltoKI", VELTO_AI_SERVICE_URL, "velto-default", false},
    {AIProviderType::claude, "Claude", "claude", "https://api.anthropic.com",
     "claude-sonnet-4-20250514", true},
    {AIProviderType::openai, "OpenAI", "openai", "https://api.openai.com", "gpt-4o", true},
    {AIProviderType::ollama, "Ollama", "ollama", "http://localhost:11434", "llama3.2", false},
};

const Info &info(AIProviderType provider)
{
    return infos[static_cast<int>(provider)];
}

} // namespace

QString toString(AIProviderType provider)
{
    return QString::fromUtf8(info(provider).raw);
}

std::optional<AIProviderType> fromString(const QString &raw)
{
    for (const Info &i : infos) {
        if (raw == QLatin1String(i.raw))
            return i.provider;
    }
    return std::nullopt;
}

const QList<AIProviderType> &allCases()
{
    static const QList<AIProviderType> cases = [] {
        QList<AIProviderType> list;
        for (const Info &i : infos)
            list.append(i.provider);
        return list;
    }();
    return cases;
}

QString displayName(AIProviderType provider)
{
    return toString(provider);
}

QString defaultEndpoint(AIProviderType provider)
{
    QString endpoint = QString::fromUtf8(info(provider).endpoint);
    // The own service's address is a build option; keep the no-trailing-slash promise even when
    // it was configured with one.
    while (endpoint.endsWith(u'/'))
        endpoint.chop(1);
    return endpoint;
}

QString defaultModel(AIProviderType provider)
{
    return QString::fromUtf8(info(provider).model);
}

bool needsAPIKey(AIProviderType provider)
{
    return info(provider).needsKey;
}

QString descriptionKey(AIProviderType provider)
{
    return L10n::text(QStringLiteral("provider.") + QLatin1String(info(provider).descriptionId)
                      + QStringLiteral(".desc"));
}

} // namespace AIProviderTypes
