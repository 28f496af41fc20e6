#include "ApiTestSupport.h"

#include "Velto/api/SettingsEndpoints.h"
#include "Velto/api/WindowEndpoints.h"
#include "core/ai/AISettings.h"
#include "platform/L10n.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QWidget>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace apitest;
using namespace std::chrono_literals;

namespace {

class AppRoutes : public ApiFixture
{
protected:
    void SetUp() override
    {
        ApiFixture::SetUp();
        ai = std::make_unique<AISettings>(*defaults);
        settingsendpoints::registerWith(*server, *settings, *ai);
        windowendpoints::registerWith(*server, {path("runtime"), 20ms});
        windowendpoints::registerAppSettings(
            *server,
            [this] {
                settingsWindow = window("Einstellungen", {520, 460});
            },
            {path("runtime"), 20ms});
        ASSERT_TRUE(QDir().mkpath(path("runtime")));
    }
    void TearDown() override
    {
        windows.clear();
        ApiFixture::TearDown();
    }
    QWidget *window(const QString &title, QSize size, bool visible = true)
    {
        windows.push_back(std::make_unique<QWidget>());
        QWidget *w = windows.back().get();
        w->setWindowTitle(title);
        w->resize(size);
        w->winId(); // a native window, so a hidden one still counts in the window order
        w->setVisible(visible);
        return w;
    }
    QStringList screenshotNames()
    {
        QStringList names;
        for (const QJsonValue &p : get("/api/screenshot").json().value("screenshots").toArray())
            names << QFileInfo(p.toString()).fileName();
        return names;
    }

    std::unique_ptr<AISettings> ai;
    std::vector<std::unique_ptr<QWidget>> windows;
    QWidget *settingsWindow = nullptr;
};

// Connected clients that stall, silent or after sending `text`, as a port scanner, a stuck
// tool or a hostile process leaves them. They never read and never close.
struct IdleClients
{
    explicit IdleClients(quint16 port, int count, const QByteArray &text = {})
    {
        for (int i = 0; i < count; ++i) {
            // Blocking only when there is something to send once connected.
            const int fd = ::socket(AF_INET, SOCK_STREAM | (text.isEmpty() ? SOCK_NONBLOCK : 0), 0);
            sockaddr_in addr {};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(port);
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
            if (!text.isEmpty()) {
                ::send(fd, text.constData(), size_t(text.size()), MSG_NOSIGNAL);
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            }
            fds.push_back(fd);
            // Let the server take them off the listen queue as they come.
            if (i % 64 == 63)
                testsupport::waitUntil([] { return false; }, 20ms);
        }
    }
    ~IdleClients()
    {
        for (int fd : fds)
            ::close(fd);
    }
    int closedByServer() const
    {
        int closed = 0;
        char byte;
        for (int fd : fds)
            closed += ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0 ? 1 : 0;
        return closed;
    }
    // Clients whose pending input starts with `prefix` (left unread).
    int received(const QByteArray &prefix) const
    {
        int count = 0;
        QByteArray buffer(int(prefix.size()), 0);
        for (int fd : fds)
            count += ::recv(fd, buffer.data(), size_t(buffer.size()), MSG_DONTWAIT | MSG_PEEK)
                    == prefix.size()
                && buffer == prefix;
        return count;
    }
    std::vector<int> fds;
};

class ConnectionCap : public ApiFixture
{
protected:
    ApiLimits limits() const override
    {
        ApiLimits l;
        l.readTimeout = 120s; // only the cap may close the idle clients here
        return l;
    }
};

class SmallConnectionCap : public ConnectionCap
{
protected:
    ApiLimits limits() const override
    {
        ApiLimits l = ConnectionCap::limits();
        l.lingerTimeout = 120s;
        l.maxConnections = 16;
        return l;
    }
};

} // namespace

TEST_F(AppRoutes, themeAndViewModeChangeTheSettings)
{
    QJsonObject r = post("/api/theme", {{"id", "night"}}).json();
    EXPECT_EQ(r, (QJsonObject {{"ok", true}, {"theme", "night"}}));
    EXPECT_EQ(settings->themeID(), "night");
    EXPECT_EQ(post("/api/theme", {{"id", "unknown-id"}}).json().value("theme"), "unknown-id");
    const Reply missing = post("/api/theme", {{"id", 3}});
    EXPECT_EQ(missing.status, 400);
    EXPECT_EQ(missing.body, R"({"error":"missing id"})");
    EXPECT_EQ(request("POST", "/api/theme", "[1,2]").status, 400);

    r = post("/api/viewmode", {{"wide", true}}).json();
    EXPECT_EQ(r, (QJsonObject {{"ok", true}, {"focusMode", false}, {"wideMode", true}}));
    EXPECT_TRUE(settings->isWideMode());
    r = post("/api/viewmode", {{"focus", "yes"}, {"wide", 0}}).json();
    EXPECT_EQ(r.value("focusMode"), false);
    EXPECT_EQ(r.value("wideMode"), true);
    EXPECT_EQ(post("/api/viewmode", {{"focus", true}}).json().value("focusMode"), true);
}

