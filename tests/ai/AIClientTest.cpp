#include "core/ai/AIClient.h"
#include "AITestPrinters.h"
#include "core/ai/AISettings.h"
#include "core/ai/RefusalBody.h"

#include "fakes/ai/FakeAIServer.h"
#include "platform/Defaults.h"
#include "platform/L10n.h"
#include "support/Ports.h"
#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Response = FakeAIServer::Response;

namespace {

// What one call produced, filled in by a coroutine while the test waits with a deadline.
struct Outcome
{
    bool finished = false;
    std::optional<AIError> error;
    QList<AIStreamChunk> chunks;
    QPointer<AIReplyStream> stream;
    std::unique_ptr<AIReplyStream> owned;

    QString text() const
    {
        QString all;
        for (const auto &c : chunks)
            all += c.text;
        return all;
    }
};

QCoro::Task<> consume(AIClient &client, QList<ChatMessage> messages,
                      std::optional<QString> systemPrompt, std::shared_ptr<Outcome> outcome)
{
    AIStreamResult result = co_await client.stream(std::move(messages), std::move(systemPrompt));
    if (!result.accepted()) {
        outcome->error = result.error;
        outcome->finished = true;
        co_return;
    }
    outcome->owned = std::move(result.stream);
    outcome->stream = outcome->owned.get();
    QCORO_FOREACH(const AIStreamChunk &chunk, outcome->stream->chunks())
    {
        outcome->chunks.append(chunk);
    }
    outcome->finished = true;
}

QList<ChatMessage> question()
{
    return {ChatMessage(ChatMessage::Role::user, "Wie geht's?")};
}

QList<AIStreamChunk> chunks(std::initializer_list<std::pair<const char *, bool>> list)
{
    QList<AIStreamChunk> out;
    for (const auto &[text, done] : list)
        out.append(AIStreamChunk {QString::fromUtf8(text), done});
    return out;
}

class AIClientTest : public ::testing::Test
{
protected:
    AIClientTest()
        : defaults(dir.filePath("defaults.json"))
        , settings(defaults)
    {
        network.setProxy(QNetworkProxy::NoProxy);
    }

    void use(AIProviderType provider, const QString &key = {}, const QString &endpoint = {})
    {
        settings.setProvider(provider);
        settings.setApiKey(key);
        settings.setEndpoint(endpoint.isNull() ? server.baseUrl() : endpoint);
    }

    std::shared_ptr<Outcome> run(AIClient &client, std::optional<QString> systemPrompt = {})
    {
        auto outcome = std::make_shared<Outcome>();
        consume(client, question(), std::move(systemPrompt), outcome);
        return outcome;
    }

    std::shared_ptr<Outcome> runToEnd(std::chrono::milliseconds timeout = AIClient::defaultTimeout,
                                      std::optional<QString> systemPrompt = {})
    {
        AIClient client(settings, &network, timeout);
        auto outcome = run(client, std::move(systemPrompt));
        EXPECT_TRUE(testsupport::waitUntil([&] { return outcome->finished; }));
        return outcome;
    }

    QTemporaryDir dir;
    Defaults defaults;
    AISettings settings;
    QNetworkAccessManager network;
    FakeAIServer server;
};

} // namespace

