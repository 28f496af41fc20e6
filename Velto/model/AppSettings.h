#pragma once

#include "Velto/model/EditorTheme.h"

#include <QFont>
#include <QObject>
#include <QString>

class Defaults;

// The process-wide editor and API settings. Every persisted setting is written to the store the
// moment it is set, also when the value did not change; the …Changed signal fires only on a real
// change. Focus mode is never stored.
class AppSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString themeID READ themeID WRITE setThemeID NOTIFY themeIDChanged)
    Q_PROPERTY(QString fontName READ fontName WRITE setFontName NOTIFY fontNameChanged)
    Q_PROPERTY(double fontSize READ fontSize WRITE setFontSize NOTIFY fontSizeChanged)
    Q_PROPERTY(bool isFocusMode READ isFocusMode WRITE setIsFocusMode NOTIFY isFocusModeChanged)
    Q_PROPERTY(bool isWideMode READ isWideMode WRITE setIsWideMode NOTIFY isWideModeChanged)
    Q_PROPERTY(bool apiEnabled READ apiEnabled WRITE setApiEnabled NOTIFY apiEnabledChanged)
    Q_PROPERTY(qint64 apiPort READ apiPort WRITE setApiPort NOTIFY apiPortChanged)
    Q_PROPERTY(QString apiToken READ apiToken WRITE setApiToken NOTIFY apiTokenChanged)

public:
    // The application's instance (its root builds and owns it), for callers not handed one.
    static AppSettings &shared();
    // Reads every setting from the store; generates and stores a token when none is stored.
    explicit AppSettings(Defaults &defaults, QObject *parent = nullptr);

    static constexpr qint64 defaultAPIPort = 42932;
    static constexpr double defaultFontSize = 14;
    // The font name that selects the proportional system font.
    static inline const QString systemFontName = QStringLiteral("System");

    QString themeID() const { return m_themeID; }
    void setThemeID(const QString &id);
    QString fontName() const { return m_fontName; }
    void setFontName(const QString &name);
    double fontSize() const { return m_fontSize; }
    void setFontSize(double size);
    bool isFocusMode() const { return m_isFocusMode; }
    void setIsFocusMode(bool on);
    bool isWideMode() const { return m_isWideMode; }
    void setIsWideMode(bool on);
    bool apiEnabled() const { return m_apiEnabled; }
    void setApiEnabled(bool enabled);
    qint64 apiPort() const { return m_apiPort; }
    void setApiPort(qint64 port);
    QString apiToken() const { return m_apiToken; }
    void setApiToken(const QString &token);

    // fontName at fontSize; "System" is the proportional system font, and a name that is not
    // installed falls back to the monospaced system font.
    QFont editorFont() const;
    // The built-in theme named by themeID, else the standard theme.
    const EditorTheme &currentTheme() const;

    // 24 bytes from the system's secure random source as 32 URL-safe Base64 characters.
    static QString generateAPIToken();

signals:
    void themeIDChanged();
    void fontNameChanged();
    void fontSizeChanged();
    void isFocusModeChanged();
    void isWideModeChanged();
    void apiEnabledChanged();
    void apiPortChanged();
    void apiTokenChanged();

private:
    Defaults &m_defaults;
    QString m_themeID;
    QString m_fontName;
    double m_fontSize = defaultFontSize;
    bool m_isFocusMode = false;
    bool m_isWideMode = false;
    bool m_apiEnabled = false;
    qint64 m_apiPort = defaultAPIPort;
    QString m_apiToken;
};
