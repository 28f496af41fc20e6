#include "SettingsFixture.h"

#include "Velto/shell/AboutView.h"
#include "Velto/shell/LegalAcceptanceView.h"
#include "Velto/shell/LegalInfoView.h"
#include "Velto/shell/LegalTextView.h"
#include "platform/L10n.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace settingstest;

namespace {

class Legal : public SettingsTest
{
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        dialog = std::make_unique<LegalAcceptanceView>(
            *defaults,
            [this] {
                ++accepted;
                storedBeforeAccept = defaults->boolValue(QStringLiteral("hasAcceptedLegal"))
                    && defaults->date(QStringLiteral("legalAcceptanceDate")).has_value();
            },
            [this] { ++declined; });
        dialog->show();
    }
    void TearDown() override
    {
        dialog.reset();
        SettingsTest::TearDown();
    }
    // Opens a detail text with its button and closes it with the one at its foot.
    QString readDetails(QToolButton *button)
    {
        button->click();
        LegalTextView *details = nullptr;
        testsupport::waitUntil([&] {
            details = dialog->findChild<LegalTextView *>();
            return details && details->isVisible();
        });
        if (!details)
            return {};
        const QString text = details->textArea()->toPlainText();
        for (QPushButton *close : details->findChildren<QPushButton *>())
            close->click();
        testsupport::waitUntil([&] { return !dialog->findChild<LegalTextView *>(); });
        return text;
    }

    std::unique_ptr<LegalAcceptanceView> dialog;
    int accepted = 0;
    int declined = 0;
    bool storedBeforeAccept = false;
};

TEST_F(Legal, acceptNeedsBothTicksAndDetailTextsLeaveTheTicksAlone)
{
    EXPECT_FALSE(dialog->acceptButton()->isEnabled());
    EXPECT_TRUE(dialog->declineButton()->isEnabled());
    dialog->termsCheckBox()->click();
    EXPECT_FALSE(dialog->acceptButton()->isEnabled());
    EXPECT_EQ(readDetails(dialog->termsDetailsButton()),
              L10n::text(QStringLiteral("legal.terms.content")));
    EXPECT_EQ(readDetails(dialog->privacyDetailsButton()),
              L10n::text(QStringLiteral("legal.privacy.content")));
    EXPECT_TRUE(dialog->termsCheckBox()->isChecked());
    EXPECT_FALSE(dialog->privacyCheckBox()->isChecked());
    dialog->privacyCheckBox()->click();
    EXPECT_TRUE(dialog->acceptButton()->isEnabled());
    dialog->termsCheckBox()->click();
    EXPECT_FALSE(dialog->acceptButton()->isEnabled());
    EXPECT_EQ(dialog->termsCheckBox()->accessibleName(),
              L10n::text(QStringLiteral("legal.terms.title")));
}

TEST_F(Legal, cannotBeDismissedAndDeclineWritesNothing)
{
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->width(), LegalAcceptanceView::fixedWidth);
    EXPECT_GE(dialog->subtitleLabel()->height(),
              dialog->subtitleLabel()->heightForWidth(dialog->subtitleLabel()->width()))
        << "the subtitle wraps instead of being cut";

    forgetStoreFile();
    dialog->declineButton()->click();
    EXPECT_EQ(declined, 1);
    EXPECT_EQ(accepted, 0);
    EXPECT_FALSE(storeWasWritten());
    EXPECT_TRUE(dialog->isVisible()) << "the presenter decides what happens next";
}

TEST_F(Legal, acceptStoresTheFlagAndTheMomentBeforeHandingOver)
{
    dialog->termsCheckBox()->click();
    dialog->privacyCheckBox()->click();
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    dialog->acceptButton()->click();
    EXPECT_EQ(accepted, 1);
    EXPECT_TRUE(storedBeforeAccept);
    const auto first = defaults->date(QStringLiteral("legalAcceptanceDate"));
    ASSERT_TRUE(first);
    EXPECT_GE(*first, before);
    EXPECT_LE(*first, QDateTime::currentDateTimeUtc().addSecs(1));

    // A second window's acceptance overwrites the date.
    defaults->setDate(QStringLiteral("legalAcceptanceDate"), before.addDays(-3));
    dialog->acceptButton()->click();
    EXPECT_GE(*defaults->date(QStringLiteral("legalAcceptanceDate")), before);
    dialog->dismiss();
    EXPECT_FALSE(dialog->isVisible());
}

