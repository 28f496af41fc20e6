#include "core/ai/AISettings.h"

#include "platform/Defaults.h"
#include "platform/RootInstance.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

namespace {

void assertMainThread()
{
    Q_ASSERT(!QCoreApplication::instance()
             || QThread::currentThread() == QCoreApplication::instance()->thread());
}

} // namespace

AISettings &AISettings::shared()
{
    return RootInstance<AISettings>::get();
}

AISettings::AISettings(Defaults &defaults, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
{
    const QString providerName = m_defaults.string(QLatin1String(providerKey))
                                     .value_or(AIProviderTypes::toString(AIProviderType::veltoKI));
    // An unknown name (say "claude" in lower case) reads as the own service; the stored string
    // stays as it is until the next assignment.
    m_provider = AIProviderTypes::fromString(providerName).value_or(AIProviderType::veltoKI);
    m_apiKey = m_defaults.string(QLatin1String(apiKeyKey)).value_or(QString());
    m_model = m_defaults.string(QLatin1String(modelKey)).value_or(QString());
    m_endpoint = m_defaults.string(QLatin1String(endpointKey)).value_or(QString());
}

void AISettings::setProvider(AIProviderType provider)
{
    assertMainThread();
    const bool changed = provider != m_provider;
    m_provider = provider;
    m_defaults.set(QLatin1String(providerKey), AIProviderTypes::toString(provider));
    if (changed)
        emit providerChanged();
}

void AISettings::setApiKey(const QString &apiKey)
{
    assignString(m_apiKey, apiKey, apiKeyKey, &AISettings::apiKeyChanged);
}

void AISettings::setModel(const QString &model)
{
    assignString(m_model, model, modelKey, &AISettings::modelChanged);
}

void AISettings::setEndpoint(const QString &endpoint)
{
    assignString(m_endpoint, endpoint, endpointKey, &AISettings::endpointChanged);
}

void AISettings::assignString(QString &member, const QString &value, const char *key,
                              void (AISettings::*changed)())
{
    assertMainThread();
    const bool differs = value != member;
    member = value;
    // A null QString would become JSON null, which the store treats as "remove the key".
    m_defaults.set(QLatin1String(key), value.isNull() ? QStringLiteral("") : value);
    if (differs)
        emit(this->*changed)();
}

bool AISettings::isValidAPIKey(QStringView key)
{
    return std::none_of(key.begin(), key.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

bool AISettings::isConfigured() const
{
    if (AIProviderTypes::needsAPIKey(m_provider))
        return !m_apiKey.isEmpty();
    return true;
}

QString AISettings::effectiveModel() const
{
    return m_model.isEmpty() ? AIProviderTypes::defaultModel(m_provider) : m_model;
}

QString AISettings::effectiveEndpoint() const
{
    return m_endpoint.isEmpty() ? AIProviderTypes::defaultEndpoint(m_provider) : m_endpoint;
}
