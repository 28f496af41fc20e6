#include "AITestPrinters.h"
#include "core/ai/AIAction.h"
#include "core/ai/AIProviderType.h"
#include "core/ai/AISettings.h"
#include "core/ai/ChatMessage.h"

#include "platform/Defaults.h"
#include "platform/Icons.h"
#include "platform/L10n.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(AIAction, promptsTitlesAndRawValues)
{
    const QString shortenPrompt = L10n::text("action.prompt.shorten");
    EXPECT_NE(shortenPrompt, QStringLiteral("action.prompt.shorten"));
    EXPECT_EQ(AIActions::prompt(AIAction::shorten, ""), shortenPrompt + "\n\n");
    EXPECT_EQ(AIActions::prompt(AIAction::translate, "Hallo"),
              L10n::text("action.prompt.translate") + "\n\nHallo");
    EXPECT_EQ(AIActions::prompt(AIAction::custom, ""), QString());
    EXPECT_EQ(AIActions::prompt(AIAction::custom, "Mach es bunt"), QStringLiteral("Mach es bunt"));
    EXPECT_EQ(AIActions::systemPrompt(AIAction::rewrite),
              AIActions::systemPrompt(AIAction::casual));

    const QList<AIAction> all = AIActions::allCases();
    ASSERT_EQ(all.size(), 10);
    EXPECT_EQ(all.first(), AIAction::rewrite);
    EXPECT_EQ(all.last(), AIAction::custom);
    for (AIAction action : all) {
        const QString raw = AIActions::toString(action);
        EXPECT_EQ(AIActions::fromString(raw), action);
        // Every text the actions show or send has a German text and every icon is bundled.
        EXPECT_TRUE(L10n::has("action." + raw)) << raw.toStdString();
        if (action != AIAction::custom) {
            EXPECT_TRUE(L10n::has("action.prompt." + raw)) << raw.toStdString();
        }
        EXPECT_TRUE(Icons::exists(AIActions::icon(action))) << raw.toStdString();
    }
    EXPECT_TRUE(L10n::has("action.systemPrompt"));
    EXPECT_EQ(AIActions::title(AIAction::casual), L10n::text("action.casual"));
    EXPECT_EQ(AIActions::fromString("Rewrite"), std::nullopt);
    EXPECT_EQ(AIActions::fromString(""), std::nullopt);
}

TEST(AIProviderType, tableOfProviders)
{
    const QList<AIProviderType> all = AIProviderTypes::allCases();
    ASSERT_EQ(all.size(), 4);
    EXPECT_EQ(AIProviderTypes::toString(all.at(0)), QStringLiteral("Velto KI"));
    EXPECT_EQ(AIProviderTypes::toString(all.at(3)), QStringLiteral("Ollama"));
    EXPECT_EQ(AIProviderTypes::fromString("Claude"), AIProviderType::claude);
    EXPECT_EQ(AIProviderTypes::fromString("claude"), std::nullopt);
    EXPECT_TRUE(AIProviderTypes::needsAPIKey(AIProviderType::openai));
    EXPECT_FALSE(AIProviderTypes::needsAPIKey(AIProviderType::ollama));
    EXPECT_FALSE(AIProviderTypes::needsAPIKey(AIProviderType::veltoKI));
    EXPECT_EQ(AIProviderTypes::defaultModel(AIProviderType::claude),
              QStringLiteral("claude-sonnet-4-20250514"));
    for (AIProviderType p : all) {
        EXPECT_FALSE(AIProviderTypes::defaultEndpoint(p).endsWith('/'));
        const QString id = p == AIProviderType::veltoKI ? QStringLiteral("veltoKI")
                                                        : AIProviderTypes::toString(p).toLower();
        EXPECT_TRUE(L10n::has("provider." + id + ".desc"));
        EXPECT_EQ(AIProviderTypes::descriptionKey(p), L10n::text("provider." + id + ".desc"));
    }
    // The own service's address is a build option; by default it lies in the reserved .invalid
    // domain so nothing goes to a stranger's server.
    EXPECT_TRUE(AIProviderTypes::defaultEndpoint(AIProviderType::veltoKI).startsWith("https://"));
}

class AISettingsTest : public ::testing::Test
{
protected:
    QString path() const { return dir.filePath("defaults.json"); }

    QTemporaryDir dir;
};