TEST_F(AIClientTest, anthropicInOddFragments)
{
    use(AIProviderType::claude);
    const QByteArray body = FakeAIServer::anthropicEvents({"Grüße ", "👋 aus", " Köln"});
    // Cut inside the first "data: " and inside the multi-byte characters.
    const int inData = int(body.indexOf("data: ")) + 3;
    const int inUmlaut = int(body.indexOf("Grü")) + 3;
    const int inEmoji = int(body.indexOf("\xF0\x9F\x91\x8B")) + 2;
    server.enqueue(Response::ok().gap(2ms).writeSplitAt(body, {inData, inUmlaut, inEmoji}));

    const auto outcome = runToEnd(AIClient::defaultTimeout, QString("Sei knapp."));
    ASSERT_FALSE(outcome->error) << outcome->error->description.toStdString();
    EXPECT_EQ(outcome->chunks,
              chunks({{"Grüße ", false}, {"👋 aus", false}, {" Köln", false}, {"", true}}));

    ASSERT_EQ(server.requests().size(), 1);
    const FakeAIServer::Request &request = server.requests().first();
    EXPECT_EQ(request.method, QByteArray("POST"));
    EXPECT_EQ(request.target, QByteArray("/v1/messages"));
    EXPECT_TRUE(request.hasHeader("x-api-key"));
    EXPECT_EQ(request.header("x-api-key"), QByteArray());
    EXPECT_EQ(request.header("anthropic-version"), QByteArray("2023-06-01"));
    EXPECT_EQ(request.header("content-type"), QByteArray("application/json"));
    EXPECT_EQ(request.json().value("model").toString(), QStringLiteral("claude-sonnet-4-20250514"));
    EXPECT_EQ(request.json().value("system").toString(), QStringLiteral("Sei knapp."));
}

TEST_F(AIClientTest, aBodyThatEndsBeforeItsEndMarkerIsACutAnswer)
{
    // Each dialect's reply without its end marker, ended as a complete body (Content-Length):
    // what Qt also reports for some connections that drop mid-reply.
    const QString lost = "\n[Fehler: " + L10n::text("ai.error.connectionLost") + "]";
    const QList<std::pair<AIProviderType, QByteArray>> cases = {
        {AIProviderType::claude, FakeAIServer::anthropicEvents({"Hal", "lo"}, false)},
        {AIProviderType::openai, FakeAIServer::openAIEvents({"Hal", "lo"}, false)},
        {AIProviderType::veltoKI, FakeAIServer::openAIEvents({"Hal", "lo"}, false)},
        {AIProviderType::ollama, FakeAIServer::ollamaLines({"Hal", "lo"}, false)},
        {AIProviderType::openai, QByteArray()},
    };
    for (const auto &[provider, body] : cases) {
        use(provider, "key");
        server.enqueue(Response::ok()
                           .framing(Response::Framing::contentLength)
                           .gap(1ms)
                           .writeInPieces(body, 40));
        const auto outcome = runToEnd();
        ASSERT_FALSE(outcome->error);
        ASSERT_GE(outcome->chunks.size(), 2) << AIProviderTypes::toString(provider).toStdString();
        EXPECT_EQ(outcome->text(), (body.isEmpty() ? QString() : QStringLiteral("Hallo")) + lost);
        EXPECT_EQ(outcome->chunks.at(outcome->chunks.size() - 2),
                  (AIStreamChunk {lost, true, true}));
        EXPECT_EQ(outcome->chunks.last(), (AIStreamChunk {"", true}));
    }
}

TEST_F(AIClientTest, openAIEndsAtDoneMarkerAndLetsTheConnectionGo)
{
    use(AIProviderType::openai, "sk-test");
    settings.setModel("gpt-test");
    // After [DONE] the server would keep the response open; the client must not wait for it.
    server.enqueue(
        Response::ok().writeInPieces(FakeAIServer::openAIEvents({"Hal", "lo"}), 5).stall());

    const auto outcome = runToEnd();
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->chunks, chunks({{"", false}, {"Hal", false}, {"lo", false}, {"", true}}));
    const FakeAIServer::Request &request = server.requests().first();
    EXPECT_EQ(request.target, QByteArray("/v1/chat/completions"));
    EXPECT_EQ(request.header("authorization"), QByteArray("Bearer sk-test"));
    EXPECT_FALSE(request.hasHeader("x-api-key"));
    EXPECT_EQ(request.json().value("model").toString(), QStringLiteral("gpt-test"));
    EXPECT_TRUE(server.waitForClientClose(1));
}

