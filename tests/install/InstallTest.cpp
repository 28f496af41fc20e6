#include "support/Ports.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

struct Answer
{
    int status = 0;
    QByteArray body;
};

Answer get(QNetworkAccessManager &network, const QString &url, const QByteArray &token = {})
{
    QNetworkRequest request {QUrl(url)};
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token);
    QNetworkReply *reply = network.get(request);
    testsupport::waitUntil([&] { return reply->isFinished(); }, 30s);
    Answer answer {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                   reply->readAll()};
    reply->deleteLater();
    return answer;
}

TEST(Install, theInstalledTreeRunsFromItsOwnResources)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString prefix = tmp.filePath(QStringLiteral("prefix"));
    QProcess install;
    install.start(QStringLiteral(VELTO_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(VELTO_BUILD_DIR),
                   QStringLiteral("--prefix"), prefix});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();

    const QDir root(prefix);
    for (const char *program : {"bin/velto", "bin/velto-mcp-server"})
        EXPECT_TRUE(QFileInfo(root.filePath(program)).isExecutable()) << program;
    for (const char *file : {"katex.min.js", "auto-render.min.js", "highlight.min.js",
                             "mermaid.min.js", "swagger-ui-bundle.js", "licenses/katex.LICENSE",
                             "licenses/mermaid.LICENSE", "licenses/swagger-ui.LICENSE"})
        EXPECT_TRUE(QFileInfo::exists(root.filePath(QStringLiteral("share/velto/web/") + file)))
            << file;
    EXPECT_TRUE(QFileInfo::exists(root.filePath("share/icons/hicolor/scalable/apps/velto.svg")));
    const QString desktop = QString::fromUtf8(
        testsupport::readFile(root.filePath("share/applications/velto.desktop")));
    for (const char *line : {"Name=Velto", "Categories=Office;TextEditor;", "Icon=velto",
                             "Exec=velto", "Type=Application"})
        EXPECT_TRUE(desktop.split(u'\n').contains(QString::fromLatin1(line))) << line;

    // A mark in the installed copy tells it apart from the build tree's.
    const QString swagger = root.filePath(QStringLiteral("share/velto/web/swagger-ui-bundle.js"));
    QFile mark(swagger);
    ASSERT_TRUE(mark.open(QIODevice::Append));
    mark.write("\n/*installed copy*/\n");
    mark.close();

    const quint16 port = testsupport::unusedPort();
    const QString config = tmp.filePath(QStringLiteral("config"));
    const QJsonObject values {{"apiEnabled", true},
                              {"apiPort", port},
                              {"apiToken", "install-test-token"},
                              {"hasAcceptedLegal", true}};
    ASSERT_TRUE(testsupport::writeFile(config + QStringLiteral("/velto/defaults.json"),
                                       QJsonDocument(values).toJson()));

    QProcess velto;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("HOME"), tmp.filePath(QStringLiteral("home")));
    velto.setProcessEnvironment(env);
    velto.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray output;
    QObject::connect(&velto, &QProcess::readyRead, [&] { output += velto.readAll(); });
    velto.start(root.filePath(QStringLiteral("bin/velto")), {});
    ASSERT_TRUE(velto.waitForStarted());
    const QByteArray listening = "[API] http://localhost:" + QByteArray::number(port);
    const bool started = testsupport::waitUntil(
        [&] { return output.contains(listening) || velto.state() == QProcess::NotRunning; }, 60s);
    EXPECT_TRUE(started && output.contains(listening)) << output.toStdString();

    QNetworkAccessManager network;
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    const Answer status = get(network, base + QStringLiteral("/api/status"), "install-test-token");
    EXPECT_EQ(status.status, 200) << status.body.toStdString();
    const Answer docs = get(network, base + QStringLiteral("/api/docs"));
    EXPECT_EQ(docs.status, 200);
    EXPECT_TRUE(docs.body.contains("/*installed copy*/"));

    velto.terminate();
    if (!velto.waitForFinished(10000)) {
        velto.kill();
        velto.waitForFinished(10000);
    }
}

} // namespace