TEST_F(AppRoutes, aiProviderTakesOnlyExactProviderNamesAndReportsTheEffectiveModel)
{
    ai->setProvider(AIProviderType::claude);
    QJsonObject r = post("/api/ai/provider", {{"provider", "claude"}}).json();
    EXPECT_EQ(r.value("provider"), "Claude");
    EXPECT_EQ(r.value("isConfigured"), false); // Claude needs a key

    r = post("/api/ai/provider", {{"apiKey", "sk-1"}, {"model", "m-1"}}).json();
    EXPECT_EQ(r.value("isConfigured"), true);
    EXPECT_EQ(r.value("model"), "m-1");
    EXPECT_EQ(ai->apiKey(), "sk-1");

    // A key with a line break is refused before anything is stored, as the settings tab does.
    const Reply refused
        = post("/api/ai/provider", {{"provider", "OpenAI"}, {"apiKey", "sk\r\nX: 1"}});
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(refused.json().value("error").toString(),
              L10n::text(QStringLiteral("settings.apiKeyInvalid")));
    EXPECT_EQ(ai->apiKey(), "sk-1");
    EXPECT_EQ(ai->provider(), AIProviderType::claude);

    r = post("/api/ai/provider", {{"provider", "Ollama"}, {"model", ""}, {"apiKey", ""}}).json();
    EXPECT_EQ(
        r,
        (QJsonObject {
            {"ok", true}, {"provider", "Ollama"}, {"isConfigured", true}, {"model", "llama3.2"}}));
    EXPECT_EQ(ai->endpoint(), QString());
}

TEST_F(AppRoutes, windowListCountsVisibleWindowsAndNamesTheKeyAndMainWindow)
{
    auto *content = new QObject(window("Doc", {300, 200}));
    QWidget *hidden = window("Hidden", {100, 100}, false);
    window("Other", {320, 240});
    Q_UNUSED(hidden);
    workspace->setParent(content);
    const QJsonObject r = get("/api/screenshot/windows").json();
    workspace->setParent(nullptr);
    const QJsonArray list = r.value("windows").toArray();
    ASSERT_EQ(r.value("count").toInt(), 2);
    EXPECT_EQ(list[0]["index"].toInt(), 0);
    EXPECT_EQ(list[0]["title"].toString(), "Doc");
    EXPECT_TRUE(list[0]["isMain"].toBool());
    EXPECT_EQ(list[1]["index"].toInt(), 1);
    EXPECT_EQ(list[1]["title"].toString(), "Other");
    EXPECT_FALSE(list[1]["isMain"].toBool());
    EXPECT_TRUE(QRegularExpression("^\\d+x\\d+$").match(list[1]["frame"].toString()).hasMatch());
}