TEST_F(AIClientTest, ollamaDoneLineThenFinalChunk)
{
    use(AIProviderType::ollama, QString(), server.baseUrl() + "/");
    server.enqueue(Response::ok("application/x-ndjson")
                       .framing(Response::Framing::contentLength)
                       .write(FakeAIServer::ollamaLines({"Ja", "."})));

    const auto outcome = runToEnd();
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->chunks, chunks({{"Ja", false}, {".", false}, {"", true}, {"", true}}));
    EXPECT_EQ(server.requests().first().target, QByteArray("/api/chat"));
    EXPECT_EQ(server.requests().first().json().value("model").toString(),
              QStringLiteral("llama3.2"));
    EXPECT_FALSE(server.requests().first().hasHeader("authorization"));
}

TEST_F(AIClientTest, ownServiceGetsNoKeyAndRefusesAsOpenAI)
{
    use(AIProviderType::veltoKI, "sk-for-someone-else");
    server.enqueue(Response::status(503, "busy"));

    const auto outcome = runToEnd(AIClient::defaultTimeout, QString());
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("AIClient"));
    EXPECT_EQ(outcome->error->code, 503);
    EXPECT_EQ(outcome->error->description, QStringLiteral("OpenAI 503: busy"));
    EXPECT_TRUE(outcome->chunks.isEmpty());

    const FakeAIServer::Request &request = server.requests().first();
    EXPECT_EQ(request.target, QByteArray("/v1/chat/completions"));
    EXPECT_FALSE(request.hasHeader("authorization"));
    EXPECT_EQ(request.json().value("model").toString(), QStringLiteral("velto-default"));
    // A present but empty system prompt still leads the messages.
    const QJsonArray messages = request.json().value("messages").toArray();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages.at(0).toObject().value("role").toString(), QStringLiteral("system"));
}

TEST_F(AIClientTest, refusalsCarryStatusAndCollectedBody)
{
    const QString line2000(2000, u'x');
    struct Case
    {
        AIProviderType provider;
        Response response;
        int status;
        QString description;
    };
    const QList<Case> cases = {
        {AIProviderType::openai, Response::status(201, "created"), 201, "OpenAI 201: created"},
        {AIProviderType::openai, Response::status(400, "a\nb\r\nc\n"), 400, "OpenAI 400: abc"},
        {AIProviderType::openai, Response::status(500, line2000.toUtf8()), 500,
         "OpenAI 500: " + line2000},
        {AIProviderType::claude,
         Response::status(401, R"({"type":"error","error":{"message":"invalid x-api-key"}})")
             .header("WWW-Authenticate", "Bearer"),
         401, R"(Claude API 401: {"type":"error","error":{"message":"invalid x-api-key"}})"},
        {AIProviderType::ollama, Response::status(404, "model not found", "text/plain"), 404,
         "Ollama 404: model not found"},
        {AIProviderType::openai, Response::status(429), 429, "OpenAI 429: "},
    };
    for (const Case &c : cases) {
        use(c.provider, "key");
        server.enqueue(c.response);
        const auto outcome = runToEnd();
        ASSERT_TRUE(outcome->error) << c.status;
        EXPECT_EQ(outcome->error->domain, QStringLiteral("AIClient"));
        EXPECT_EQ(outcome->error->code, c.status);
        EXPECT_EQ(outcome->error->description, c.description);
        EXPECT_TRUE(outcome->chunks.isEmpty());
    }
}

TEST_F(AIClientTest, longRefusalBodyIsReadOnlyUntilFiveHundredCharacters)
{
    use(AIProviderType::openai, "key");
    // An endless error body of 7-character lines (with one combining mark each): the client
    // stops after passing 500 characters and lets the connection go, however the lines happen
    // to be batched by the network. The lines come a millisecond apart: a flood without pause
    // starves Qt's delivery of read data to the GUI thread, which skips a delivery whenever a
    // newer one is already queued.
    server.enqueue(Response::status(500)
                       .framing(Response::Framing::chunked)
                       .gap(1ms)
                       .repeat(QStringLiteral("abcde\u0301\n").toUtf8(), -1));

    const auto outcome = runToEnd();
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code, 500);
    const QString prefix = QStringLiteral("OpenAI 500: ");
    ASSERT_TRUE(outcome->error->description.startsWith(prefix));
    const QString text = outcome->error->description.mid(prefix.size());
    // 101 lines of five characters each make the first text above 500.
    EXPECT_EQ(text, QStringLiteral("abcde\u0301").repeated(101));
    EXPECT_TRUE(server.waitForClientClose(1));
}