TEST_F(AISettingsTest, emptyStoreGivesOwnServiceDefaults)
{
    Defaults defaults(path());
    AISettings settings(defaults);
    EXPECT_EQ(settings.provider(), AIProviderType::veltoKI);
    EXPECT_TRUE(settings.apiKey().isEmpty());
    EXPECT_TRUE(settings.model().isEmpty());
    EXPECT_TRUE(settings.endpoint().isEmpty());
    EXPECT_TRUE(settings.isConfigured());
    EXPECT_EQ(settings.effectiveModel(), QStringLiteral("velto-default"));
    EXPECT_EQ(settings.effectiveEndpoint(),
              AIProviderTypes::defaultEndpoint(AIProviderType::veltoKI));
    // Loading writes nothing.
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(AISettingsTest, configuredAndEffectiveValuesFollowTheProvider)
{
    Defaults defaults(path());
    AISettings settings(defaults);

    settings.setProvider(AIProviderType::claude);
    EXPECT_FALSE(settings.isConfigured());
    settings.setApiKey(" ");
    EXPECT_TRUE(settings.isConfigured());

    settings.setProvider(AIProviderType::ollama);
    settings.setApiKey("");
    EXPECT_TRUE(settings.isConfigured());
    EXPECT_EQ(settings.effectiveModel(), QStringLiteral("llama3.2"));
    EXPECT_EQ(settings.effectiveEndpoint(), QStringLiteral("http://localhost:11434"));

    // A provider change keeps the stored model; a blank model is used as it is.
    settings.setProvider(AIProviderType::openai);
    settings.setModel("gpt-4o");
    settings.setProvider(AIProviderType::ollama);
    EXPECT_EQ(settings.effectiveModel(), QStringLiteral("gpt-4o"));
    settings.setEndpoint(" ");
    EXPECT_EQ(settings.effectiveEndpoint(), QStringLiteral(" "));
}

TEST_F(AISettingsTest, everyAssignmentWritesButOnlyChangesNotify)
{
    Defaults defaults(path());
    AISettings settings(defaults);
    QSignalSpy providerSpy(&settings, &AISettings::providerChanged);
    QSignalSpy keySpy(&settings, &AISettings::apiKeyChanged);
    QSignalSpy modelSpy(&settings, &AISettings::modelChanged);
    QSignalSpy endpointSpy(&settings, &AISettings::endpointChanged);

    settings.setProvider(AIProviderType::veltoKI);
    settings.setApiKey("");
    settings.setModel(QString());
    settings.setEndpoint("");
    EXPECT_EQ(providerSpy.count() + keySpy.count() + modelSpy.count() + endpointSpy.count(), 0);
    EXPECT_EQ(defaults.string("aiProvider"), QStringLiteral("Velto KI"));
    EXPECT_EQ(defaults.string("aiAPIKey"), QString(""));
    EXPECT_EQ(defaults.string("aiModel"), QString(""));
    EXPECT_EQ(defaults.string("aiEndpoint"), QString(""));

    settings.setApiKey("sk-1");
    settings.setApiKey("sk-1");
    EXPECT_EQ(keySpy.count(), 1);
    defaults.remove("aiAPIKey");
    settings.setApiKey("sk-1");
    EXPECT_EQ(keySpy.count(), 1);
    EXPECT_EQ(defaults.string("aiAPIKey"), QStringLiteral("sk-1"));

    settings.setProvider(AIProviderType::openai);
    EXPECT_EQ(providerSpy.count(), 1);

    // A fresh instance over the file reads what was written.
    Defaults reread(path());
    AISettings again(reread);
    EXPECT_EQ(again.provider(), AIProviderType::openai);
    EXPECT_EQ(again.apiKey(), QStringLiteral("sk-1"));
}

TEST_F(AISettingsTest, unknownOrOddStoredValuesFallBack)
{
    {
        Defaults defaults(path());
        defaults.set("aiProvider", "claude");
        defaults.set("aiAPIKey", 42);
        defaults.set("aiModel", true);
        defaults.set("aiEndpoint", QJsonArray {"x"});
    }
    Defaults defaults(path());
    AISettings settings(defaults);
    EXPECT_EQ(settings.provider(), AIProviderType::veltoKI);
    EXPECT_EQ(settings.apiKey(), QStringLiteral("42"));
    EXPECT_EQ(settings.model(), QString());
    EXPECT_EQ(settings.endpoint(), QString());
    // The unmatched name stays stored until the next assignment.
    EXPECT_EQ(defaults.string("aiProvider"), QStringLiteral("claude"));
    settings.setProvider(AIProviderType::veltoKI);
    EXPECT_EQ(defaults.string("aiProvider"), QStringLiteral("Velto KI"));
}

TEST(ChatMessage, identityRoleAndEquality)
{
    const ChatMessage a(ChatMessage::Role::user, "x");
    const ChatMessage b(ChatMessage::Role::user, "x");
    EXPECT_NE(a, b);
    ChatMessage c(ChatMessage::Role::user, "x", a.id());
    EXPECT_EQ(a, c);
    c.setContent("y");
    EXPECT_NE(a, c);
    EXPECT_EQ(ChatMessage::toString(ChatMessage::Role::assistant), QStringLiteral("assistant"));
    EXPECT_EQ(ChatMessage::roleFromString("system"), ChatMessage::Role::system);
    EXPECT_EQ(ChatMessage::roleFromString("User"), std::nullopt);
}
