#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AppSettings;
class Clock;
class DebugServer;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextEdit;
class StatusDot;

// The API tab: the local API's switch with the listener's state, its port, its token (shown,
// copied, renewed), the MCP client configuration for the bridge program and the docs link.
// The switch, port and token are settings written at once; the tab itself keeps only the two
// short-lived "copied" states of its copy buttons.
class APISettingsTab : public QWidget
{
    Q_OBJECT
public:
    // Runs the call once after the delay (the "copied" feedback ends this way).
    using DelayedCall = std::function<void(std::chrono::milliseconds, std::function<void()>)>;

    struct Services
    {
        AppSettings *settings = nullptr;
        DebugServer *server = nullptr;
        // Where velto-mcp-server is installed; empty: beside the running executable.
        QString programDirectory;
        DelayedCall delay; // unset: a timer of the clock
        std::function<void(const QUrl &)> openURL; // unset: the default browser
        Clock *clock = nullptr; // for the timer when no delay is handed in; unset: Qt timers
    };

    explicit APISettingsTab(const Services &services, QWidget *parent = nullptr);
    ~APISettingsTab() override;

    static constexpr std::chrono::milliseconds copiedDuration {1500};

    // The MCP client configuration that starts the bridge with the API's port and token.
    static QString mcpConfigJSON(const QString &bridgePath, qint64 port, const QString &token);
    // The port typed into the field: an optional sign and decimal digits, within 1–65535.
    static std::optional<quint16> parsePort(const QString &text);

    // The configuration as shown and copied: the bridge beside this program, the stored port
    // and token (also when the listener runs on another port until Apply).
    QString mcpConfig() const;
    bool copiedToken() const { return m_copiedToken; }
    bool copiedMCP() const { return m_copiedMCP; }

    QCheckBox *enableSwitch() const { return m_enable; }
    StatusDot *statusDot() const { return m_dot; }
    QLabel *statusLabel() const { return m_status; }
    QLineEdit *portField() const { return m_port; }
    QPushButton *applyButton() const { return m_apply; }
    QLabel *tokenLabel() const { return m_token; }
    QPushButton *copyTokenButton() const { return m_copyToken; }
    QPushButton *newTokenButton() const { return m_newToken; }
    QTextEdit *mcpText() const { return m_mcpText; }
    QPushButton *copyMCPButton() const { return m_copyMCP; }
    QPushButton *docsButton() const { return m_docs; }

private:
    void setEnabledByUser(bool enabled);
    void editPort(const QString &text);
    void finishPortEdit();
    void apply();
    void copyToPasteboard(const QString &text, bool APISettingsTab::*flag);
    void showStatus();
    void showSettings();
    void showCopyTitles();

    AppSettings &m_settings;
    DebugServer &m_server;
    QString m_programDirectory;
    std::unique_ptr<Clock> m_ownClock; // when neither a delay nor a clock was handed in
    DelayedCall m_delay;
    std::function<void(const QUrl &)> m_openURL;
    bool m_copiedToken = false;
    bool m_copiedMCP = false;

    QCheckBox *m_enable;
    StatusDot *m_dot;
    QLabel *m_status;
    QLineEdit *m_port;
    QPushButton *m_apply;
    QLabel *m_token;
    QPushButton *m_copyToken;
    QPushButton *m_newToken;
    QTextEdit *m_mcpText;
    QPushButton *m_copyMCP;
    QPushButton *m_docs;
};