TEST_F(AIClientTest, hostileRefusalBodyIsReadOnlyUpToItsCap)
{
    use(AIProviderType::openai, "key");
    // Megabytes of one-mark lines (all of it one character, so the limit is never passed:
    // counting characters after every line took minutes), and one endless line. Only 64 KiB are
    // read; the last line stops before the character the cap cut in two.
    const QByteArray markLine = QStringLiteral("\u0301\n").toUtf8();
    const QByteArray euro = QStringLiteral("€").toUtf8();
    const QList<std::pair<QByteArray, QString>> cases = {
        {markLine.repeated(2 * 1024 * 1024),
         QString(RefusalBody::maxBytes / markLine.size(), QChar(0x0301))},
        {euro.repeated(1024 * 1024), QStringLiteral("€").repeated(RefusalBody::maxBytes / 3)},
    };
    for (const auto &[body, text] : cases) {
        server.enqueue(Response::status(500).write(body));
        const auto outcome = runToEnd();
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->code, 500);
        EXPECT_EQ(outcome->error->description, "OpenAI 500: " + text);
    }
}

TEST_F(AIClientTest, failureWhileReadingARefusalIsTheError)
{
    use(AIProviderType::openai, "key");
    server.enqueue(Response::status(500)
                       .framing(Response::Framing::chunked)
                       .gap(20ms)
                       .write("{\"error\":")
                       .drop());

    const auto outcome = runToEnd();
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("QNetworkReply"));
    EXPECT_EQ(outcome->error->code, QNetworkReply::RemoteHostClosedError);
}

TEST_F(AIClientTest, droppedConnectionEndsWithErrorChunkThenFinalChunk)
{
    use(AIProviderType::claude, "key");
    // Paced so the close does not arrive together with the last data: Qt 6.4 then sometimes
    // finishes the reply as if the body were complete, which no client of it can tell apart.
    server.enqueue(Response::ok()
                       .gap(20ms)
                       .write(FakeAIServer::anthropicEvents({"Teil 1", "Teil 2"}, false))
                       .write("data: {\"type\":\"content_block_del")
                       .drop());

    const auto outcome = runToEnd();
    ASSERT_FALSE(outcome->error);
    ASSERT_EQ(outcome->chunks.size(), 4) << ::testing::PrintToString(outcome->chunks);
    EXPECT_EQ(outcome->chunks.at(0), (AIStreamChunk {"Teil 1", false}));
    EXPECT_EQ(outcome->chunks.at(1), (AIStreamChunk {"Teil 2", false}));
    EXPECT_TRUE(outcome->chunks.at(2).text.startsWith("\n[Fehler: "));
    EXPECT_TRUE(outcome->chunks.at(2).text.endsWith("]"));
    EXPECT_TRUE(outcome->chunks.at(2).done && outcome->chunks.at(2).failed);
    EXPECT_EQ(outcome->chunks.at(3), (AIStreamChunk {"", true}));
}

TEST_F(AIClientTest, stallPastTheIdleTimeoutEndsWithTimeoutChunk)
{
    use(AIProviderType::ollama);
    server.enqueue(Response::ok().write(FakeAIServer::ollamaLines({"Denk"}, false)).stall());

    const auto outcome = runToEnd(300ms);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(
        outcome->chunks,
        (QList<AIStreamChunk> {{"Denk", false},
                               {"\n[Fehler: " + L10n::text("ai.error.timeout") + "]", true, true},
                               {"", true}}));
}

