#include "ApiTestSupport.h"

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace apitest;

namespace {

QByteArray postText(const QByteArray &target, const QByteArray &body, const QByteArray &extra = {})
{
    return "POST " + target + " HTTP/1.1\r\nHost: x\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n" + extra + "\r\n" + body;
}

class ApiFraming : public ApiFixture
{
};

class ApiSlowClients : public ApiFixture
{
protected:
    ApiLimits limits() const override
    {
        ApiLimits l;
        l.readTimeout = std::chrono::milliseconds(300);
        l.lingerTimeout = std::chrono::milliseconds(300);
        return l;
    }
};

} // namespace

TEST_F(ApiFraming, everyAnswerHasTheFixedStatusLineAndFourHeadersThenCloses)
{
    settings->setApiToken("tok");
    const RawResult raw = runRaw(port, {"GET /api/status HTTP/1.1\r\nHost: x\r\n\r\n"});
    EXPECT_EQ(raw.received,
              QByteArray("HTTP/1.1 401 OK\r\nContent-Type: application/json\r\n"
                         "Content-Length: 24\r\nAccess-Control-Allow-Origin: *\r\n"
                         "Connection: close\r\n\r\n{\"error\":\"unauthorized\"}"));
    EXPECT_TRUE(raw.endOfStream);
}

TEST_F(ApiFraming, contentLengthCountsUtf8Bytes)
{
    workspace->setText(QString::fromUtf8("ä€"));
    const Reply r = get("/api/document/content");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("Content-Length"), "5");
    EXPECT_EQ(r.header("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(QString::fromUtf8(r.body), QString::fromUtf8("ä€"));
}

TEST_F(ApiFraming, silentOrInvalidRequestsAreClosedWithoutAnswer)
{
    RawOptions halfClose;
    halfClose.halfClose = true;
    const RawResult empty = runRaw(port, {}, halfClose);
    EXPECT_TRUE(empty.connected);
    EXPECT_TRUE(empty.received.isEmpty());
    EXPECT_TRUE(empty.endOfStream || empty.reset);

    const RawResult invalid = runRaw(port,
                                     {"GET /api/st\xFF"
                                      "atus HTTP/1.1\r\n\r\n"});
    EXPECT_TRUE(invalid.received.isEmpty());
    EXPECT_FALSE(invalid.timedOut);
}

TEST_F(ApiFraming, malformedRequestLinesGetTheEndpointList)
{
    for (const QByteArray &text :
         {QByteArray("GET\r\n\r\n"), QByteArray("\r\n\r\n"), QByteArray("   \r\nHost: x\r\n\r\n"),
          QByteArray("NONSENSE-WITHOUT-SPACES\r\n\r\n")}) {
        const Reply r = parseReply(runRaw(port, {text}));
        EXPECT_EQ(r.status, 200) << text.constData();
        EXPECT_EQ(r.json().value("endpoints").toArray().size(), 21) << text.constData();
    }
}

TEST_F(ApiFraming, requestSplitAcrossManyWritesIsReadWhole)
{
    const QByteArray text = postText("/api/document/content", R"({"content": "split delivery"})");
    QList<QByteArray> chunks;
    for (qsizetype i = 0; i < text.size(); i += 7)
        chunks << text.mid(i, 7);
    RawOptions options;
    options.pauseMs = 3;
    const Reply r = parseReply(runRaw(port, chunks, options));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(workspace->text(), "split delivery");
}

TEST_F(ApiFraming, largeBodyArrivesComplete)
{
    const QString content(900 * 1000, u'x');
    const QByteArray body = QJsonDocument(QJsonObject {{"content", content}}).toJson();
    RawOptions options;
    options.pauseMs = 20; // head and body in separate segments
    const QByteArray text = postText("/api/document/content", body);
    const Reply r = parseReply(
        runRaw(port, {text.chopped(body.size()), body.left(4096), body.mid(4096)}, options));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.json().value("length").toInt(), 900 * 1000);
    EXPECT_EQ(workspace->text().size(), 900 * 1000);
}

