#include "ChatFixture.h"

#include "Velto/chat/MessageBubble.h"
#include "platform/L10n.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QToolButton>

using namespace chattest;

namespace {

QString contentOf(ChatView &panel, int index)
{
    return panel.controller()->messages().at(index).content();
}

QString errorText(const char *key)
{
    return L10n::format(QStringLiteral("chat.error"), {L10n::text(QLatin1String(key))});
}

TEST_F(ChatTest, aNewRequestStopsTheRunningReplyAndNothingLateGetsIn)
{
    auto panel = makePanel();
    auto stalling = [](const char *first) {
        return Response::ok()
            .write(FakeAIServer::openAIEvents({first}, false))
            .stall()
            .write(FakeAIServer::openAIEvents({"spät"}));
    };

    // A message while a reply streams.
    server->enqueue(stalling("Teil"));
    typeAndSend(*panel, QStringLiteral("Erste"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return contentOf(*panel, 1) == "Teil"; }));
    server->enqueue(Response::ok().write(FakeAIServer::openAIEvents({"Zweite Antwort"})));
    typeAndSend(*panel, QStringLiteral("Zweite"));
    EXPECT_TRUE(server->waitForClientClose(1)) << "the first request is aborted";
    server->resumeStalled();
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(contentOf(*panel, 1), QStringLiteral("Teil"));
    EXPECT_EQ(contentOf(*panel, 3), QStringLiteral("Zweite Antwort"));

    // An action handed over from the editor while a reply streams.
    server->enqueue(stalling("Halb"));
    typeAndSend(*panel, QStringLiteral("Dritte"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return contentOf(*panel, 5) == "Halb"; }));
    server->enqueue(Response::ok().write(FakeAIServer::openAIEvents({"Kurz"})));
    chatState->setPendingAction(PendingAIAction {QStringLiteral("Lang"), AIAction::shorten, {}});
    EXPECT_TRUE(server->waitForClientClose(2));
    server->resumeStalled();
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(contentOf(*panel, 5), QStringLiteral("Halb"));
    EXPECT_EQ(contentOf(*panel, 7), QStringLiteral("Kurz"));

    // A request still waiting for its answer is stopped too, without an error in its bubble.
    server->enqueue(Response::silence());
    typeAndSend(*panel, QStringLiteral("Vierte"));
    ASSERT_TRUE(server->waitForRequests(5));
    server->enqueue(Response::ok().write(FakeAIServer::openAIEvents({"Fünfte Antwort"})));
    typeAndSend(*panel, QStringLiteral("Fünfte"));
    EXPECT_TRUE(server->waitForClientClose(3));
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(contentOf(*panel, 9), QString());
    EXPECT_EQ(contentOf(*panel, 11), QStringLiteral("Fünfte Antwort"));
    EXPECT_EQ(panel->controller()->messages().size(), 12);
    EXPECT_EQ(server->requests().size(), 6);
}

TEST_F(ChatTest, theSendButtonStopsAReplyAndKeepsWhatCame)
{
    auto panel = makePanel();
    server->enqueue(
        Response::ok().write(FakeAIServer::anthropicEvents({"Bis hier"}, false)).stall());
    use(AIProviderType::claude);
    typeAndSend(*panel, QStringLiteral("Los"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return contentOf(*panel, 1) == "Bis hier"; }));
    ASSERT_TRUE(panel->sendButton()->isEnabled());
    panel->sendButton()->click();
    EXPECT_FALSE(panel->controller()->isStreaming());
    EXPECT_EQ(panel->controller()->pendingResult(), QStringLiteral("Bis hier"));
    EXPECT_FALSE(panel->sendButton()->isEnabled()) << "nothing typed, nothing running";
    EXPECT_TRUE(server->waitForClientClose(1));
    EXPECT_EQ(panel->controller()->messages().size(), 2);
}

TEST_F(ChatTest, aPanelThatGoesAwayTakesItsRequestAlong)
{
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "streaming" : "waiting for the answer");
        auto panel = makePanel();
        if (answered)
            server->enqueue(
                Response::ok().write(FakeAIServer::ollamaLines({"eins"}, false)).stall());
        else
            server->enqueue(Response::silence());
        use(AIProviderType::ollama);
        typeAndSend(*panel, QStringLiteral("Hallo"));
        if (answered)
            ASSERT_TRUE(testsupport::waitUntil([&] { return contentOf(*panel, 1) == "eins"; }));
        else
            ASSERT_TRUE(server->waitForRequests(2));
        panel.reset();
        EXPECT_TRUE(server->waitForClientClose(answered ? 1 : 2));
        server->resumeStalled();
    }
}

TEST_F(ChatTest, failuresShowInTheReplyInGerman)
{
    use(AIProviderType::claude);
    auto panel = makePanel();

    // An error event inside an accepted stream ends the answer with the error chunk.
    server->enqueue(Response::ok()
                        .write(FakeAIServer::anthropicEvents({"Anfang"}, false))
                        .write("event: error\ndata: {\"type\":\"error\",\"error\":"
                               "{\"type\":\"overloaded_error\",\"message\":\"Overloaded\"}}\n\n")
                        .stall());
    typeAndSend(*panel, QStringLiteral("Eins"));
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(contentOf(*panel, 1), QStringLiteral("Anfang\n[Fehler: Overloaded]"));

    // A provider that hangs up without a word gets the request once.
    FakeAIServer hangingUp;
    hangingUp.setFallback(Response::hangUp());
    use(AIProviderType::claude, QStringLiteral("key"), hangingUp.baseUrl());
    typeAndSend(*panel, QStringLiteral("Zwei"));
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(contentOf(*panel, 3), errorText("ai.error.connectionLost"));
    EXPECT_EQ(hangingUp.requests().size(), 1);
    EXPECT_FALSE(panel->applyBar()) << "an error is no reply to apply";

    // A key with a line break never leaves; nothing refused the connection either.
    use(AIProviderType::openai, QStringLiteral("sk-1\r\nX-Injected: ja"));
    typeAndSend(*panel, QStringLiteral("Drei"));
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(contentOf(*panel, 5), errorText("ai.error.invalidKey"));
    use(AIProviderType::openai, QStringLiteral("key"), FakeAIServer::refusedBaseUrl());
    typeAndSend(*panel, QStringLiteral("Vier"));
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(contentOf(*panel, 7), errorText("ai.error.connectionRefused"));
    EXPECT_EQ(server->requests().size(), 1);
}

} // namespace
