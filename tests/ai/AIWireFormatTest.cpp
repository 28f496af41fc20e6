#include "AITestPrinters.h"
#include "core/ai/AIHttpExchange.h"
#include "core/ai/AILineParser.h"
#include "core/ai/AIRequestBuilder.h"
#include "core/ai/LineSplitter.h"
#include "core/ai/RefusalBody.h"
#include "platform/Graphemes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

using Role = ChatMessage::Role;

QList<ChatMessage> conversation()
{
    return {ChatMessage(Role::system, "sys"), ChatMessage(Role::user, "Hallo"),
            ChatMessage(Role::assistant, "Hi"), ChatMessage(Role::user, "Und?")};
}

QJsonObject bodyOf(const AIRequest &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

QStringList roles(const QJsonObject &body)
{
    QStringList out;
    for (const QJsonValue &m : body.value("messages").toArray())
        out << m.toObject().value("role").toString();
    return out;
}

} // namespace

TEST(AIRequestBuilder, urlsFollowTheSlashRules)
{
    struct Case
    {
        const char *endpoint;
        bool anthropic;
        bool ollama;
        const char *url; // nullptr: no request can be made
    };
    const Case cases[] = {
        {"https://api.anthropic.com", true, false, "https://api.anthropic.com/v1/messages"},
        {"https://api.anthropic.com/", true, false, "https://api.anthropic.com//v1/messages"},
        {"https://api.openai.com/", false, false, "https://api.openai.com/v1/chat/completions"},
        {"https://api.openai.com//", false, false, "https://api.openai.com//v1/chat/completions"},
        {"http://localhost:11434/", false, true, "http://localhost:11434/api/chat"},
        {"http://127.0.0.1:8080/proxy", false, false,
         "http://127.0.0.1:8080/proxy/v1/chat/completions"},
        {" ", false, false, nullptr},
        {"", true, false, nullptr},
        {"api.openai.com", false, false, nullptr},
        {"ftp://example.org", false, false, nullptr},
        {"file:///tmp/x", true, false, nullptr},
        {"https://", true, false, nullptr},
        // One slash goes, which leaves a host named "api".
        {"https://", false, true, "https://api/chat"},
    };
    for (const Case &c : cases) {
        const auto request = c.anthropic
            ? AIRequestBuilder::anthropic({}, std::nullopt, "k", "m", c.endpoint)
            : AIRequestBuilder::openAICompatible({}, std::nullopt, "k", "m", c.endpoint, c.ollama);
        if (!c.url) {
            EXPECT_FALSE(request.has_value()) << c.endpoint;
            continue;
        }
        ASSERT_TRUE(request.has_value()) << c.endpoint;
        EXPECT_EQ(request->url.toString(), QString::fromUtf8(c.url)) << c.endpoint;
    }
}

TEST(AIRequestBuilder, anthropicHeadersAndBody)
{
    const auto withPrompt = AIRequestBuilder::anthropic(conversation(), QString(""), QString(),
                                                        "claude-x", "https://a.example");
    ASSERT_TRUE(withPrompt);
    EXPECT_TRUE(withPrompt->hasHeader("x-api-key"));
    EXPECT_EQ(withPrompt->header("x-api-key"), QByteArray(""));
    EXPECT_FALSE(withPrompt->header("x-api-key").isNull());
    EXPECT_EQ(withPrompt->header("anthropic-version"), QByteArray("2023-06-01"));
    EXPECT_EQ(withPrompt->header("Content-Type"), QByteArray("application/json"));
    EXPECT_FALSE(withPrompt->hasHeader("Authorization"));
    // Compact JSON.
    EXPECT_FALSE(withPrompt->body.contains('\n'));

    const QJsonObject body = bodyOf(*withPrompt);
    EXPECT_EQ(body.value("model").toString(), QStringLiteral("claude-x"));
    EXPECT_EQ(body.value("max_tokens").toInt(), 4096);
    EXPECT_EQ(body.value("stream"), QJsonValue(true));
    EXPECT_TRUE(body.contains("system"));
    EXPECT_EQ(body.value("system").toString(), QString());
    EXPECT_EQ(roles(body), (QStringList {"user", "assistant", "user"}));
    EXPECT_EQ(body.value("messages").toArray().at(0).toObject().value("content").toString(),
              QStringLiteral("Hallo"));

    const auto withoutPrompt = AIRequestBuilder::anthropic(conversation(), std::nullopt, "sk-a",
                                                           "m", "https://a.example");
    ASSERT_TRUE(withoutPrompt);
    EXPECT_FALSE(bodyOf(*withoutPrompt).contains("system"));
    EXPECT_EQ(withoutPrompt->header("x-api-key"), QByteArray("sk-a"));
}