TEST_F(AIClientTest, silentServerTimesOutBeforeTheHead)
{
    use(AIProviderType::openai, "key");
    server.enqueue(Response::silence());

    const auto outcome = runToEnd(300ms);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("QNetworkReply"));
    EXPECT_EQ(outcome->error->code, QNetworkReply::TimeoutError);
    EXPECT_EQ(outcome->error->description, L10n::text("ai.error.timeout"));
}

TEST_F(AIClientTest, unreachableOrInvalidEndpointsFailBeforeAnyChunk)
{
    use(AIProviderType::openai, "key", FakeAIServer::refusedBaseUrl());
    auto outcome = runToEnd();
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("QNetworkReply"));
    EXPECT_EQ(outcome->error->code, QNetworkReply::ConnectionRefusedError);
    EXPECT_EQ(outcome->error->description, L10n::text("ai.error.connectionRefused"));
    EXPECT_TRUE(outcome->chunks.isEmpty());

    // TLS spoken to a server that answers in plain text.
    QTcpServer plain;
    QObject::connect(&plain, &QTcpServer::newConnection, &plain, [&plain] {
        QTcpSocket *socket = plain.nextPendingConnection();
        socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
        socket->disconnectFromHost();
    });
    const quint16 port = testsupport::listenOnFreePort(
        [&plain](quint16 p) { return plain.listen(QHostAddress::LocalHost, p); });
    use(AIProviderType::openai, "key", "https://127.0.0.1:" + QString::number(port));
    outcome = runToEnd();
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->description, L10n::text("ai.error.tls"));

    for (const QString endpoint : {" ", "localhost:11434", "ftp://127.0.0.1/"}) {
        use(AIProviderType::claude, "key", endpoint);
        outcome = runToEnd();
        ASSERT_TRUE(outcome->error) << endpoint.toStdString();
        EXPECT_NE(outcome->error->domain, QStringLiteral("AIClient"));
        EXPECT_TRUE(outcome->error->description.contains(endpoint));
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(AIClientTest, aServerThatClosesWithoutAnswerGetsTheRequestOnce)
{
    // Qt sends a request again when its connection closes before any answer; a generation is
    // paid for, so the client never lets it.
    for (const AIProviderType provider :
         {AIProviderType::claude, AIProviderType::openai, AIProviderType::ollama}) {
        FakeAIServer hangingUp;
        hangingUp.setFallback(Response::hangUp());
        use(provider, "key", hangingUp.baseUrl());
        const auto outcome = runToEnd();
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->description, L10n::text("ai.error.connectionLost"));
        EXPECT_EQ(hangingUp.requests().size(), 1)
            << AIProviderTypes::toString(provider).toStdString();
    }

    // A redirect on the same origin is the server's own request to send the body again.
    use(AIProviderType::openai, "key");
    server.enqueue(Response::redirect(307, (server.baseUrl() + "/v2/chat").toUtf8()));
    server.enqueue(Response::ok().write(FakeAIServer::openAIEvents({"ok"})));
    const auto outcome = runToEnd();
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->text(), QStringLiteral("ok"));
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests().at(1).body, server.requests().at(0).body);
}

TEST_F(AIClientTest, aKeyWithControlCharactersNeverLeaves)
{
    const QList<std::pair<AIProviderType, QString>> keys = {
        {AIProviderType::claude, "abc\r\nX-Injected: yes"},
        {AIProviderType::openai, "sk-test\r\n"},
        {AIProviderType::openai, QStringLiteral("sk") + QChar(0) + QStringLiteral("x")},
    };
    for (const auto &[provider, key] : keys) {
        use(provider, key);
        const auto outcome = runToEnd();
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->description, L10n::text("ai.error.invalidKey"));
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(AIClientTest, providerErrorInsideTheStreamEndsTheAnswerVisibly)
{
    use(AIProviderType::claude, "key");
    const QByteArray error =
        R"(event: error
data: {"type":"error","error":{"type":"overloaded_error","message":"Overloaded"}}

)";
    server.enqueue(Response::ok()
                       .write(FakeAIServer::anthropicEvents({"Anfang"}, false))
                       .write(error)
                       .stall());

    const auto outcome = runToEnd();
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->chunks,
              (QList<AIStreamChunk> {
                  {"Anfang", false}, {"\n[Fehler: Overloaded]", true, true}, {"", true}}));
    EXPECT_TRUE(server.waitForClientClose(1));
}

