#include "SettingsFixture.h"

#include "Velto/shell/AISettingsTab.h"
#include "Velto/shell/ShellStyle.h"
#include "platform/L10n.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

using namespace settingstest;

namespace {

class AITab : public SettingsTest
{
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        tab = std::make_unique<AISettingsTab>(*ai);
        tab->show();
    }
    void TearDown() override
    {
        tab.reset();
        SettingsTest::TearDown();
    }
    void pick(AIProviderType provider)
    {
        QComboBox *picker = tab->providerPicker();
        const int target = picker->findData(QVariant::fromValue(provider));
        // Arrow keys on a closed pop-up choose like the user does.
        while (picker->currentIndex() < target)
            QTest::keyClick(picker, Qt::Key_Down);
        while (picker->currentIndex() > target)
            QTest::keyClick(picker, Qt::Key_Up);
    }
    // Which optional rows show, and the status line's words and colour.
    QString shown() const
    {
        QStringList rows;
        if (tab->guideRow()->isVisible())
            rows << QStringLiteral("guide");
        if (tab->keyRow()->isVisible())
            rows << QStringLiteral("key");
        if (tab->modelRow()->isVisible())
            rows << QStringLiteral("model");
        if (tab->endpointRow()->isVisible())
            rows << QStringLiteral("endpoint");
        const bool green = tab->statusDot()->color() == ShellStyle::Colors::green;
        rows << (green ? QStringLiteral("green ") : QStringLiteral("red "))
                + tab->statusLabel()->text();
        return rows.join(u',');
    }

    std::unique_ptr<AISettingsTab> tab;
    const QString ready = L10n::text(QStringLiteral("settings.ready"));
    const QString keyRequired = L10n::text(QStringLiteral("settings.apiKeyRequired"));
};

TEST_F(AITab, rowsAndReadinessFollowTheProvider)
{
    EXPECT_EQ(shown(), QStringLiteral("green ") + ready);
    EXPECT_EQ(tab->descriptionLabel()->text(), L10n::text(QStringLiteral("provider.veltoKI.desc")));
    QStringList names;
    for (int i = 0; i < tab->providerPicker()->count(); ++i)
        names << tab->providerPicker()->itemText(i);
    EXPECT_EQ(names, (QStringList {"Velto KI", "Claude", "OpenAI", "Ollama"}));

    pick(AIProviderType::ollama);
    EXPECT_EQ(ai->provider(), AIProviderType::ollama);
    EXPECT_EQ(shown(), QStringLiteral("guide,model,endpoint,green ") + ready);
    EXPECT_EQ(tab->modelField()->placeholderText(), QStringLiteral("llama3.2"));

    pick(AIProviderType::claude);
    EXPECT_EQ(shown(), QStringLiteral("key,model,endpoint,red ") + keyRequired);
    QTest::keyClicks(tab->keyField(), QStringLiteral("k"));
    EXPECT_EQ(ai->apiKey(), QStringLiteral("k"));
    EXPECT_EQ(shown(), QStringLiteral("key,model,endpoint,green ") + ready);
}

TEST_F(AITab, aNewProviderStartsFromItsDefaultsAndKeepsTheKey)
{
    pick(AIProviderType::claude);
    QTest::keyClicks(tab->keyField(), QStringLiteral("sk"));
    QTest::keyClicks(tab->modelField(), QStringLiteral("x"));
    QTest::keyClicks(tab->endpointField(), QStringLiteral("y"));
    EXPECT_EQ(ai->model(), QStringLiteral("x"));
    EXPECT_EQ(ai->endpoint(), QStringLiteral("y"));

    pick(AIProviderType::openai);
    EXPECT_EQ(ai->model(), QString());
    EXPECT_EQ(ai->endpoint(), QString());
    EXPECT_EQ(tab->modelField()->text(), QString());
    EXPECT_EQ(tab->modelField()->placeholderText(), QStringLiteral("gpt-4o"));
    EXPECT_EQ(tab->endpointField()->placeholderText(),
              AIProviderTypes::defaultEndpoint(AIProviderType::openai));
    EXPECT_EQ(ai->apiKey(), QStringLiteral("sk"));
    EXPECT_EQ(shown(), QStringLiteral("key,model,endpoint,green ") + ready);

    QTest::keyClicks(tab->modelField(), QStringLiteral("m"));
    pick(AIProviderType::veltoKI);
    pick(AIProviderType::openai);
    EXPECT_EQ(ai->model(), QString());
    AISettings restarted(*defaults);
    EXPECT_EQ(restarted.provider(), AIProviderType::openai);
    EXPECT_EQ(restarted.apiKey(), QStringLiteral("sk"));
}

TEST_F(AITab, aKeyWithLineBreaksOrControlCharactersIsRefusedWithAnInlineText)
{
    pick(AIProviderType::claude);
    QTest::keyClicks(tab->keyField(), QStringLiteral("good"));
    QGuiApplication::clipboard()->setText(QStringLiteral("\r\nX-Injected: yes"));
    tab->keyField()->paste();
    EXPECT_EQ(ai->apiKey(), QStringLiteral("good"));
    EXPECT_TRUE(tab->keyProblemLabel()->isVisible());
    EXPECT_EQ(tab->keyProblemLabel()->text(), L10n::text(QStringLiteral("settings.apiKeyInvalid")));
    for (const QString &bad : {QStringLiteral("a\tb"), QStringLiteral("a\x7f"),
                               QStringLiteral("a\u0085"), QStringLiteral("a\nb")})
        EXPECT_FALSE(AISettings::isValidAPIKey(bad)) << qPrintable(bad);
    EXPECT_TRUE(AISettings::isValidAPIKey(QStringLiteral("sk-ant_Ä ß")));

    tab->keyField()->selectAll();
    QTest::keyClicks(tab->keyField(), QStringLiteral("better"));
    EXPECT_EQ(ai->apiKey(), QStringLiteral("better"));
    EXPECT_FALSE(tab->keyProblemLabel()->isVisible());
}

TEST_F(AITab, followsOutsideChangesWithoutWritingBack)
{
    pick(AIProviderType::ollama);
    QSignalSpy model(ai.get(), &AISettings::modelChanged);
    QSignalSpy endpoint(ai.get(), &AISettings::endpointChanged);
    ai->setModel(QStringLiteral("mistral"));
    ai->setEndpoint(QStringLiteral("http://box:11434"));
    ai->setProvider(AIProviderType::claude); // the local API changes the provider alone
    ai->setApiKey(QStringLiteral("outside"));
    EXPECT_EQ(tab->providerPicker()->currentText(), QStringLiteral("Claude"));
    EXPECT_EQ(tab->modelField()->text(), QStringLiteral("mistral"));
    EXPECT_EQ(tab->endpointField()->text(), QStringLiteral("http://box:11434"));
    EXPECT_EQ(tab->keyField()->text(), QStringLiteral("outside"));
    EXPECT_EQ(ai->model(), QStringLiteral("mistral")) << "an outside provider change keeps it";
    EXPECT_EQ(model.size(), 1);
    EXPECT_EQ(endpoint.size(), 1);
    EXPECT_EQ(shown(), QStringLiteral("key,model,endpoint,green ") + ready);
}

} // namespace
