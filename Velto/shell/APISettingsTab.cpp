#include "Velto/shell/APISettingsTab.h"

#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "Velto/shell/SettingsLayout.h"
#include "Velto/shell/ShellStyle.h"
#include "platform/Clock.h"
#include "platform/Icons.h"
#include "platform/L10n.h"

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTextEdit>
#include <QVBoxLayout>

#include <cmath>

using namespace ShellStyle;

namespace {

constexpr int tokenWidth = 200;

// Monospaced system font at a size given for a 13 pt base, like the other text styles.
QFont monospaced(double points, const QFont &base)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const double basePoints = base.pointSizeF() > 0 ? base.pointSizeF() : 10;
    font.setPointSizeF(basePoints * points / 13.0);
    return font;
}

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// Read-only, selectable text that breaks anywhere (the configuration has no spaces) and is
// exactly as tall as its lines, so the whole text shows inside the tab's width.
class WrappedText : public QTextEdit
{
public:
    explicit WrappedText(QWidget *parent)
        : QTextEdit(parent)
    {
        setReadOnly(true);
        setAcceptRichText(false);
        setFrameShape(QFrame::NoFrame);
        setLineWrapMode(QTextEdit::WidgetWidth);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        document()->setDocumentMargin(6);
        setStyleSheet(QStringLiteral("QTextEdit { background-color: rgba(142, 142, 147, 20);"
                                     " border: none; border-radius: 4px; }"));
        connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged,
                this, &WrappedText::fit);
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QTextEdit::resizeEvent(event);
        fit();
    }

private:
    void fit() { setFixedHeight(int(std::ceil(document()->size().height())) + 2 * frameWidth()); }
};

} // namespace

APISettingsTab::APISettingsTab(const Services &services, QWidget *parent)
    : QWidget(parent)
    , m_settings(*services.settings)
    , m_server(*services.server)
    , m_programDirectory(services.programDirectory)
    , m_delay(services.delay)
    , m_openURL(services.openURL)
{
    if (!m_delay) {
        Clock *clock = services.clock;
        if (!clock) {
            m_ownClock = std::make_unique<Clock>();
            clock = m_ownClock.get();
        }
        m_delay = [this, clock](std::chrono::milliseconds after, std::function<void()> call) {
            clock->singleShot(after, this, std::move(call));
        };
    }
    if (!m_openURL)
        m_openURL = [](const QUrl &url) { QDesktopServices::openUrl(url); };

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);
    auto *content = new QWidget(scroll);
    scroll->setWidget(content);
    // The page shows through, as on the other tabs (setWidget turns the filling on).
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    QVBoxLayout *column = SettingsLayout::column(content, 16);

    // Switch and listener state.
    QHBoxLayout *enableRow
        = SettingsLayout::labelledRow(column, QStringLiteral("settings.apiEnabled"), content);
    m_enable = new QCheckBox(content);
    m_enable->setAccessibleName(L10n::text(QStringLiteral("settings.apiEnabled")));
    enableRow->addWidget(m_enable);
    enableRow->addStretch();
    m_dot = new StatusDot(8, content);
    m_status = SettingsLayout::caption({}, content);
    m_status->setWordWrap(false);
    enableRow->addWidget(m_dot);
    enableRow->addSpacing(6 - enableRow->spacing());
    enableRow->addWidget(m_status);

    QList<QLabel *> labels(2);
    QHBoxLayout *portRow
        = SettingsLayout::labelledRow(column, QStringLiteral("Port"), content, &labels[0]);
    m_port = new QLineEdit(content);
    m_port->setFixedWidth(80);
    m_port->setAccessibleName(labels[0]->text());
    m_apply = new QPushButton(L10n::text(QStringLiteral("settings.apply")), content);
    portRow->addWidget(m_port);
    portRow->addWidget(m_apply);
    portRow->addStretch();

    QHBoxLayout *tokenRow
        = SettingsLayout::labelledRow(column, QStringLiteral("Token"), content, &labels[1]);
    tokenRow->setSpacing(6);
    m_token = new QLabel(content);
    m_token->setFont(monospaced(11, font()));
    m_token->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_token->setTextFormat(Qt::PlainText);
    m_token->setMaximumWidth(tokenWidth);
    m_copyToken = new QPushButton(content);
    m_newToken = new QPushButton(L10n::text(QStringLiteral("settings.new")), content);
    tokenRow->addWidget(m_token);
    tokenRow->addWidget(m_copyToken);
    tokenRow->addWidget(m_newToken);
    tokenRow->addStretch();
    SettingsLayout::alignLabels(labels);

    column->addWidget(divider(content));
    column->addWidget(
        SettingsLayout::heading(L10n::text(QStringLiteral("settings.mcpConfig")), content));
    m_mcpText = new WrappedText(content);
    m_mcpText->setFont(monospaced(9.5, font()));
    column->addWidget(m_mcpText);
    m_copyMCP = new QPushButton(content);
    auto *copyRow = new QHBoxLayout;
    copyRow->addWidget(m_copyMCP);
    copyRow->addStretch();
    column->addLayout(copyRow);

    column->addWidget(divider(content));
    auto *docsRow = new QHBoxLayout;
    docsRow->addWidget(
        SettingsLayout::heading(L10n::text(QStringLiteral("settings.apiEndpoints")), content));
    docsRow->addStretch();
    m_docs = new QPushButton(Icons::symbol(QStringLiteral("doc.text.magnifyingglass")),
                             L10n::text(QStringLiteral("API-Dokumentation")), content);
    docsRow->addWidget(m_docs);
    column->addLayout(docsRow);
    column->addWidget(
        SettingsLayout::caption(L10n::text(QStringLiteral("settings.apiDocsHint")), content));
    column->addStretch();

    // Only what the user does is written; showing the tab or following the settings never is.
    connect(m_enable, &QCheckBox::clicked, this, &APISettingsTab::setEnabledByUser);
    connect(m_port, &QLineEdit::textEdited, this, &APISettingsTab::editPort);
    connect(m_port, &QLineEdit::editingFinished, this, &APISettingsTab::finishPortEdit);
    connect(m_apply, &QPushButton::clicked, this, &APISettingsTab::apply);
    connect(m_copyToken, &QPushButton::clicked, this,
            [this] { copyToPasteboard(m_settings.apiToken(), &APISettingsTab::m_copiedToken); });
    connect(m_newToken, &QPushButton::clicked, this,
            [this] { m_settings.setApiToken(AppSettings::generateAPIToken()); });
    connect(m_copyMCP, &QPushButton::clicked, this,
            [this] { copyToPasteboard(mcpConfig(), &APISettingsTab::m_copiedMCP); });
    connect(m_docs, &QPushButton::clicked, this, [this] {
        m_openURL(QUrl(QStringLiteral("http://localhost:%1/api/docs").arg(m_settings.apiPort())));
    });

    connect(&m_settings, &AppSettings::apiEnabledChanged, this, &APISettingsTab::showSettings);
    connect(&m_settings, &AppSettings::apiPortChanged, this, &APISettingsTab::showSettings);
    connect(&m_settings, &AppSettings::apiTokenChanged, this, &APISettingsTab::showSettings);
    connect(&m_server, &DebugServer::activePortChanged, this, &APISettingsTab::showStatus);
    showSettings();
    showCopyTitles();
}

