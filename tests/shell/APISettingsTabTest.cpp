#include "SettingsFixture.h"

#include "Velto/api/ApiListener.h"
#include "Velto/shell/APISettingsTab.h"
#include "Velto/shell/ShellStyle.h"
#include "platform/L10n.h"
#include "support/Ports.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTextEdit>

using namespace settingstest;

namespace {

class APITab : public SettingsTest
{
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        tab = std::make_unique<APISettingsTab>(APISettingsTab::Services {
            settings.get(), server.get(), QStringLiteral("/opt/velto"), delay.scheduler(),
            [this](const QUrl &url) { opened.append(url); }});
    }
    void TearDown() override
    {
        tab.reset();
        SettingsTest::TearDown();
    }
    void typePort(const QString &text)
    {
        tab->portField()->selectAll();
        QTest::keyClick(tab->portField(), Qt::Key_Delete);
        QTest::keyClicks(tab->portField(), text);
    }
    bool showsStopped() const
    {
        return tab->statusLabel()->text() == L10n::text(QStringLiteral("settings.stopped"))
            && tab->statusDot()->color() == ShellStyle::Colors::red;
    }

    std::unique_ptr<APISettingsTab> tab;
    QList<QUrl> opened;
};

TEST(APISettingsTabStatic, mcpConfigurationIsOneLineOfValidJSONWhateverThePathHolds)
{
    EXPECT_EQ(APISettingsTab::mcpConfigJSON(QStringLiteral("/opt/velto/velto-mcp-server"), 42932,
                                            QStringLiteral("abc_-")),
              QStringLiteral(R"({"mcpServers":{"velto":{"command":"/opt/velto/velto-mcp-server",)"
                             R"("env":{"VELTO_API_PORT":"42932","VELTO_API_TOKEN":"abc_-"}}}})"));
    const QString path = QStringLiteral(R"(/home/a "b"\c/velto-mcp-server)");
    const QString token = QStringLiteral(R"(t"o\k)");
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(
        APISettingsTab::mcpConfigJSON(path, 8080, token).toUtf8(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    const QJsonObject velto = doc.object()["mcpServers"].toObject()["velto"].toObject();
    EXPECT_EQ(velto["command"].toString(), path);
    EXPECT_EQ(velto["env"].toObject()["VELTO_API_PORT"], QJsonValue(QStringLiteral("8080")));
    EXPECT_EQ(velto["env"].toObject()["VELTO_API_TOKEN"].toString(), token);
}

TEST(APISettingsTabStatic, portsAreWholeNumbersFromOneTo65535)
{
    EXPECT_EQ(APISettingsTab::parsePort(QStringLiteral("8080")), 8080);
    EXPECT_EQ(APISettingsTab::parsePort(QStringLiteral("+8080")), 8080);
    EXPECT_EQ(APISettingsTab::parsePort(QStringLiteral("65535")), 65535);
    for (const char *refused :
         {"", "80a", " 80", "0", "-1", "65536", "70000", "99999999999999999999"})
        EXPECT_EQ(APISettingsTab::parsePort(QString::fromLatin1(refused)), std::nullopt) << refused;
}

TEST_F(APITab, typedPortsAreStoredOnlyWhenValidAndMoveTheListenerOnlyWhenSettledWhileEnabled)
{
    const quint16 first = testsupport::unusedPort();
    typePort(QString::number(first));
    ASSERT_EQ(settings->apiPort(), first);
    tab->enableSwitch()->click();
    EXPECT_TRUE(settings->apiEnabled());
    ASSERT_EQ(server->activePort(), first);
    EXPECT_EQ(tab->statusLabel()->text(), QStringLiteral("Port %1").arg(first));
    EXPECT_EQ(tab->statusDot()->color(), ShellStyle::Colors::green);

    // Typing stores each valid step but leaves the listener where it is; "+" is kept as typed.
    const quint16 second = testsupport::unusedPort();
    typePort(QStringLiteral("+") + QString::number(second));
    EXPECT_EQ(settings->apiPort(), second);
    EXPECT_EQ(tab->portField()->text(), QStringLiteral("+") + QString::number(second));
    EXPECT_EQ(server->activePort(), first);
    EXPECT_TRUE(tab->mcpConfig().contains(QStringLiteral("\"%1\"").arg(second)))
        << "the configuration names the stored port";
    typePort(QStringLiteral("0"));
    EXPECT_EQ(settings->apiPort(), second) << "port 0 is refused";
    QTest::keyClick(tab->portField(), Qt::Key_Return);
    EXPECT_EQ(tab->portField()->text(), QString::number(second));
    EXPECT_EQ(server->activePort(), second);

    // Switched off, neither a settled port nor Apply starts anything.
    tab->enableSwitch()->click();
    EXPECT_FALSE(settings->apiEnabled());
    EXPECT_TRUE(showsStopped()) << "at once";
    typePort(QString::number(first));
    QTest::keyClick(tab->portField(), Qt::Key_Return);
    tab->applyButton()->click();
    EXPECT_EQ(server->listener(), nullptr);
    EXPECT_EQ(server->activePort(), 0);
    EXPECT_FALSE(settings->apiEnabled());
    AppSettings restarted(*defaults);
    EXPECT_EQ(restarted.apiPort(), first);
    EXPECT_FALSE(restarted.apiEnabled());
}

TEST_F(APITab, applyOntoABusyPortShowsTheServerStopped)
{
    settings->setApiPort(testsupport::unusedPort());
    tab->enableSwitch()->click();
    ASSERT_NE(server->activePort(), 0);
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    typePort(QString::number(squatter.serverPort()));
    tab->applyButton()->click();
    EXPECT_EQ(server->activePort(), 0);
    EXPECT_TRUE(showsStopped());
}

TEST_F(APITab, copyButtonsCopyTheExactTextsAndSayCopiedForOneAndAHalfSecondsFromEachPress)
{
    const QString copy = L10n::text(QStringLiteral("settings.copy"));
    const QString copied = L10n::text(QStringLiteral("settings.copied"));
    tab->copyTokenButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), settings->apiToken());
    EXPECT_EQ(tab->copyTokenButton()->text(), copied);
    tab->copyTokenButton()->click();
    ASSERT_EQ(delay.calls.size(), 2);
    EXPECT_EQ(delay.calls[0].delay, std::chrono::milliseconds(1500));
    delay.calls[0].call();
    EXPECT_EQ(tab->copyTokenButton()->text(), copy) << "the second press does not prolong it";
    delay.calls[1].call();
    EXPECT_EQ(tab->copyTokenButton()->text(), copy);

    tab->copyMCPButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), tab->mcpConfig());
    EXPECT_EQ(tab->mcpText()->toPlainText(), tab->mcpConfig());
    EXPECT_TRUE(tab->mcpConfig().startsWith(
        QStringLiteral(R"({"mcpServers":{"velto":{"command":"/opt/velto/velto-mcp-server",)")));
    EXPECT_EQ(tab->copyMCPButton()->text(), copied);
    EXPECT_EQ(tab->copyTokenButton()->text(), copy);
    delay.calls[2].call();
    EXPECT_EQ(tab->copyMCPButton()->text(), L10n::text(QStringLiteral("settings.copyMCP")));
}

