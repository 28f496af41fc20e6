#pragma once

#include "core/ai/AIProviderType.h"

#include <QObject>
#include <QString>

class Defaults;

// The one set of AI settings of the application: read by the chat panel and the AI client,
// written by the settings window and the local API. Main thread only.
//
// Every assignment writes the store, even one that changes nothing; observers hear only of
// real changes. A provider change leaves model and endpoint alone (the settings tab clears them).
class AISettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString apiKey READ apiKey WRITE setApiKey NOTIFY apiKeyChanged)
    Q_PROPERTY(QString model READ model WRITE setModel NOTIFY modelChanged)
    Q_PROPERTY(QString endpoint READ endpoint WRITE setEndpoint NOTIFY endpointChanged)

public:
    // The application's instance (its root builds and owns it), for callers not handed one.
    static AISettings &shared();

    // Loads once from the store; nothing is written while loading.
    explicit AISettings(Defaults &defaults, QObject *parent = nullptr);

    AIProviderType provider() const { return m_provider; }
    void setProvider(AIProviderType provider);

    QString apiKey() const { return m_apiKey; }
    void setApiKey(const QString &apiKey);

    // Empty means the provider's default.
    QString model() const { return m_model; }
    void setModel(const QString &model);

    // Empty means the provider's default.
    QString endpoint() const { return m_endpoint; }
    void setEndpoint(const QString &endpoint);

    // Whether a request can be made: the providers that need a key have a non-empty one.
    bool isConfigured() const;
    // A key goes into an HTTP header as it is, so it must hold no control character: a CR or
    // LF would end the header and let the rest of the key add headers of its own.
    static bool isValidAPIKey(QStringView key);
    QString effectiveModel() const;
    QString effectiveEndpoint() const;

    static constexpr const char *providerKey = "aiProvider";
    static constexpr const char *apiKeyKey = "aiAPIKey";
    static constexpr const char *modelKey = "aiModel";
    static constexpr const char *endpointKey = "aiEndpoint";

signals:
    void providerChanged();
    void apiKeyChanged();
    void modelChanged();
    void endpointChanged();

private:
    void assignString(QString &member, const QString &value, const char *key,
                      void (AISettings::*changed)());

    Defaults &m_defaults;
    AIProviderType m_provider = AIProviderType::veltoKI;
    QString m_apiKey;
    QString m_model;
    QString m_endpoint;
};
