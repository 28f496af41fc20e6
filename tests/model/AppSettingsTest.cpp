#include "Velto/model/AppSettings.h"
#include "platform/Defaults.h"
#include "platform/L10n.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

class AppSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    std::unique_ptr<Defaults> store() const
    {
        return std::make_unique<Defaults>(tmp.filePath(QStringLiteral("defaults.json")));
    }
    QTemporaryDir tmp;
};

} // namespace

TEST_F(AppSettingsTest, firstStartUsesTheDefaultsAndKeepsOneToken)
{
    auto defaults = store();
    AppSettings settings(*defaults);
    EXPECT_EQ(settings.themeID(), QStringLiteral("standard"));
    EXPECT_EQ(settings.fontName(), QStringLiteral("SF Mono"));
    EXPECT_EQ(settings.fontSize(), 14.0);
    EXPECT_FALSE(settings.isFocusMode());
    EXPECT_FALSE(settings.isWideMode());
    EXPECT_FALSE(settings.apiEnabled());
    EXPECT_EQ(settings.apiPort(), 42932);
    EXPECT_EQ(settings.apiToken().size(), 32);
    EXPECT_EQ(defaults->string("apiToken"), settings.apiToken());
    EXPECT_FALSE(defaults->contains("themeID")) << "defaults are not written at start";

    auto reopened = store();
    AppSettings second(*reopened);
    EXPECT_EQ(second.apiToken(), settings.apiToken());
}

TEST_F(AppSettingsTest, badStoredValuesReadAsDefaults)
{
    const std::pair<QJsonValue, QJsonValue> cases[]
        = {{0, 0}, {-3, -1}, {QJsonValue(), 70000}, {"abc", 65536}};
    for (const auto &[fontSize, port] : cases) {
        auto defaults = store();
        defaults->set("fontSize", fontSize);
        defaults->set("apiPort", port);
        AppSettings settings(*defaults);
        EXPECT_EQ(settings.fontSize(), 14.0) << fontSize.toVariant().toString().toStdString();
        EXPECT_EQ(settings.apiPort(), 42932) << port.toInteger();
    }

    auto defaults = store();
    defaults->set("fontSize", "16.5");
    defaults->set("apiPort", 65535);
    defaults->set("apiToken", "");
    defaults->set("apiEnabled", 0);
    defaults->set("wideMode", "YES");
    AppSettings settings(*defaults);
    EXPECT_EQ(settings.fontSize(), 16.5);
    EXPECT_EQ(settings.apiPort(), 65535);
    EXPECT_EQ(settings.apiToken().size(), 32) << "an empty stored token is replaced";
    EXPECT_EQ(defaults->string("apiToken"), settings.apiToken());
    EXPECT_FALSE(settings.apiEnabled());
    EXPECT_TRUE(settings.isWideMode());

    defaults->set("apiEnabled", "YES");
    EXPECT_TRUE(AppSettings(*defaults).apiEnabled());
}

TEST_F(AppSettingsTest, settersWriteOnEverySetButNotifyOnlyOnChange)
{
    auto defaults = store();
    AppSettings settings(*defaults);
    QSignalSpy wide(&settings, &AppSettings::isWideModeChanged);
    QSignalSpy focus(&settings, &AppSettings::isFocusModeChanged);
    QSignalSpy size(&settings, &AppSettings::fontSizeChanged);
    QSignalSpy theme(&settings, &AppSettings::themeIDChanged);

    ASSERT_FALSE(defaults->contains("wideMode"));
    settings.setIsWideMode(false);
    EXPECT_EQ(defaults->object("wideMode"), QJsonValue(false));
    EXPECT_EQ(wide.count(), 0);
    settings.setIsWideMode(true);
    EXPECT_EQ(wide.count(), 1);

    settings.setIsFocusMode(true);
    EXPECT_EQ(focus.count(), 1);
    EXPECT_TRUE(settings.isFocusMode());
    auto reread = store();
    EXPECT_FALSE(reread->contains("isFocusMode"));
    EXPECT_FALSE(reread->contains("focusMode"));

    settings.setThemeID(QStringLiteral("standard"));
    EXPECT_EQ(theme.count(), 0);
    EXPECT_EQ(defaults->string("themeID"), QStringLiteral("standard"));

    settings.setFontSize(std::nan(""));
    settings.setFontSize(std::nan(""));
    EXPECT_EQ(size.count(), 2) << "NaN never equals";

    // Values set while running are used as they are.
    settings.setApiPort(70000);
    settings.setFontSize(-1);
    EXPECT_EQ(settings.apiPort(), 70000);
    EXPECT_EQ(settings.fontSize(), -1.0);
    EXPECT_EQ(store()->integer("apiPort"), 70000);
}