TEST_F(APITab, aRenewedTokenIsShownAndRequiredFromTheNextRequestOn)
{
    settings->setApiPort(testsupport::unusedPort());
    tab->enableSwitch()->click();
    const quint16 port = server->activePort();
    ASSERT_NE(port, 0);
    const QString old = settings->apiToken();
    EXPECT_EQ(statusWithToken(port, old), 200);

    tab->newTokenButton()->click();
    const QString renewed = settings->apiToken();
    ASSERT_NE(renewed, old);
    EXPECT_EQ(renewed.size(), 32);
    EXPECT_EQ(tab->tokenLabel()->toolTip(), renewed);
    EXPECT_LE(tab->tokenLabel()->fontMetrics().horizontalAdvance(tab->tokenLabel()->text()), 200)
        << "one line of at most 200 points";
    EXPECT_TRUE(tab->mcpText()->toPlainText().contains(renewed));
    EXPECT_EQ(server->activePort(), port) << "no restart";
    EXPECT_EQ(statusWithToken(port, old), 401);
    EXPECT_EQ(statusWithToken(port, renewed), 200);
}

TEST_F(APITab, followsOutsideChangesWithoutWritingAndOpensTheDocsOnTheStoredPort)
{
    QSignalSpy enabled(settings.get(), &AppSettings::apiEnabledChanged);
    QSignalSpy port(settings.get(), &AppSettings::apiPortChanged);
    settings->setApiPort(4321);
    settings->setApiToken(QStringLiteral("outside"));
    settings->setApiEnabled(true);
    EXPECT_EQ(tab->portField()->text(), QStringLiteral("4321"));
    EXPECT_EQ(tab->tokenLabel()->text(), QStringLiteral("outside"));
    EXPECT_TRUE(tab->enableSwitch()->isChecked());
    EXPECT_TRUE(tab->mcpConfig().contains(QStringLiteral(R"("VELTO_API_TOKEN":"outside")")));
    EXPECT_EQ(port.size(), 1);
    EXPECT_EQ(enabled.size(), 1);
    EXPECT_EQ(server->listener(), nullptr) << "following the settings starts nothing";

    tab->docsButton()->click();
    EXPECT_EQ(opened, QList<QUrl> {QUrl(QStringLiteral("http://localhost:4321/api/docs"))});
}

} // namespace
