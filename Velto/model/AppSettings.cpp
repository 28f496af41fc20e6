#include "Velto/model/AppSettings.h"

#include "platform/RootInstance.h"

#include "platform/Defaults.h"
#include "platform/Text.h"

#include <QFontDatabase>
#include <QRandomGenerator>

#include <cmath>

namespace {
const QString themeIDKey = QStringLiteral("themeID");
const QString fontNameKey = QStringLiteral("fontName");
const QString fontSizeKey = QStringLiteral("fontSize");
const QString wideModeKey = QStringLiteral("wideMode");
const QString apiEnabledKey = QStringLiteral("apiEnabled");
const QString apiPortKey = QStringLiteral("apiPort");
const QString apiTokenKey = QStringLiteral("apiToken");
} // namespace

AppSettings &AppSettings::shared()
{
    return RootInstance<AppSettings>::get();
}

AppSettings::AppSettings(Defaults &defaults, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
{
    m_isFocusMode = false;
    m_themeID = defaults.string(themeIDKey).value_or(QStringLiteral("standard"));
    m_fontName = defaults.string(fontNameKey).value_or(QStringLiteral("SF Mono"));
    const double storedSize = defaults.doubleValue(fontSizeKey);
    m_fontSize = storedSize > 0 ? storedSize : defaultFontSize;
    m_isWideMode = defaults.boolValue(wideModeKey);
    m_apiEnabled = defaults.contains(apiEnabledKey) && defaults.boolValue(apiEnabledKey);
    // A stored port outside the TCP range would be narrowed to some other port by the listener.
    const qint64 storedPort = defaults.integer(apiPortKey);
    m_apiPort = storedPort >= 1 && storedPort <= 65535 ? storedPort : defaultAPIPort;
    m_apiToken = defaults.string(apiTokenKey).value_or(QString());
    if (m_apiToken.isEmpty()) {
        m_apiToken = generateAPIToken();
        defaults.set(apiTokenKey, m_apiToken);
    }
}

void AppSettings::setThemeID(const QString &id)
{
    const bool changed = !canonicallyEqual(m_themeID, id);
    m_themeID = id;
    m_defaults.set(themeIDKey, id);
    if (changed)
        emit themeIDChanged();
}

void AppSettings::setFontName(const QString &name)
{
    const bool changed = !canonicallyEqual(m_fontName, name);
    m_fontName = name;
    m_defaults.set(fontNameKey, name);
    if (changed)
        emit fontNameChanged();
}

void AppSettings::setFontSize(double size)
{
    const bool changed = std::isnan(size) || std::isnan(m_fontSize) || size != m_fontSize;
    m_fontSize = size;
    m_defaults.set(fontSizeKey, size);
    if (changed)
        emit fontSizeChanged();
}

void AppSettings::setIsFocusMode(bool on)
{
    if (m_isFocusMode == on)
        return;
    m_isFocusMode = on;
    emit isFocusModeChanged();
}

void AppSettings::setIsWideMode(bool on)
{
    const bool changed = m_isWideMode != on;
    m_isWideMode = on;
    m_defaults.set(wideModeKey, on);
    if (changed)
        emit isWideModeChanged();
}

void AppSettings::setApiEnabled(bool enabled)
{
    const bool changed = m_apiEnabled != enabled;
    m_apiEnabled = enabled;
    m_defaults.set(apiEnabledKey, enabled);
    if (changed)
        emit apiEnabledChanged();
}

void AppSettings::setApiPort(qint64 port)
{
    const bool changed = m_apiPort != port;
    m_apiPort = port;
    m_defaults.set(apiPortKey, port);
    if (changed)
        emit apiPortChanged();
}

void AppSettings::setApiToken(const QString &token)
{
    const bool changed = !canonicallyEqual(m_apiToken, token);
    m_apiToken = token;
    m_defaults.set(apiTokenKey, token);
    if (changed)
        emit apiTokenChanged();
}

QFont AppSettings::editorFont() const
{
    QFont font;
    if (m_fontName == systemFontName) {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    } else if (QFontDatabase::hasFamily(m_fontName)) {
        font = QFont(m_fontName);
    } else {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setWeight(QFont::Normal);
    }
    if (std::isfinite(m_fontSize) && m_fontSize > 0)
        font.setPointSizeF(m_fontSize);
    return font;
}

const EditorTheme &AppSettings::currentTheme() const
{
    for (const EditorTheme &theme : EditorTheme::all()) {
        if (theme.id == m_themeID)
            return theme;
    }
    return EditorTheme::standard();
}

QString AppSettings::generateAPIToken()
{
    QByteArray bytes(24, Qt::Uninitialized);
    auto *generator = QRandomGenerator::system();
    for (char &byte : bytes)
        byte = char(generator->bounded(256));
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}