TEST_F(AIClientTest, keyNeverFollowsARedirectToAnotherOrigin)
{
    FakeAIServer other;
    other.enqueue(Response::ok().write(FakeAIServer::anthropicEvents({"gestohlen"})));
    use(AIProviderType::claude, "sk-secret");
    server.enqueue(Response::redirect(307, (other.baseUrl() + "/v1/messages").toUtf8()));

    const auto outcome = runToEnd();
    ASSERT_TRUE(outcome->error);
    EXPECT_NE(outcome->error->domain, QStringLiteral("AIClient"));
    EXPECT_EQ(outcome->error->code, QNetworkReply::InsecureRedirectError);
    EXPECT_TRUE(other.requests().isEmpty());
}

TEST_F(AIClientTest, abortingOrDroppingTheStreamStopsTheRequest)
{
    use(AIProviderType::openai, "key");
    AIClient client(settings, &network);

    // abort(): nothing more arrives, no error chunk, the connection is closed.
    server.enqueue(Response::ok()
                       .write(FakeAIServer::openAIEvents({"eins"}, false))
                       .stall()
                       .write(FakeAIServer::openAIEvents({"zwei"})));
    auto first = run(client);
    ASSERT_TRUE(testsupport::waitUntil([&] { return first->chunks.size() >= 2; }));
    first->stream->abort();
    ASSERT_TRUE(testsupport::waitUntil([&] { return first->finished; }));
    EXPECT_EQ(first->chunks, chunks({{"", false}, {"eins", false}}));
    EXPECT_TRUE(server.waitForClientClose(1));
    server.resumeStalled();

    // Destroying the stream while its consumer waits ends the consumer and the request.
    server.enqueue(Response::ok().write(FakeAIServer::openAIEvents({"drei"}, false)).stall());
    auto second = run(client);
    ASSERT_TRUE(testsupport::waitUntil([&] { return second->chunks.size() >= 2; }));
    second->owned.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return second->finished; }));
    EXPECT_TRUE(server.waitForClientClose(2));
}

TEST_F(AIClientTest, destroyingTheClientAbortsARequestWaitingForItsHead)
{
    use(AIProviderType::openai, "key");
    server.enqueue(Response::silence());
    auto client = std::make_unique<AIClient>(settings, &network);
    auto outcome = run(*client);
    ASSERT_TRUE(server.waitForRequests(1));
    client.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return outcome->finished; }));
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code, QNetworkReply::OperationCanceledError);
    EXPECT_TRUE(server.waitForClientClose(1));
}

TEST_F(AIClientTest, concurrentCallsStayApart)
{
    FakeAIServer other;
    use(AIProviderType::ollama);
    server.enqueue(
        Response::ok().gap(1ms).writeInPieces(FakeAIServer::ollamaLines({"a", "b", "c"}), 9));
    AIClient client(settings, &network);
    auto first = run(client);
    settings.setEndpoint(other.baseUrl());
    other.enqueue(Response::ok().gap(1ms).writeInPieces(FakeAIServer::ollamaLines({"x", "y"}), 7));
    auto second = run(client);
    ASSERT_TRUE(testsupport::waitUntil([&] { return first->finished && second->finished; }));
    EXPECT_EQ(first->text(), QStringLiteral("abc"));
    EXPECT_EQ(second->text(), QStringLiteral("xy"));
}