TEST_F(AppRoutes, screenshotsArePngFilesInAPrivateFolderNamedAfterTheWindows)
{
    EXPECT_EQ(get("/api/screenshot").body, R"({"error":"no visible windows"})");
    const QWidget *doc = window("My Doc", {300, 200});
    window("Hidden", {100, 100}, false);
    window("", {200, 100});
    window(QStringLiteral("a/b") + QChar(0) + u'c', {120, 80});
    const QJsonObject r = get("/api/screenshot").json();
    EXPECT_EQ(r.value("count").toInt(), 3);
    EXPECT_EQ(r.value("hint"), "Use Read tool on the paths to view the screenshots");
    // The untitled window is named by its place among all windows, hidden ones included.
    EXPECT_EQ(screenshotNames(), (QStringList {"My-Doc.png", "window-2.png", "a-b-c.png"}));
    const QString folder = path("runtime/velto-screenshots");
    const QImage image(folder + "/My-Doc.png");
    EXPECT_EQ(image.size(), QSize(300, 200) * doc->devicePixelRatio());
    struct stat info
    {
    };
    ASSERT_EQ(::lstat(QFile::encodeName(folder).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    ASSERT_EQ(::lstat(QFile::encodeName(folder + "/My-Doc.png").constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    // A link planted under a screenshot's name is replaced, not written through.
    const QString victim = path("victim.txt");
    testsupport::writeFile(victim, "keep");
    QFile::remove(folder + "/My-Doc.png");
    ASSERT_TRUE(QFile::link(victim, folder + "/My-Doc.png"));
    get("/api/screenshot");
    EXPECT_EQ(testsupport::readFile(victim), "keep");
    EXPECT_FALSE(QFileInfo(folder + "/My-Doc.png").isSymLink());
}

TEST_F(AppRoutes, aScreenshotFolderThatIsNotOursOrNotAFolderIsNotUsed)
{
    window("Doc", {100, 100});
    // Someone put a link where the folder goes.
    ASSERT_TRUE(QDir().mkpath(path("elsewhere")));
    ASSERT_TRUE(QFile::link(path("elsewhere"), path("runtime/velto-screenshots")));
    EXPECT_EQ(get("/api/screenshot").body, R"({"error":"no visible windows"})");
    EXPECT_TRUE(QDir(path("elsewhere")).isEmpty());
    EXPECT_FALSE(windowendpoints::privateScreenshotFolder(path("runtime")));

    // Our own folder with loose permissions is tightened before use.
    ASSERT_TRUE(QDir().mkpath(path("loose/velto-screenshots")));
    ::chmod(QFile::encodeName(path("loose/velto-screenshots")).constData(), 0777);
    EXPECT_TRUE(windowendpoints::privateScreenshotFolder(path("loose")));
    EXPECT_EQ(QFileInfo(path("loose/velto-screenshots")).permissions() & 0x0077, 0);
}

TEST_F(AppRoutes, appSettingsOpensTheSettingsWindowAndListsItOnceShown)
{
    window("Doc", {300, 200});
    const QJsonObject r = post("/api/app/settings", {}).json();
    ASSERT_NE(settingsWindow, nullptr);
    EXPECT_EQ(r.value("ok"), true);
    QStringList titles;
    for (const QJsonValue &w : r.value("windows").toArray())
        titles << w["title"].toString();
    EXPECT_EQ(titles, (QStringList {"Doc", "Einstellungen"}));
}

TEST_F(ConnectionCap, idleConnectionsMakeRoomForCompleteRequests)
{
    IdleClients idle(port, 600);
    // Over the cap of 512, the oldest idle ones were closed to let the newer ones in.
    ASSERT_TRUE(testsupport::waitUntil([&] { return idle.closedByServer() == 600 - 512; }, 30s));
    EXPECT_EQ(server->openConnectionCount(), 512);
    int answered = 0;
    for (int i = 0; i < 100; ++i)
        answered += get("/api/status").status == 200 ? 1 : 0;
    EXPECT_EQ(answered, 100);
}

TEST_F(SmallConnectionCap, stalledRequestsWithoutTheTokenCannotLockOutAuthorisedOnes)
{
    settings->setApiToken("tok");
    // Complete heads announcing a large body, a few bytes of it, then nothing: each is refused
    // on its head, and the cap's worth of them still cannot keep an authorised client out.
    IdleClients stalled(port, 16,
                        "POST /api/document/content HTTP/1.1\r\nContent-Length: 900000\r\n\r\n"
                        "{\"content\":\"");
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return stalled.received("HTTP/1.1 401 OK\r\n") == 16; }, 30s));
    EXPECT_EQ(workspace->text(), QString());
    int answered = 0;
    for (int i = 0; i < 40; ++i)
        answered += request("GET", "/api/status", {}, {"Authorization: Bearer tok"}).status == 200;
    EXPECT_EQ(answered, 40);
}

TEST_F(ApiFixture, preCheckAndIconNeedNoToken)
{
    settings->setApiToken("tok");
    const RawResult pre = runRaw(port,
                                 {"OPTIONS /api/status HTTP/1.1\r\nOrigin: http://127.0.0.1\r\n"
                                  "Access-Control-Request-Method: GET\r\n"
                                  "Access-Control-Request-Headers: authorization\r\n\r\n"});
    const Reply r = parseReply(pre);
    EXPECT_EQ(r.status, 204);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(r.header("Access-Control-Allow-Origin"), "*");
    EXPECT_TRUE(r.header("Access-Control-Allow-Headers").contains("Authorization"));
    EXPECT_TRUE(r.header("Access-Control-Allow-Methods").contains("POST"));
    EXPECT_EQ(get("/favicon.ico").status, 404);
    EXPECT_EQ(get("/api/status").status, 401);
}