TEST(AIRequestBuilder, openAIAndOllamaHeadersAndBody)
{
    for (bool ollama : {false, true}) {
        const auto keyed = AIRequestBuilder::openAICompatible(conversation(), QString(""), "sk-o",
                                                              "gpt-x", "https://o.example", ollama);
        ASSERT_TRUE(keyed);
        EXPECT_EQ(keyed->header("Authorization"), QByteArray("Bearer sk-o"));
        EXPECT_FALSE(keyed->hasHeader("x-api-key"));
        EXPECT_FALSE(keyed->hasHeader("anthropic-version"));
        const QJsonObject body = bodyOf(*keyed);
        EXPECT_EQ(body.value("model").toString(), QStringLiteral("gpt-x"));
        EXPECT_EQ(body.value("stream"), QJsonValue(true));
        EXPECT_FALSE(body.contains("max_tokens"));
        EXPECT_FALSE(body.contains("system"));
        // The prompt leads, even when empty; system-role messages are sent like the others.
        EXPECT_EQ(roles(body), (QStringList {"system", "system", "user", "assistant", "user"}));
        EXPECT_EQ(body.value("messages").toArray().at(0).toObject().value("content").toString(),
                  QString());

        const auto keyless = AIRequestBuilder::openAICompatible(conversation(), std::nullopt, "",
                                                                "m", "https://o.example", ollama);
        ASSERT_TRUE(keyless);
        EXPECT_FALSE(keyless->hasHeader("Authorization"));
        EXPECT_EQ(roles(bodyOf(*keyless)), (QStringList {"system", "user", "assistant", "user"}));
    }
}

namespace {

struct LineCase
{
    AILineParser::Dialect dialect;
    QString line;
    std::optional<AIStreamChunk> chunk;
    bool ends;
    std::optional<QString> error;
};

} // namespace