TEST_F(ApiFraming, bodyWithoutUsableContentLengthIsWhatCameWithTheHead)
{
    for (const QByteArray &framing : {QByteArray(), QByteArray("Content-Length: many\r\n")}) {
        workspace->setText("before");
        const Reply r = parseReply(runRaw(port,
                                          {"POST /api/document/content HTTP/1.1\r\nHost: x\r\n"
                                           + framing + "\r\n{\"content\": \"unannounced\"}"}));
        EXPECT_EQ(r.status, 200) << framing.constData();
        EXPECT_EQ(workspace->text(), "unannounced") << framing.constData();
    }
}

TEST_F(ApiFraming, expectContinueGetsTheInterimAnswerFirst)
{
    const QByteArray body = R"({"content": "after continue"})";
    const QByteArray text = postText("/api/document/content", body, "Expect: 100-continue\r\n");
    RawOptions options;
    options.awaitContinue = true;
    const RawResult raw = runRaw(port, {text.chopped(body.size()), body}, options);
    EXPECT_TRUE(raw.received.startsWith("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(workspace->text(), "after continue");
}

TEST_F(ApiFraming, oversizedRequestsAreRefusedAsTooLargeWithoutActingOnThem)
{
    workspace->setText("kept");
    const QByteArray tooLarge = R"({"error":"request too large"})";
    // Announced too large: refused from the head alone, before a waiting client sends the body.
    RawOptions waits;
    waits.awaitContinue = true;
    const RawResult early = runRaw(port,
                                   {"POST /api/document/create HTTP/1.1\r\nContent-Length: "
                                    "2000000\r\nExpect: 100-continue\r\n\r\n",
                                    "{}"},
                                   waits);
    EXPECT_FALSE(early.received.contains("100 Continue"));
    const Reply announced = parseReply(early);
    EXPECT_EQ(announced.status, 413);
    EXPECT_EQ(announced.body, tooLarge);

    // Actually sent, and a head that never ends: the rest is drained so the answer is not lost
    // to a reset.
    const QByteArray body = "{\"content\": \"" + QByteArray(1'200'000, 'y') + "\"}";
    // Also a body whose length nobody announced.
    for (const QByteArray &text :
         {postText("/api/document/content", body),
          "GET /api/status HTTP/1.1\r\nX: " + QByteArray(1'100'000, 'h'),
          "POST /api/document/content HTTP/1.1\r\nHost: x\r\n\r\n" + body}) {
        const RawResult sent = runRaw(port, {text});
        const Reply r = parseReply(sent);
        EXPECT_EQ(r.status, 413);
        EXPECT_EQ(r.body, tooLarge);
        EXPECT_FALSE(sent.timedOut);
    }
    EXPECT_EQ(workspace->text(), "kept");
}

TEST_F(ApiFraming, partialRequestFollowedByEndOfInputIsHandledAsSent)
{
    RawOptions options;
    options.halfClose = true;
    const Reply r = parseReply(runRaw(port, {"GET /api/status HTTP/1.1\r\nHost: x"}, options));
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.json().value("running").toBool());

    // A body shorter than announced, then end of input: parsed as it came (not an object).
    const Reply cut = parseReply(runRaw(
        port,
        {"POST /api/document/insert HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"text\": \"a\"}"},
        options));
    EXPECT_EQ(cut.status, 200);
    EXPECT_EQ(workspace->text(), "a");
}

TEST_F(ApiSlowClients, slowClientIsAnsweredWithWhatArrivedAfterTheTimeout)
{
    const RawResult raw = runRaw(port, {"GET /api/sta"});
    const Reply r = parseReply(raw);
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.json().contains("endpoints"));
    EXPECT_TRUE(raw.endOfStream);
}

TEST_F(ApiSlowClients, idleConnectionsAreClosedWhileOthersAreServed)
{
    std::future<RawResult> idle = startRaw(port, {});
    const Reply served = get("/api/status");
    EXPECT_EQ(served.status, 200);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return idle.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    const RawResult closed = idle.get();
    EXPECT_TRUE(closed.received.isEmpty());
    EXPECT_FALSE(closed.timedOut);
    EXPECT_TRUE(testsupport::waitUntil([&] { return server->openConnectionCount() == 0; }));
}
