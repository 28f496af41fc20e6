#include "Velto/chat/MessageBubble.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>

MessageBubble::MessageBubble(const ChatMessage &message, QWidget *parent)
    : QWidget(parent)
    , m_label(new QLabel(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    // Text from a model or a user is never markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    QFont font = m_label->font();
    font.setPixelSize(13);
    m_label->setFont(font);
    const bool user = message.role() == ChatMessage::Role::user;
    m_label->setStyleSheet(QStringLiteral("QLabel { padding: 10px; border-radius: 10px; "
                                          "background: %1; }")
                               .arg(user ? QStringLiteral("rgba(0, 122, 255, 0.12)")
                                         : QStringLiteral("rgba(142, 142, 147, 0.08)")));
    m_keepsMargin = message.role() != ChatMessage::Role::system;
    setContent(message.content());

    auto spacer
        = [] { return new QSpacerItem(margin, 0, QSizePolicy::Expanding, QSizePolicy::Minimum); };
    if (user)
        layout->addSpacerItem(spacer());
    layout->addWidget(m_label);
    if (message.role() == ChatMessage::Role::assistant)
        layout->addSpacerItem(spacer());
}

void MessageBubble::setContent(const QString &content)
{
    m_label->setText(content.isEmpty() ? QStringLiteral("...") : content);
    fitLabel();
}

void MessageBubble::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitLabel();
}

void MessageBubble::fitLabel()
{
    const int available = width() - (m_keepsMargin ? margin : 0);
    if (available <= 0)
        return;
    int widest = 0;
    const QFontMetrics metrics(m_label->font());
    for (const QString &line : m_label->text().split(u'\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    // The padding of 10 on either side, and what the label's own text layout keeps free.
    const int needed = widest + 2 * 10 + 2 * metrics.averageCharWidth();
    m_label->setFixedWidth(std::min(needed, available));
}
