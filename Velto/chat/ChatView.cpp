#include "Velto/chat/ChatView.h"

#include "Velto/chat/GrowingTextEdit.h"
#include "Velto/chat/MessageBubble.h"
#include "core/ai/AIClient.h"
#include "platform/Clock.h"
#include "platform/Icons.h"
#include "platform/L10n.h"

#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>

namespace {

const QColor accentBlue(0, 122, 255);
const QColor inactiveGray(142, 142, 147);

// A bundled symbol drawn in one colour (the bundled ones are drawn in a neutral gray).
QIcon tintedSymbol(const QString &name, const QColor &color, int size, qreal ratio)
{
    QFile file(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
    if (!file.open(QIODevice::ReadOnly))
        return Icons::symbol(name);
    QByteArray svg = file.readAll();
    svg.replace("#555", color.name().toLatin1());
    svg.replace("width=\"24\" height=\"24\"",
                QStringLiteral("width=\"%1\" height=\"%1\"").arg(int(size * ratio)).toLatin1());
    QPixmap pixmap;
    if (!pixmap.loadFromData(svg, "SVG"))
        return Icons::symbol(name);
    pixmap.setDevicePixelRatio(ratio);
    return QIcon(pixmap);
}

QFont captionFont(const QWidget *widget)
{
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

struct DocumentAction
{
    AIAction action;
    const char *title; // a key, or the label itself when it has no dot
};
constexpr DocumentAction documentActions[] = {
    {AIAction::proofread, "chat.proofread"}, {AIAction::shorten, "chat.shorten"},
    {AIAction::expand, "chat.expand"},       {AIAction::rewrite, "chat.rewrite"},
    {AIAction::translate, "chat.translate"}, {AIAction::summarize, "TL;DR"},
};

QString titleOf(const char *title)
{
    const QString text = QString::fromLatin1(title);
    return text.contains(u'.') ? L10n::text(text) : text;
}

} // namespace

ChatView::ChatView(WorkspaceState &workspace, ChatViewState &actions, ChatServices services,
                   QWidget *parent)
    : QStackedWidget(parent)
{
    setMinimumWidth(minimumWidth);
    // Built before the controller, which may take a pending action at once.
    addWidget(buildNotice());
    addWidget(buildConversation());

    if (!services.clock) {
        m_ownClock = std::make_unique<Clock>();
        services.clock = m_ownClock.get();
    }
    m_scrollTimer = services.clock->createTimer([this] { scrollToEnd(); });
    m_controller = new ChatController(workspace, actions, std::move(services), this);
    connect(m_controller, &ChatController::configuredChanged, this, &ChatView::showPage);
    connect(m_controller, &ChatController::messageAppended, this, &ChatView::addBubble);
    connect(m_controller, &ChatController::lastMessageChanged, this, &ChatView::updateLastBubble);
    connect(m_controller, &ChatController::pendingResultChanged, this, &ChatView::rebuildApplyBar);
    connect(m_controller, &ChatController::streamingChanged, this, &ChatView::updateControls);
    for (auto changed : {&ChatController::documentChanged, &ChatController::inputChanged})
        connect(m_controller, changed, this, &ChatView::updateControls);
    connect(m_controller, &ChatController::inputChanged, this, [this] {
        if (m_input->toPlainText() != m_controller->input())
            m_input->setPlainText(m_controller->input());
    });
    connect(m_input, &QPlainTextEdit::textChanged, this,
            [this] { m_controller->setInput(m_input->toPlainText()); });
    connect(m_input, &GrowingTextEdit::submitted, m_controller, &ChatController::send);
    connect(m_send, &QToolButton::clicked, m_controller, &ChatController::send);

    // An action taken during construction already made its messages.
    for (int i = 0; i < m_controller->messages().size(); ++i)
        addBubble(i);
    rebuildApplyBar();
    updateControls();
    showPage();
}

ChatView::~ChatView() = default;

QWidget *ChatView::buildNotice()
{
    m_notice = new QWidget(this);
    auto *layout = new QVBoxLayout(m_notice);
    layout->setSpacing(12);
    layout->addStretch(1);

    auto *icon = new QLabel(m_notice);
    // A tertiary gray between text and background; the placeholder colour carries alpha, which
    // the symbol's drawing does not take.
    const QColor text = palette().color(QPalette::WindowText);
    const QColor window = palette().color(QPalette::Window);
    const QColor tertiary((text.red() + 2 * window.red()) / 3,
                          (text.green() + 2 * window.green()) / 3,
                          (text.blue() + 2 * window.blue()) / 3);
    icon->setPixmap(tintedSymbol(QStringLiteral("key"), tertiary, 32, devicePixelRatioF())
                        .pixmap(QSize(32, 32)));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);

    auto *message = new QLabel(L10n::text(QStringLiteral("chat.apiKeyMissing")), m_notice);
    QFont headline = message->font();
    headline.setBold(true);
    message->setFont(headline);
    message->setWordWrap(true);
    message->setAlignment(Qt::AlignCenter);
    message->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(message);

    m_openSettings = new QPushButton(L10n::text(QStringLiteral("chat.openSettings")), m_notice);
    m_openSettings->setFlat(true);
    m_openSettings->setCursor(Qt::PointingHandCursor);
    m_openSettings->setFont(captionFont(this));
    m_openSettings->setStyleSheet(
        QStringLiteral("QPushButton { color: palette(link); border: none; "
                       "text-decoration: underline; }"));
    connect(m_openSettings, &QPushButton::clicked, this,
            [this] { m_controller->openAISettings(); });
    layout->addWidget(m_openSettings, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return m_notice;
}

QWidget *ChatView::buildConversation()
{
    m_conversation = new QWidget(this);
    auto *layout = new QVBoxLayout(m_conversation);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildActionBar());
    layout->addWidget(divider(m_conversation));

    m_list = new QScrollArea(m_conversation);
    m_list->setWidgetResizable(true);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget(m_list);
    m_listLayout = new QVBoxLayout(content);
    m_listLayout->setContentsMargins(12, 12, 12, 12);
    m_listLayout->setSpacing(12);
    m_listLayout->addStretch(1);
    m_list->setWidget(content);
    layout->addWidget(m_list, 1);

    layout->addWidget(divider(m_conversation));
    layout->addWidget(buildInputRow());
    return m_conversation;
}

QWidget *ChatView::buildActionBar()
{
    auto *bar = new QWidget(m_conversation);
    auto *grid = new QGridLayout(bar);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setSpacing(6);
    int index = 0;
    for (const DocumentAction &entry : documentActions) {
        auto *button = new QToolButton(bar);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setIcon(Icons::symbol(AIActions::icon(entry.action)));
        button->setIconSize(QSize(14, 14));
        button->setText(titleOf(entry.title));
        button->setFont(captionFont(this));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        const AIAction action = entry.action;
        connect(button, &QToolButton::clicked, this,
                [this, action] { m_controller->runActionOnDocument(action); });
        grid->addWidget(button, index / 3, index % 3);
        m_actionButtons.append(button);
        ++index;
    }
    for (int column = 0; column < 3; ++column)
        grid->setColumnStretch(column, 1);
    return bar;
}

QWidget *ChatView::buildInputRow()
{
    auto *row = new QWidget(m_conversation);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    m_input = new GrowingTextEdit(row);
    m_input->setPlaceholderText(L10n::text(QStringLiteral("chat.placeholder")));
    layout->addWidget(m_input, 1, Qt::AlignVCenter);
    m_send = new QToolButton(row);
    m_send->setAutoRaise(true);
    m_send->setIconSize(QSize(22, 22));
    layout->addWidget(m_send, 0, Qt::AlignVCenter);
    return row;
}

void ChatView::showPage()
{
    setCurrentWidget(m_controller->isConfigured() ? m_conversation : m_notice);
}

QList<MessageBubble *> ChatView::bubbles() const
{
    QList<MessageBubble *> list;
    for (const auto &bubble : m_bubbles) {
        if (bubble)
            list.append(bubble);
    }
    return list;
}

void ChatView::addBubble(int index)
{
    auto *bubble = new MessageBubble(m_controller->messages().at(index), m_list->widget());
    // Before the apply bar (if any) and the closing stretch.
    m_listLayout->insertWidget(int(m_bubbles.size()), bubble);
    m_bubbles.append(bubble);
    scheduleScroll();
}

void ChatView::updateLastBubble()
{
    // While a reply streams only its bubble changes.
    if (!m_bubbles.isEmpty() && m_bubbles.last())
        m_bubbles.last()->setContent(m_controller->messages().last().content());
}

void ChatView::rebuildApplyBar()
{
    if (m_applyBar) {
        // Possibly from one of its own buttons.
        m_applyBar->hide();
        m_listLayout->removeWidget(m_applyBar);
        m_applyBar->deleteLater();
        m_applyBar = nullptr;
    }
    const std::optional<QString> reply = m_controller->pendingResult();
    if (!reply)
        return;

    auto *bar = new QFrame(m_list->widget());
    bar->setObjectName(QStringLiteral("actionbar"));
    const QColor accent = palette().color(QPalette::Highlight);
    bar->setStyleSheet(QStringLiteral("QFrame#actionbar { background: rgba(%1, %2, %3, 0.08); "
                                      "border-radius: 8px; }")
                           .arg(accent.red())
                           .arg(accent.green())
                           .arg(accent.blue()));
    auto *layout = new QVBoxLayout(bar);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    auto *title = new QLabel(L10n::text(QStringLiteral("chat.actionBarTitle")), bar);
    title->setFont(captionFont(this));
    title->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(title);

    auto button = [this, bar](const char *key, std::function<void()> action) {
        auto *b = new QPushButton(L10n::text(QLatin1String(key)), bar);
        b->setObjectName(QLatin1String(key));
        b->setFont(captionFont(this));
        connect(b, &QPushButton::clicked, this, std::move(action));
        return b;
    };
    // Every apply button takes the reply the bar was built with.
    auto applying = [this, reply = *reply](void (ChatController::*apply)(const QString &)) {
        return [this, apply, reply] { (m_controller->*apply)(reply); };
    };
    auto *first = new QHBoxLayout;
    first->setSpacing(6);
    QPushButton *replace = button("chat.replaceDoc", applying(&ChatController::replaceDocument));
    replace->setStyleSheet(QStringLiteral("QPushButton { background: palette(highlight); "
                                          "color: palette(highlighted-text); border: none; "
                                          "border-radius: 5px; padding: 4px 10px; }"));
    first->addWidget(replace);
    first->addWidget(button("chat.appendEnd", applying(&ChatController::appendToDocument)));
    first->addStretch(1);
    layout->addLayout(first);

    auto *second = new QHBoxLayout;
    second->setSpacing(6);
    second->addWidget(button("chat.newDoc", applying(&ChatController::newDocumentFromResult)));
    second->addWidget(button("chat.retry", [this] { m_controller->retry(); }));
    second->addStretch(1);
    QPushButton *discard = button("chat.discard", [this] { m_controller->discardResult(); });
    discard->setFlat(true);
    discard->setStyleSheet(QStringLiteral("QPushButton { color: red; }"));
    second->addWidget(discard);
    layout->addLayout(second);

    m_listLayout->insertWidget(int(m_bubbles.size()), bar);
    m_applyBar = bar;
    scheduleScroll();
}

QPushButton *ChatView::applyButton(const QString &key) const
{
    return m_applyBar ? m_applyBar->findChild<QPushButton *>(key) : nullptr;
}

void ChatView::updateControls()
{
    const bool enabled = m_controller->canRunDocumentActions();
    for (QToolButton *button : std::as_const(m_actionButtons))
        button->setEnabled(enabled);

    const bool streaming = m_controller->isStreaming();
    const bool active = streaming || !m_controller->input().isEmpty();
    m_send->setIcon(tintedSymbol(streaming ? QStringLiteral("stop.fill")
                                           : QStringLiteral("arrow.up.circle.fill"),
                                 active ? accentBlue : inactiveGray, 22, devicePixelRatioF()));
    const QString name
        = L10n::text(streaming ? QStringLiteral("chat.stop") : QStringLiteral("chat.send"));
    m_send->setToolTip(name);
    m_send->setAccessibleName(name);
    m_send->setEnabled(m_controller->canSend());
}

void ChatView::scheduleScroll()
{
    if (m_scrollTimer->isActive())
        return;
    m_scrollTimer->start(std::chrono::milliseconds(scrollDelayMs));
}

void ChatView::scrollToEnd()
{
    QWidget *target = m_applyBar ? static_cast<QWidget *>(m_applyBar.data())
                                 : (m_bubbles.isEmpty() ? nullptr : m_bubbles.last().data());
    if (!target)
        return;
    // The target's bottom at the bottom of the view.
    m_list->widget()->layout()->activate();
    QScrollBar *bar = m_list->verticalScrollBar();
    const int bottom = target->geometry().bottom() + m_listLayout->contentsMargins().bottom();
    bar->setValue(std::clamp(bottom - m_list->viewport()->height() + 1, 0, bar->maximum()));
}
