#include "ChatFixture.h"

#include "Velto/chat/GrowingTextEdit.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QNetworkProxy>
#include <QTest>

namespace chattest {

void ChatTest::SetUp()
{
    ModelTest::SetUp();
    aiSettings = std::make_unique<AISettings>(*defaults);
    navigation = std::make_unique<SettingsNavigation>();
    network = std::make_unique<QNetworkAccessManager>();
    network->setProxy(QNetworkProxy::NoProxy);
    server = std::make_unique<FakeAIServer>();
    chatState = std::make_unique<ChatViewState>();
    use(AIProviderType::openai);
}

void ChatTest::TearDown()
{
    chatState.reset();
    server.reset();
    network.reset();
    ModelTest::TearDown();
}

void ChatTest::use(AIProviderType provider, const QString &key, const QString &endpoint)
{
    aiSettings->setProvider(provider);
    aiSettings->setApiKey(key);
    aiSettings->setEndpoint(endpoint.isEmpty() ? server->baseUrl() : endpoint);
}

ChatServices ChatTest::chatServices()
{
    return {aiSettings.get(), navigation.get(),
            std::make_unique<AIClient>(*aiSettings, network.get())};
}

std::unique_ptr<ChatView> ChatTest::makePanel()
{
    auto panel = std::make_unique<ChatView>(*ws, *chatState, chatServices());
    panel->resize(340, 600);
    return panel;
}

void ChatTest::typeAndSend(ChatView &panel, const QString &text)
{
    panel.inputField()->setFocus();
    // Inserted as typing does (QTest types ASCII only).
    panel.inputField()->insertPlainText(text);
    QTest::keyClick(panel.inputField(), Qt::Key_Return);
}

bool ChatTest::waitForReply(ChatView &panel)
{
    return testsupport::waitUntil([&] { return !panel.controller()->isStreaming(); });
}

QString ChatTest::lastPrompt() const
{
    if (server->requests().isEmpty())
        return {};
    const QJsonArray messages = server->requests().last().json().value("messages").toArray();
    return messages.last().toObject().value("content").toString();
}

} // namespace chattest