TEST_F(AppSettingsTest, currentThemeFallsBackToStandardAndFontsFallBackToMonospace)
{
    auto defaults = store();
    defaults->set("themeID", "solarized");
    AppSettings settings(*defaults);
    EXPECT_EQ(settings.currentTheme(), EditorTheme::standard());
    EXPECT_EQ(settings.themeID(), QStringLiteral("solarized"));
    settings.setThemeID(QStringLiteral("night"));
    EXPECT_EQ(settings.currentTheme(), EditorTheme::night());

    settings.setFontName(QStringLiteral("No Such Font Family 12345"));
    settings.setFontSize(17);
    const QFont fixed = settings.editorFont();
    EXPECT_EQ(fixed.family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    EXPECT_EQ(fixed.pointSizeF(), 17.0);
    settings.setFontName(QStringLiteral("System"));
    EXPECT_EQ(settings.editorFont().family(),
              QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
}

TEST(EditorTheme, threeBuiltInThemesInOrderWithTheirValues)
{
    const auto &all = EditorTheme::all();
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all.at(0).id, QStringLiteral("standard"));
    EXPECT_EQ(all.at(1).id, QStringLiteral("sepia"));
    EXPECT_EQ(all.at(2).id, QStringLiteral("night"));
    for (const char *key : {"theme.standard", "theme.sepia", "theme.night"})
        EXPECT_TRUE(L10n::has(QString::fromLatin1(key))) << key;
    EXPECT_EQ(EditorTheme::night().name, L10n::text(QStringLiteral("theme.night")));

    const EditorTheme sepia {
        QStringLiteral("sepia"), L10n::text(QStringLiteral("theme.sepia")),
        ThemeColor::fixed(QColor::fromRgbF(0.98f, 0.95f, 0.90f, 1.0f)),
        ThemeColor::fixed(QColor::fromRgbF(0.30f, 0.22f, 0.15f, 1.0f)),
        QStringLiteral("body{background:#FAF3E6;color:#4D3826;} a{color:#8B5E3C;}")};
    EXPECT_EQ(EditorTheme::sepia(), sepia);
    EXPECT_NE(EditorTheme::sepia(), EditorTheme::night());
    EXPECT_TRUE(EditorTheme::night().previewExtraCSS.startsWith("body{background:#1A1A2E;"));
    EXPECT_FALSE(EditorTheme::night().previewExtraCSS.contains(u'\n'));

    // The standard theme follows the application palette.
    const EditorTheme &standard = EditorTheme::standard();
    EXPECT_TRUE(standard.editorBg.isRole());
    EXPECT_TRUE(standard.previewExtraCSS.isEmpty());
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(20, 20, 20));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    EXPECT_EQ(standard.editorBg.color(dark), QColor(20, 20, 20));
    EXPECT_EQ(standard.editorText.color(dark), QColor(230, 230, 230));
    EXPECT_EQ(QColor(standard.editorBg), QGuiApplication::palette().color(QPalette::Base));
}

TEST(AppSettings, generatedTokensAre32UrlSafeCharacters)
{
    const QString a = AppSettings::generateAPIToken();
    const QString b = AppSettings::generateAPIToken();
    const QRegularExpression alphabet(QStringLiteral("^[A-Za-z0-9_-]{32}$"));
    EXPECT_TRUE(alphabet.match(a).hasMatch()) << a.toStdString();
    EXPECT_TRUE(alphabet.match(b).hasMatch()) << b.toStdString();
    EXPECT_NE(a, b);
}