TEST(AILineParser, dialectRules)
{
    using D = AILineParser::Dialect;
    const auto none = std::optional<AIStreamChunk>();
    const auto text = [](const QString &t, bool done = false) {
        return std::optional<AIStreamChunk>(AIStreamChunk {t, done});
    };
    const QList<LineCase> cases = {
        // Anthropic
        {D::anthropic,
         R"(data: {"type":"content_block_delta","delta":{"text":"Hé"}})",
         text("Hé"),
         false,
         {}},
        {D::anthropic,
         R"(data:{"type":"content_block_delta","delta":{"text":"x"}})",
         none,
         false,
         {}},
        {D::anthropic, "data:[DONE]", none, false, {}},
        {D::anthropic, "data: [DONE]", none, true, {}},
        {D::anthropic, "data: [DONE] ", none, false, {}},
        {D::anthropic, R"(data: {"type":"message_stop"})", none, true, {}},
        {D::anthropic, "event: message_stop", none, false, {}},
        {D::anthropic, ": comment", none, false, {}},
        {D::anthropic, "", none, false, {}},
        {D::anthropic, "data: {not json", none, false, {}},
        {D::anthropic, "data: [1,2]", none, false, {}},
        {D::anthropic,
         R"(data: {"type":"content_block_delta","delta":{"text":5}})",
         none,
         false,
         {}},
        {D::anthropic, R"(data: {"type":"content_block_delta","delta":"x"})", none, false, {}},
        {D::anthropic, R"(data: {"type":5,"delta":{"text":"x"}})", none, false, {}},
        {D::anthropic,
         R"(data: {"type":"message_delta","delta":{"stop_reason":"max_tokens"}})",
         none,
         false,
         {}},
        {D::anthropic,
         R"(data: {"type":"error","error":{"type":"overloaded_error","message":"Overloaded"}})",
         none, false, QString("Overloaded")},
        {D::anthropic, R"(data: {"type":"error","error":"kaputt"})", none, false,
         QString(R"({"type":"error","error":"kaputt"})")},
        // OpenAI
        {D::openAI,
         R"(data: {"choices":[{"delta":{"role":"assistant","content":""}}]})",
         text(""),
         false,
         {}},
        {D::openAI,
         R"(data: {"choices":[{"delta":{"content":"a"},"finish_reason":"stop"}]})",
         text("a"),
         false,
         {}},
        {D::openAI, R"(data: {"choices":[{"delta":{"content":null}}]})", none, false, {}},
        {D::openAI, R"(data: {"choices":[{"delta":{}}]})", none, false, {}},
        {D::openAI, R"(data: {"choices":[]})", none, false, {}},
        {D::openAI, R"(data: {"choices":[1,{"delta":{"content":"a"}}]})", none, false, {}},
        {D::openAI, R"(data: {"choices":{"delta":{"content":"a"}}})", none, false, {}},
        {D::openAI, "data: [DONE]", none, true, {}},
        {D::openAI, R"(data: {"error":{"message":"Rate limit","type":"rate_limit"}})", none, false,
         QString("Rate limit")},
        {D::openAI, R"(data: {"error":{"code":500}})", none, false, {}},
        {D::openAI, R"(data: {"error":"text"})", none, false, {}},
        // Ollama
        {D::ollama,
         R"({"message":{"role":"assistant","content":"Hi"},"done":false})",
         text("Hi"),
         false,
         {}},
        {D::ollama, R"({"message":{"content":""},"done":true})", text("", true), true, {}},
        {D::ollama, R"({"message":{"content":"x"},"done":1})", text("x"), false, {}},
        {D::ollama, R"({"message":{"content":"x"}})", text("x"), false, {}},
        {D::ollama, R"({"done":true})", none, false, {}},
        {D::ollama, R"(data: {"message":{"content":"x"}})", none, false, {}},
        {D::ollama, "[DONE]", none, false, {}},
        {D::ollama, R"({"error":"model 'x' not found"})", none, false,
         QString("model 'x' not found")},
        {D::ollama, R"({"error":{"message":"x"}})", none, false, {}},
    };
    for (const LineCase &c : cases) {
        const AILineResult r = AILineParser::parse(c.dialect, c.line);
        const std::string what = c.line.toStdString();
        EXPECT_EQ(r.chunk.has_value(), c.chunk.has_value()) << what;
        if (r.chunk && c.chunk) {
            EXPECT_EQ(r.chunk->text, c.chunk->text) << what;
            EXPECT_EQ(r.chunk->done, c.chunk->done) << what;
        }
        EXPECT_EQ(r.endsReply, c.ends) << what;
        EXPECT_EQ(r.errorMessage, c.error) << what;
    }
}

