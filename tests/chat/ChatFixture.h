#pragma once

#include "model/ModelFakes.h"

#include "Velto/chat/ChatView.h"
#include "Velto/model/ChatViewState.h"
#include "Velto/model/SettingsNavigation.h"
#include "core/ai/AISettings.h"
#include "fakes/ai/FakeAIServer.h"

#include <QNetworkAccessManager>

#include <memory>

namespace chattest {

using Response = FakeAIServer::Response;

// A window's workspace and hand-over state, AI settings pointed at a loopback fake provider, and
// panels built over them.
class ChatTest : public modeltest::ModelTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Settings for the provider, with the fake's address (or another) as endpoint.
    void use(AIProviderType provider, const QString &key = QStringLiteral("key"),
             const QString &endpoint = {});
    ChatServices chatServices();
    std::unique_ptr<ChatView> makePanel();

    // Types into the message field and presses Return.
    void typeAndSend(ChatView &panel, const QString &text);
    // Waits until the panel's reply ended.
    bool waitForReply(ChatView &panel);
    // The last user turn the fake received: the content of the last message of its body.
    QString lastPrompt() const;

    std::unique_ptr<AISettings> aiSettings;
    std::unique_ptr<SettingsNavigation> navigation;
    std::unique_ptr<QNetworkAccessManager> network;
    std::unique_ptr<FakeAIServer> server;
    std::unique_ptr<ChatViewState> chatState;
};

} // namespace chattest