APISettingsTab::~APISettingsTab() = default;

QString APISettingsTab::mcpConfigJSON(const QString &bridgePath, qint64 port, const QString &token)
{
    // A JSON writer, so a path or token with quotes or backslashes still gives valid JSON. Keys
    // come out sorted, which is also the order the configuration lists them in.
    const QJsonObject env {{QStringLiteral("VELTO_API_PORT"), QString::number(port)},
                           {QStringLiteral("VELTO_API_TOKEN"), token}};
    const QJsonObject server {{QStringLiteral("command"), bridgePath},
                              {QStringLiteral("env"), env}};
    const QJsonObject root {
        {QStringLiteral("mcpServers"), QJsonObject {{QStringLiteral("velto"), server}}}};
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Compact));
}

std::optional<quint16> APISettingsTab::parsePort(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    if (!number.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    // Port 0 would listen on a port chosen by the system that nothing else knows of.
    if (!ok || value < 1 || value > 65535)
        return std::nullopt;
    return quint16(value);
}

QString APISettingsTab::mcpConfig() const
{
    const QString directory = m_programDirectory.isEmpty() ? QCoreApplication::applicationDirPath()
                                                           : m_programDirectory;
    return mcpConfigJSON(directory + QStringLiteral("/velto-mcp-server"), m_settings.apiPort(),
                         m_settings.apiToken());
}

void APISettingsTab::setEnabledByUser(bool enabled)
{
    m_settings.setApiEnabled(enabled);
    if (enabled)
        m_server.start();
    else
        m_server.stop();
}

void APISettingsTab::editPort(const QString &text)
{
    if (const auto port = parsePort(text))
        m_settings.setApiPort(*port);
}

void APISettingsTab::finishPortEdit()
{
    // Whatever was typed, the field now shows the port that is stored; a port the user settled
    // on moves a running API there.
    m_port->setText(QString::number(m_settings.apiPort()));
    if (m_settings.apiEnabled() && m_server.activePort() != m_settings.apiPort())
        m_server.startListener(m_settings.apiPort());
}

void APISettingsTab::apply()
{
    // With the switch off the API stays off: Apply only moves a running API.
    if (m_settings.apiEnabled())
        m_server.startListener(m_settings.apiPort());
}

void APISettingsTab::copyToPasteboard(const QString &text, bool APISettingsTab::*flag)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
    this->*flag = true;
    showCopyTitles();
    // Every press ends its own feedback; a second press does not prolong the first.
    m_delay(copiedDuration, [self = QPointer(this), flag] {
        if (!self)
            return;
        self->*flag = false;
        self->showCopyTitles();
    });
}

void APISettingsTab::showStatus()
{
    const quint16 port = m_server.activePort();
    m_dot->setColor(port != 0 ? Colors::green : Colors::red);
    m_status->setText(port != 0 ? QStringLiteral("Port ") + QString::number(port)
                                : L10n::text(QStringLiteral("settings.stopped")));
}

void APISettingsTab::showSettings()
{
    m_enable->setChecked(m_settings.apiEnabled());
    // While the field holds another spelling of the stored port ("+8080"), the user's text stays.
    if (parsePort(m_port->text()) != m_settings.apiPort())
        m_port->setText(QString::number(m_settings.apiPort()));
    // One line of at most 200 points; the whole token is a click on the copy button away.
    m_token->setText(
        m_token->fontMetrics().elidedText(m_settings.apiToken(), Qt::ElideRight, tokenWidth));
    m_token->setToolTip(m_settings.apiToken());
    const QString config = mcpConfig();
    if (m_mcpText->toPlainText() != config)
        m_mcpText->setPlainText(config);
    showStatus();
}

void APISettingsTab::showCopyTitles()
{
    const auto title = [](bool copied) {
        return L10n::text(copied ? QStringLiteral("settings.copied")
                                 : QStringLiteral("settings.copy"));
    };
    m_copyToken->setText(title(m_copiedToken));
    m_copyMCP->setText(m_copiedMCP ? title(true) : L10n::text(QStringLiteral("settings.copyMCP")));
}