TEST(LegalInfo, typesAndTheirTexts)
{
    EXPECT_EQ(LegalInfoTypes::fromString(QStringLiteral("accessibility")),
              LegalInfoType::accessibility);
    EXPECT_EQ(LegalInfoTypes::fromString(QStringLiteral("Accessibility")), std::nullopt);
    EXPECT_EQ(LegalInfoTypes::fromString(QString()), std::nullopt);
    EXPECT_EQ(LegalInfoTypes::toString(LegalInfoType::impressum), QStringLiteral("impressum"));
    for (LegalInfoType type : LegalInfoTypes::allCases()) {
        LegalInfoView info(type);
        EXPECT_EQ(info.titleLabel()->text(), L10n::text(LegalInfoTypes::menuKey(type)));
        ASSERT_TRUE(L10n::has(LegalInfoTypes::contentKey(type)));
        EXPECT_EQ(info.textArea()->toPlainText(), L10n::text(LegalInfoTypes::contentKey(type)));
        EXPECT_TRUE(info.textArea()->isReadOnly());
    }
    // Our own texts name what leaves the machine and who makes the program.
    const QString privacy = L10n::text(QStringLiteral("legal.privacy.content"));
    for (const char *fact : {"127.0.0.1", "Token", "Anthropic", "OpenAI", "Ollama", "Markierung",
                             "Synchronisationsserver", "ausgeschaltet"})
        EXPECT_TRUE(privacy.contains(QString::fromUtf8(fact))) << fact;
    EXPECT_TRUE(L10n::text(QStringLiteral("legal.impressum.content"))
                    .contains(QStringLiteral("Velto-Projekt")));
}

TEST(About, versionAndBuildFallBackToADashAndTheWidthStaysFixed)
{
    const QVariantMap noBuild {{QStringLiteral("version"), QStringLiteral("1.2")}};
    EXPECT_EQ(AboutView::stringOrDash(noBuild, QStringLiteral("build")), QStringLiteral("–"));
    const QVariantMap numeric {{QStringLiteral("version"), 3}};
    EXPECT_EQ(AboutView::stringOrDash(numeric, QStringLiteral("version")), QStringLiteral("–"));
    EXPECT_EQ(AboutView::stringOrDash(AboutView::applicationInfo(), QStringLiteral("version")),
              QStringLiteral(VELTO_VERSION));

    AboutView about(QStringLiteral("1.2"), QStringLiteral("–"));
    EXPECT_EQ(about.versionLabel()->text(),
              L10n::format(QStringLiteral("about.version"),
                           {QStringLiteral("1.2"), QStringLiteral("–")}));
    EXPECT_TRUE(about.versionLabel()->text().contains(QStringLiteral("1.2")));
    EXPECT_EQ(about.width(), AboutView::fixedWidth);
    AboutView longer(QString(200, u'9'), QStringLiteral("7"));
    EXPECT_EQ(longer.width(), AboutView::fixedWidth);
    EXPECT_GT(longer.height(), about.height()) << "a long version wraps";
}

TEST(SettingsTexts, everyKeyTheseWindowsUseHasAGermanText)
{
    for (const char *key : {"Editor",
                            "Design",
                            "API",
                            "Sync",
                            "settings.ai",
                            "settings.title",
                            "settings.font",
                            "settings.fontSize",
                            "%lld pt",
                            "Abc",
                            "menu.wideMode",
                            "settings.apiEnabled",
                            "settings.stopped",
                            "Port",
                            "Token",
                            "settings.apply",
                            "settings.copy",
                            "settings.copied",
                            "settings.new",
                            "settings.mcpConfig",
                            "settings.copyMCP",
                            "settings.apiEndpoints",
                            "API-Dokumentation",
                            "settings.apiDocsHint",
                            "Provider",
                            "settings.ollamaGuide",
                            "API-Key",
                            "settings.apiKeyInvalid",
                            "settings.model",
                            "Endpoint",
                            "settings.ready",
                            "settings.apiKeyRequired",
                            "about.version",
                            "about.description",
                            "about.developed.by",
                            "about.company",
                            "about.copyright",
                            "about.rights",
                            "legal.title",
                            "legal.subtitle",
                            "legal.terms.title",
                            "legal.privacy.title",
                            "legal.show.details",
                            "legal.button.decline",
                            "legal.button.accept",
                            "legal.button.close",
                            "accessibility.legal.checkbox.hint",
                            "accessibility.legal.details",
                            "accessibility.legal.details.hint",
                            "legal.terms.content",
                            "legal.privacy.content"})
        EXPECT_TRUE(L10n::has(QString::fromLatin1(key))) << key;
    EXPECT_EQ(L10n::text(QStringLiteral("about.company")), QStringLiteral("Velto-Projekt"));
}

} // namespace
