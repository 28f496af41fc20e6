#include "SettingsFixture.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace settingstest {

void SettingsTest::SetUp()
{
    ASSERT_TRUE(tmp.isValid());
    defaults = std::make_unique<Defaults>(tmp.filePath(QStringLiteral("config/defaults.json")));
    settings = std::make_unique<AppSettings>(*defaults);
    ai = std::make_unique<AISettings>(*defaults);
    server = std::make_unique<DebugServer>(*settings);
}

void SettingsTest::TearDown()
{
    server.reset();
    ai.reset();
    settings.reset();
    defaults.reset();
}

void SettingsTest::forgetStoreFile()
{
    QFile::remove(defaults->filePath());
}

bool SettingsTest::storeWasWritten() const
{
    return QFile::exists(defaults->filePath());
}

int SettingsTest::statusWithToken(quint16 port, const QString &token)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/status").arg(port)));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    QNetworkReply *reply = manager.get(request);
    testsupport::waitUntil([reply] { return reply->isFinished(); });
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    reply->deleteLater();
    return status;
}

} // namespace settingstest