TEST(LineSplitter, lineEndsAndSplitCharacters)
{
    struct Case
    {
        QList<QByteArray> feeds;
        QList<QByteArray> lines; // including those of finish()
    };
    const QByteArray euro = "\xE2\x82\xAC"; // € in UTF-8
    const QList<Case> cases = {
        {{"a\nb\n"}, {"a", "b"}},
        {{"a\r\nb\r\n"}, {"a", "b"}},
        {{"a\rb\r"}, {"a", "b"}},
        {{"a\r", "\nb"}, {"a", "b"}},
        {{"a\r", "b"}, {"a", "b"}},
        {{"a\n\n\nb"}, {"a", "", "", "b"}},
        {{"da", "ta: x", "\n"}, {"data: x"}},
        {{"x" + euro.left(1), euro.mid(1, 1), euro.mid(2) + "y\n"}, {"x" + euro + "y"}},
        {{"tail without end"}, {"tail without end"}},
        {{"\xE2\x80\xA8 stays\n"}, {"\xE2\x80\xA8 stays"}},
        {{""}, {}},
    };
    for (const Case &c : cases) {
        LineSplitter splitter;
        QList<QByteArray> got;
        for (const QByteArray &feed : c.feeds)
            got += splitter.feed(feed);
        got += splitter.finish();
        EXPECT_EQ(got, c.lines) << c.feeds.join('|').toStdString();
    }
    // Decoding a completed line keeps a character that arrived in three reads.
    LineSplitter splitter;
    splitter.feed("x" + euro.left(2));
    const QList<QByteArray> lines = splitter.feed(euro.mid(2) + "\n");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(QString::fromUtf8(lines.first()), QStringLiteral("x€"));
}

TEST(LineSplitter, endlessLineOverflows)
{
    LineSplitter splitter(16);
    EXPECT_TRUE(splitter.feed("0123456789").isEmpty());
    EXPECT_FALSE(splitter.overflowed());
    EXPECT_TRUE(splitter.feed("0123456789").isEmpty());
    EXPECT_TRUE(splitter.overflowed());
    EXPECT_TRUE(splitter.feed("\n").isEmpty());
    EXPECT_TRUE(splitter.finish().isEmpty());

    // A long line that does end is delivered whole.
    LineSplitter roomy(16);
    EXPECT_EQ(roomy.feed("0123456789\n0123").size(), 1);
    EXPECT_FALSE(roomy.overflowed());
}

TEST(AIHttpExchange, refusalAndErrorTexts)
{
    EXPECT_EQ(AIHttpExchange::refusalDescription("OpenAI", 201, "created"),
              QStringLiteral("OpenAI 201: created"));
    EXPECT_EQ(AIHttpExchange::refusalDescription("Claude API", 401, ""),
              QStringLiteral("Claude API 401: "));
    EXPECT_EQ(AIHttpExchange::errorChunkText("weg"), QStringLiteral("\n[Fehler: weg]"));
}

TEST(RefusalBody, cutsWhereCountingAfterEveryLineWould)
{
    // The text through the first line whose end brings it above 500 characters, as counted
    // after every line; the body arrives in pieces of several sizes.
    auto reference = [](const QByteArray &body) {
        LineSplitter splitter;
        QList<QByteArray> lines = splitter.feed(body);
        lines += splitter.finish();
        QString text;
        for (const QByteArray &line : lines) {
            text += QString::fromUtf8(line);
            if (graphemes::countClusters(text) > RefusalBody::limit)
                break;
        }
        return text;
    };
    const QList<QByteArray> bodies = {
        QByteArray("x").repeated(499) + "\nab\ncd\n",
        QByteArray("abcd\r\n").repeated(300),
        // Flags split over lines join into one character; so do marks that start a line.
        QStringLiteral("\U0001F1E9\n\U0001F1EA\u00E4\n").toUtf8().repeated(400),
        QStringLiteral("a\n\u0301\u0302\n").toUtf8().repeated(600),
        QStringLiteral("\U0001F469\u200D\n\U0001F4BB\r").toUtf8().repeated(700),
        QByteArray("short\nbody"),
    };
    for (const QByteArray &body : bodies) {
        for (const int piece : {1, 7, 512, 100000}) {
            RefusalBody refusal;
            bool decided = false;
            for (qsizetype i = 0; i < body.size() && !decided; i += piece)
                decided = refusal.append(body.mid(i, piece));
            if (!decided)
                refusal.finish();
            EXPECT_EQ(refusal.text(), reference(body)) << body.left(20).toStdString() << piece;
        }
    }
}
